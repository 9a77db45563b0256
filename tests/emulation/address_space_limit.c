/* Caps the address space at what the process uses plus 128 MiB, as a test
 * of the readers' behaviour short of memory does, then asks for 400 MB.
 * Natively, and on a device, malloc fails and this exits 0. Under
 * user-mode emulation the emulator keeps RLIMIT_AS for itself (the guest's
 * setrlimit succeeds but is not applied, as the limit would constrain the
 * emulator's own memory): the allocation succeeds and this exits 1. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

int main(void) {
  long pages = 0;
  FILE* statm = fopen("/proc/self/statm", "r");
  if (statm == NULL || fscanf(statm, "%ld", &pages) != 1)
    return 3;
  fclose(statm);
  rlim_t cap = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + ((rlim_t)128 << 20);
  struct rlimit limit = {cap, cap};
  if (setrlimit(RLIMIT_AS, &limit) != 0)
    return 4;
  void* frame = malloc((size_t)400 << 20);
  if (frame != NULL) {
    memset(frame, 1, 4096);
    fprintf(stderr, "address_space_limit: 400 MB allocated past a %lu-byte cap\n",
            (unsigned long)cap);
  }
  return frame == NULL ? 0 : 1;
}
