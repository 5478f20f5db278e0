// The command line on Windows: the text as the system hands it over, the
// program's name, as typed or quoted, and the rest unsplit.
#include <windows.h>

#include <string>

#include "platform/command_line.h"

std::string platform_command_line_text(int, char**, const char*) { return GetCommandLineA(); }

const char* platform_sole_argument(int, char**, const char* rest_of_text) { return rest_of_text; }

command_line_notes platform_command_line_notes() {
  return {"\"open comm COM3\" drives the machine on serial port COM3.\n",
          "\n"
          "Everything after the program's name is the script path, blanks included:\n"
          "do not put it in quotes.\n"};
}
