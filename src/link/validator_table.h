// The table of expected replies: for each machine command, which reply line
// from the controller means success. Built once per run from a text of
// entries "/^command$/,/^response$/" joined by "; ".
#pragma once

/// A pattern text with its anchors, matched without regard to letter case.
struct match_pattern {
  const char* text;
  bool anchored_start;
  bool anchored_end;
};

struct validator_entry {
  const char* entry_text;  // the raw entry while the table is built; null after
  match_pattern command;
  match_pattern response;
};

/// The built-in validator text: 20 entries, 504 characters.
extern const char builtin_validator_text[];
constexpr int validator_text_size = 505;

/// Releases any table, then parses `text_buffer` in place (it must outlive
/// the table). False only when the table cannot be allocated.
bool reload_validator_table(char* text_buffer);
bool parse_validator_table(char* text_buffer);
void free_validator_table();

/// -1 while there is no table, else the number of accepted entries.
int validator_count();
/// The entry at `index`, or null outside 0 .. validator_count() - 1.
const validator_entry* validator_at(int index);

/// The response pattern of the first entry whose command pattern matches
/// `command`, or null when none does.
const match_pattern* find_validator(const char* command);

/// Whether `text` matches `pattern` (ASCII letters compared without case).
bool pattern_matches(const char* text, const match_pattern& pattern);
