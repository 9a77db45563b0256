/* Runs itself again with execv, as a death test in a fresh process does.
 * Natively, and on a device, the child prints "child" and the parent exits
 * 0. Under user-mode emulation without a binfmt_misc handler for the
 * program's architecture, the kernel cannot load it: execv fails with
 * ENOEXEC ("Exec format error") and this exits 1. */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc > 1) {
    puts("child");
    return 0;
  }
  pid_t pid = fork();
  if (pid == 0) {
    char* args[] = {argv[0], "child", NULL};
    execv(argv[0], args);
    fprintf(stderr, "reexec_self: execv: %s\n", strerror(errno));
    _exit(1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
