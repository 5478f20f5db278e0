// The command line on POSIX: the program name and its arguments become one
// command-line text, as a desktop system hands it over.
#include <cstring>
#include <string>

#include "platform/command_line.h"

std::string platform_command_line_text(int argc, char** argv, const char* fallback_name) {
  // A program name with blanks is quoted so that it ends where it should.
  std::string text;
  const char* name = argc > 0 ? argv[0] : fallback_name;
  if (std::strpbrk(name, " \t")) {
    text += '"';
    text += name;
    text += '"';
  } else {
    text += name;
  }
  for (int i = 1; i < argc; ++i) {
    text += ' ';
    text += argv[i];
  }
  return text;
}

const char* platform_sole_argument(int argc, char** argv, const char*) {
  return argc == 2 ? argv[1] : "";
}

command_line_notes platform_command_line_notes() { return {"", ""}; }
