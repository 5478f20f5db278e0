#include "restart/millresume_cli.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "runner/run_journal.h"

const char* const millresume_usage =
    "Usage: millresume SCRIPT LINE\n"
    "       millresume SCRIPT --continue\n"
    "\n"
    "Goes on with a milling job on the machine from LINE, after a power failure\n"
    "or a stop. LINE is N, line N of SCRIPT, or FILE:N, line N of a file that\n"
    "SCRIPT includes, FILE written as its include line writes it (FILE may hold\n"
    "':'; the number follows the last one).\n"
    "\n"
    "Every line before LINE is read without moving anything: open comm, the\n"
    "depth, the pauses and includes take effect, G-code lines are followed but\n"
    "not sent, and dwells do not wait. At LINE the machine is homed and asked\n"
    "for its scales, then driven to where the job stands before LINE: X, then\n"
    "Y, with Z at the top of its travel, then Z down last. From LINE on the job\n"
    "runs as millrun runs it, recoveries included.\n"
    "\n"
    "Writes KelCodeOutput.txt (the home lines, the approach moves, then the\n"
    "commands from LINE on) and EnvelopeReport.txt (the envelope since that\n"
    "homing) in the working directory, and keeps RunJournal.txt anew.\n"
    "\n"
    "With --continue, LINE comes from RunJournal.txt, the journal every run on\n"
    "the machine keeps in the working directory: the first line that started\n"
    "but did not finish, else the line after the last one finished. A journal\n"
    "of another script, or of a file changed since, is refused.\n"
    "\n"
    "  --continue  go on from where RunJournal.txt says the job stands\n"
    "  --help      show this text\n"
    "  --version   show the version\n"
    "\n"
    "Exit code 0 when the job ran to its end; 1 when a line failed or the run\n"
    "was stopped, and when LINE was never reached or no \"open comm\" came\n"
    "before it, or --continue finds no journal or refuses it (then nothing is\n"
    "sent); 2 for a usage error.\n";

namespace {

/// A positive decimal number of digits only that fits an int.
bool read_line_number(const std::string& text, int& number) {
  if (text.empty()) return false;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return false;
  }
  if (value == 0) return false;
  number = static_cast<int>(value);
  return true;
}

}  // namespace

bool parse_restart_line(const std::string& text, restart_point& point, std::string& error) {
  const size_t colon = text.rfind(':');
  const std::string file = colon == std::string::npos ? std::string() : text.substr(0, colon);
  const std::string digits = colon == std::string::npos ? text : text.substr(colon + 1);
  int number = 0;
  if (!read_line_number(digits, number)) {
    error = "LINE \"" + text + "\" is not N or FILE:N with N a positive line number";
    return false;
  }
  if (colon != std::string::npos && file.empty()) {
    error = "LINE \"" + text + "\" names no file before the ':'";
    return false;
  }
  point.file = file;
  point.line = number;
  return true;
}

millresume_command parse_millresume_arguments(int argc, const char* const* argv) {
  millresume_command command;
  std::vector<std::string> words;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && (arg == "--help" || arg == "-h")) {
      command.help = true;
    } else if (!options_end && arg == "--continue") {
      command.from_journal = true;
    } else if (!options_end && arg == "--version") {
      command.version = true;
    } else if (!options_end && arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      command.error = "unknown option " + arg;
    } else {
      words.push_back(arg);
    }
  }
  if (command.help || command.version || !command.error.empty()) return command;
  // With --continue every word is the script's; else the last is the line.
  const size_t line_words = command.from_journal ? 0 : 1;
  if (words.size() < 1 + line_words) {
    command.error = words.empty()
                        ? (command.from_journal ? "no script given" : "no script and line given")
                        : "no line given";
    return command;
  }
  std::string script;
  for (size_t i = 0; i + line_words < words.size(); ++i) {
    if (i > 0) script += ' ';
    script += words[i];
  }
  if (script.empty()) {
    command.error = "no script given";
    return command;
  }
  if (!command.from_journal &&
      !parse_restart_line(words.back(), command.run.start_at, command.error))
    return command;
  command.run.script = script;
  return command;
}

bool script_readable(const std::string& script, std::string& why) {
  // Asked before opening: opening a FIFO would wait for a writer.
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(script, error);
  if (error) {
    why = error.message();
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    why = std::filesystem::is_directory(status) ? "it is a folder" : "it is not a regular file";
    return false;
  }
  std::FILE* file = std::fopen(script.c_str(), "rb");
  if (!file) {
    why = std::strerror(errno);
    return false;
  }
  std::fclose(file);
  return true;
}

namespace {

bool lookup_file_hash(const std::string& path, uint64_t& hash) {
  return hash_script_file(path, hash);
}

}  // namespace

bool continue_from_journal(millresume_command& command, std::string& message) {
  std::FILE* file = std::fopen(run_journal_name, "rb");
  if (!file) {
    message = std::string("no ") + run_journal_name +
              " in the working directory: no run on the machine to continue (" +
              std::strerror(errno) + ")";
    return false;
  }
  std::string text;
  char buffer[8192];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  std::fclose(file);
  const journal_choice choice = choose_continue_line(text, command.run.script, lookup_file_hash);
  if (!choice.ok) {
    message = "cannot continue: " + choice.why;
    return false;
  }
  command.run.start_at = choice.point;
  message = "continuing at " + choice.place + ": " + choice.why;
  return true;
}
