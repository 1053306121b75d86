/* Runs one request and reports what it cost: its wall time, CPU time (user
   and system) and peak resident memory. The benchmark starts the pages
   through this small static program because a process's peak memory counts
   the pages of the process it was forked from: forked from here, that is a
   few pages; forked from the benchmark, it would be the benchmark's memory.
   usage: bench-spawn STDIN STDOUT DIR PROGRAM [ARG...]   (environment passed on)
   prints: wall_us cpu_us peak_rss_kb exit_status */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

static long long now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

int main(int argc, char **argv) {
  if (argc < 5) return 2;
  long long t0 = now_us();
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(argv[1], O_RDONLY), out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || err < 0 || chdir(argv[3]) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execve(argv[4], argv + 4, environ);
    _exit(127);
  }
  int status = 0;
  struct rusage ru;
  if (pid < 0 || wait4(pid, &status, 0, &ru) < 0) return 1;
  long long wall = now_us() - t0;
  long long cpu = (long long)(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000000 +
                  ru.ru_utime.tv_usec + ru.ru_stime.tv_usec;
  printf("%lld %lld %ld %d\n", wall, cpu, ru.ru_maxrss, status);
  return 0;
}
