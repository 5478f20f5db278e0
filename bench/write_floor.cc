// The floor of a dry run: read a file line by line and write one short
// line per input line to a file, flushing after each, as millrun does for
// its log.   write_floor FILE OUT
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::FILE* in = std::fopen(argv[1], "r");
  std::FILE* out = std::fopen(argv[2], "w");
  if (!in || !out) return 1;
  char line[2048];
  long n = 0;
  while (std::fgets(line, sizeof line, in)) {
    std::fputs("x_move_steps r 607\n", out);
    std::fflush(out);
    ++n;
  }
  std::fclose(out);
  std::fclose(in);
  return n > 0 ? 0 : 1;
}
