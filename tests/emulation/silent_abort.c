/* A child that aborts writes nothing: natively, and on a device, its
 * standard error stays empty and this exits 0. Under user-mode emulation
 * the emulator reports the guest's death on the process's own standard
 * error ("qemu: uncaught target signal 6 (Aborted) - core dumped"), so
 * output that a death test matches to its end gains a line; this prints
 * what the child wrote and exits 1. */
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

int main(void) {
  int fds[2];
  if (pipe(fds) != 0)
    return 3;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    abort();
  }
  close(fds[1]);
  char text[256];
  ssize_t n = read(fds[0], text, sizeof(text) - 1);
  waitpid(pid, NULL, 0);
  if (n <= 0)
    return 0;
  text[n] = '\0';
  fprintf(stderr, "silent_abort: the aborting child wrote: %s", text);
  return 1;
}
