// The table of expected replies: for each machine command, which reply line
// from the controller means success. Built once per run from a text of
// entries "/^command$/,/^response$/" joined by "; ".
#pragma once

#include <cstddef>

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

/// The reply every home command and scale query expects: its last six
/// characters a double quote and "/1000. The validator table is not consulted
/// for them.
extern const match_pattern home_reply_pattern;
/// The reply every repositioning move of a recovery (and the approach of a
/// resumed job) expects: X alone, in either case.
extern const match_pattern reposition_reply_pattern;

/// Which reply `command` expects on the run's own road: the home commands
/// and the scale query take home_reply_pattern, every other command its
/// validator entry (null when none matches).
const match_pattern* expected_reply(const char* command);

/// The length of the shortest reply `pattern` accepts: its text.
size_t shortest_reply_length(const match_pattern& pattern);
