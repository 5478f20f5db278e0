// Runs a command and reports its wall time, peak resident memory and CPU
// time:
//   measure [--cwd DIR] [--out FILE] -- COMMAND ARGS...
// prints "seconds max_rss_kib exit_code cpu_seconds" (CPU: user + system).
// Standard output of the command goes to FILE (default /dev/null).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  const char* cwd = nullptr;
  const char* out = "/dev/null";
  int i = 1;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      ++i;
      break;
    }
    if (std::strcmp(argv[i], "--cwd") == 0 && i + 1 < argc)
      cwd = argv[++i];
    else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc)
      out = argv[++i];
  }
  if (i >= argc) {
    std::fprintf(stderr, "usage: measure [--cwd DIR] [--out FILE] -- COMMAND...\n");
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    if (cwd && chdir(cwd) != 0) _exit(126);
    int fd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, 1);
    execvp(argv[i], argv + i);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("%.6f %ld %d %.6f\n", seconds, usage.ru_maxrss,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1, cpu);
  return 0;
}
