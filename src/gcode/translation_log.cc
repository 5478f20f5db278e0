#include "gcode/translation_log.h"

#include <cstdio>

const char* const translation_log_name = "KelCodeOutput.txt";

namespace {
std::FILE* log_file = nullptr;
}  // namespace

void open_translation_log() {
  close_translation_log();
  log_file = std::fopen(translation_log_name, "w");
}

bool translation_log_open() { return log_file != nullptr; }

void log_command(const char* command) { log_commands(&command, 1); }

void log_commands(const char* const* commands, int count) {
  if (!log_file) return;
  // The log is best effort: a failed write does not stop the run.
  for (int i = 0; i < count; ++i) {
    std::fputs(commands[i], log_file);
    std::fputc('\n', log_file);
  }
  std::fflush(log_file);
}

void close_translation_log() {
  if (!log_file) return;
  std::fclose(log_file);
  log_file = nullptr;
}
