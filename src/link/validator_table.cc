#include "link/validator_table.h"

#include "common/run_events.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

const char builtin_validator_text[] =
    "/^xyz_home /,/^X$/; "
    "/^x_home /,/\"/1000$/; "
    "/^y_home /,/\"/1000$/; "
    "/^z_home /,/\"/1000$/; "
    "/^x_move /,/^X$/; "
    "/^y_move /,/^X$/; "
    "/^z_move /,/^X$/; "
    "/^xyz_linear_move /,/^X$/; "
    "/^set_milli_secs_per_step /,/^X$/; "
    "/^get_native_axis_scale /,/\"/1000$/; "
    "/^cutout_blank /,/^X$/; "
    "/^clear_xy_envelope /,/^X$/; "
    "/^clear_xy_rect /,/^X$/; "
    "/^xyz_linear_move_steps /,/^X$/; "
    "/^x_home_steps /,/ steps$/; "
    "/^y_home_steps /,/ steps$/; "
    "/^z_home_steps /,/ steps$/; "
    "/^x_move_steps /,/^X$/; "
    "/^y_move_steps /,/^X$/; "
    "/^z_move_steps /,/^X$/";
static_assert(sizeof builtin_validator_text == validator_text_size);

namespace {

struct validator_state {
  validator_entry* table = nullptr;
  int count = -1;
  // For each entry, the first two letters (folded) of a start-anchored
  // command pattern, '\0' where the pattern is shorter or not anchored: a
  // lookup passes over entries that cannot match without comparing them.
  char (*lead)[2] = nullptr;
};
validator_state validators;

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_folded(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

const char* anchor_word(bool anchored) { return anchored ? "has a" : "has no"; }

}  // namespace

bool pattern_matches(const char* text, const match_pattern& pattern) {
  if (pattern.anchored_start) {
    // Anchored at the start (and perhaps the end): compared from the start
    // without measuring either text first, since a command lookup mostly
    // ends at the first letters.
    const char* t = text;
    const char* q = pattern.text;
    for (; *q; ++t, ++q)
      if (*t != *q && (*t == '\0' || fold(*t) != fold(*q))) return false;
    return !pattern.anchored_end || *t == '\0';
  }
  const size_t text_length = std::strlen(text);
  const size_t pattern_length = std::strlen(pattern.text);
  if (pattern.anchored_end)
    return text_length >= pattern_length &&
           equal_folded(text + text_length - pattern_length, pattern.text, pattern_length);
  // Unanchored: tried at each starting position of the text, so an empty
  // text never matches, not even an empty pattern.
  for (size_t start = 0; start < text_length; ++start) {
    if (text_length - start < pattern_length) break;
    if (equal_folded(text + start, pattern.text, pattern_length)) return true;
  }
  return false;
}

void free_validator_table() {
  delete[] validators.table;
  delete[] validators.lead;
  validators.table = nullptr;
  validators.lead = nullptr;
  validators.count = -1;
}

bool reload_validator_table(char* text_buffer) {
  free_validator_table();
  return parse_validator_table(text_buffer);
}

namespace {

/// Parses one entry "/^command$/,/^response$/" in place into its two
/// patterns. False for an entry that is not of that form (it is skipped).
bool parse_entry(char* entry, match_pattern& command_pattern, match_pattern& response_pattern) {
  if (entry[0] != '/') return false;
  char* command = entry + 1;
  command_pattern = {command, false, false};
  if (*command == '^') {
    command_pattern.anchored_start = true;
    command_pattern.text = ++command;
  }
  char* separator = std::strstr(command, "/,/");
  if (!separator) return false;
  *separator = '\0';
  char* response = separator + 3;
  size_t command_length = static_cast<size_t>(separator - command);
  if (command_length > 0 && command[command_length - 1] == '$') {
    command_pattern.anchored_end = true;
    command[command_length - 1] = '\0';
  }
  response_pattern = {response, false, false};
  if (*response == '^') {
    response_pattern.anchored_start = true;
    response_pattern.text = ++response;
  }
  size_t response_length = std::strlen(response);
  if (response_length == 0 || response[response_length - 1] != '/') return false;
  response[--response_length] = '\0';
  if (response_length > 0 && response[response_length - 1] == '$') {
    response_pattern.anchored_end = true;
    response[response_length - 1] = '\0';
  }
  return true;
}

void trace_entry(int index, const validator_entry& entry) {
  if (!trace_printed()) return;
  std::printf("Command %d %s starting caret, %s ending dollar sign, = \"%s\"\n", index,
              anchor_word(entry.command.anchored_start), anchor_word(entry.command.anchored_end),
              entry.command.text);
  std::printf("Validator %d %s starting caret, %s ending dollar sign, = \"%s\"\n", index,
              anchor_word(entry.response.anchored_start), anchor_word(entry.response.anchored_end),
              entry.response.text);
}

}  // namespace

bool parse_validator_table(char* text_buffer) {
  int slots = 1;
  for (const char* p = std::strstr(text_buffer, "; "); p; p = std::strstr(p + 2, "; ")) ++slots;

  validator_entry* table = new (std::nothrow) validator_entry[static_cast<size_t>(slots)];
  char(*lead)[2] = new (std::nothrow) char[static_cast<size_t>(slots)][2];
  if (!table || !lead) {
    delete[] table;
    delete[] lead;
    return false;
  }

  table[0].entry_text = text_buffer;
  int slot = 1;
  for (char* p = std::strstr(text_buffer, "; "); p; p = std::strstr(p + 2, "; ")) {
    *p = '\0';
    table[slot++].entry_text = p + 2;
  }

  int accepted = 0;
  for (int i = 0; i < slots; ++i) {
    char* entry = const_cast<char*>(table[i].entry_text);
    table[i].entry_text = nullptr;
    match_pattern command_pattern{}, response_pattern{};
    if (!parse_entry(entry, command_pattern, response_pattern)) continue;
    lead[accepted][0] = lead[accepted][1] = '\0';
    if (command_pattern.anchored_start && command_pattern.text[0] != '\0') {
      lead[accepted][0] = fold(command_pattern.text[0]);
      lead[accepted][1] = fold(command_pattern.text[1]);
    }
    validator_entry& stored = table[accepted];
    stored.entry_text = nullptr;
    stored.command = command_pattern;
    stored.response = response_pattern;
    trace_entry(accepted, stored);
    ++accepted;
  }
  validators.table = table;
  validators.lead = lead;
  validators.count = accepted;
  return true;
}

int validator_count() { return validators.count; }

const validator_entry* validator_at(int index) {
  if (index < 0 || index >= validators.count) return nullptr;
  return &validators.table[index];
}

const match_pattern* find_validator(const char* command) {
  const char first = fold(command[0]);
  const char second = first ? fold(command[1]) : '\0';
  for (int i = 0; i < validators.count; ++i) {
    const char* lead = validators.lead[i];
    if (lead[0] && (lead[0] != first || (lead[1] && lead[1] != second))) continue;
    if (pattern_matches(command, validators.table[i].command)) return &validators.table[i].response;
  }
  return nullptr;
}

const match_pattern home_reply_pattern{"\"/1000", false, true};
const match_pattern reposition_reply_pattern{"X", true, true};

const match_pattern* expected_reply(const char* command) {
  // Homing sends the home commands and the scale query with the home reply
  // pattern of its own; every G-code command goes by the table.
  if (std::strncmp(command, "get_native_axis_scale ", 22) == 0) return &home_reply_pattern;
  for (const char* home : {"x_home ", "y_home ", "z_home "})
    if (std::strncmp(command, home, 7) == 0) return &home_reply_pattern;
  return find_validator(command);
}

size_t shortest_reply_length(const match_pattern& pattern) { return std::strlen(pattern.text); }
