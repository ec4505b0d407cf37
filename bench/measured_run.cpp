// Runs a command and prints its CPU time (user + system, seconds) and peak
// resident memory (KiB) on one line of standard error, prefixed "measured:".
// The benchmarks start every program through it: a process forked from the
// benchmark's Python would report Python's own peak memory as its floor.
//
//   measured_run program [args...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: measured_run program [args...]\n", stderr);
    return 2;
  }
  pid_t pid = fork();
  if (pid == 0) {
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 2;
  double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::fprintf(stderr, "measured: %.6f %ld\n", cpu, usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
