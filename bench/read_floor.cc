// Reading only: the file line by line, nothing written.   read_floor FILE
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::FILE* in = std::fopen(argv[1], "r");
  if (!in) return 1;
  char line[2048];
  long n = 0;
  while (std::fgets(line, sizeof line, in)) ++n;
  std::fclose(in);
  std::printf("%ld\n", n);
  return 0;
}
