// The floor of one exchange over a pseudo-terminal: write one command line
// to the simulator's device and read its reply line, nothing else.
//   pty_floor DEVICE COUNT     prints "seconds exchanges"
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  int fd = open(argv[1], O_RDWR | O_NOCTTY);
  if (fd < 0) return 1;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  const long count = std::atol(argv[2]);
  const char command[] = "x_move_steps r 1\n";
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    if (write(fd, command, sizeof command - 1) != static_cast<ssize_t>(sizeof command - 1))
      return 1;
    // The reply up to its line feed, a byte at a time as any reader of a
    // line without framing must.
    for (;;) {
      char c;
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) return 1;
      if (read(fd, &c, 1) != 1) return 1;
      if (c == '\n') break;
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.6f %ld\n", seconds, count);
  close(fd);
  return 0;
}
