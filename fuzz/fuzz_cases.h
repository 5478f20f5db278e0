// The three fuzz cases, kept free of libFuzzer so that the unit tests can
// replay saved inputs through exactly the same code: a whole dry run of a
// script, the validator table and its pattern matching, and the controller's
// replies through the command exchange and homing. Each case returns an
// empty text when every invariant held, or a description of the first one
// that did not.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/message.h"
#include "gcode/axis_model.h"
#include "gcode/command_composer.h"
#include "link/command_exchange.h"
#include "link/port_opening.h"
#include "link/validator_table.h"
#include "common/run_events.h"
#include "runner/run_program.h"
#include "runner/run_state.h"
#include "runner/script_interpreter.h"
#include "runner/script_reader.h"
#include "supervision/envelope_report.h"
#include "supervision/homing.h"
#include "supervision/job_estimate.h"
#include "supervision/progress.h"
#include "supervision/recovery.h"
#include "support/fake_device.h"

namespace fuzz_cases {

// ---------------------------------------------------------------------------
// Shared helpers

/// Splits `bytes` on `separator` into at most `max_parts` parts; the last
/// part keeps the rest, separators included.
inline std::vector<std::string> split_parts(const std::string& bytes, const std::string& separator,
                                            size_t max_parts) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() + 1 < max_parts) {
    size_t at = bytes.find(separator, start);
    if (at == std::string::npos) break;
    parts.push_back(bytes.substr(start, at - start));
    start = at + separator.size();
  }
  parts.push_back(bytes.substr(start));
  return parts;
}

inline char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string folded(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = fold(c);
  return out;
}

inline bool contains_folded(const std::string& text, const std::string& lower_word) {
  return folded(text).find(lower_word) != std::string::npos;
}

/// The matching rule of a pattern, written independently of the library:
/// ASCII letters without case, every other byte exactly.
inline bool reference_match(const std::string& text, const std::string& pattern, bool start,
                            bool end) {
  const std::string t = folded(text), p = folded(pattern);
  if (start && end) return t == p;
  if (start) return t.size() >= p.size() && t.compare(0, p.size(), p) == 0;
  if (end) return t.size() >= p.size() && t.compare(t.size() - p.size(), p.size(), p) == 0;
  // Tried at each starting position of the text: an empty text has none.
  return !t.empty() && t.find(p) != std::string::npos;
}

inline void ignore_message(const char*, const char*) {}

/// What every fuzz target does once: the trace goes nowhere and messages are
/// not shown, so the fuzzer's own output stays readable and nothing waits.
inline void quiet_process() {
  if (!std::freopen("/dev/null", "w", stdout)) std::fclose(stdout);
  set_message_observer(&ignore_message);
}

/// A fresh folder under $TMPDIR (or /tmp) for the dry runs of one process.
inline std::string make_scratch_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/millrun-fuzz-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) {
    std::perror("millrun fuzz: mkdtemp");
    std::abort();
  }
  return name.data();
}

inline bool write_bytes(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

inline bool read_bytes(const std::string& path, std::string& bytes) {
  bytes.clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char block[4096];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.append(block, n);
  std::fclose(f);
  return true;
}

/// The files a dry run may leave in its folder.
inline const char* const scratch_files[] = {"a.nc", "b.nc", "c.nc", "KelCodeOutput.txt",
                                            "EnvelopeReport.txt"};

inline void clear_scratch_dir(const std::string& dir) {
  for (const char* name : scratch_files) std::remove((dir + "/" + name).c_str());
}

inline void remove_scratch_dir(const std::string& dir) {
  clear_scratch_dir(dir);
  rmdir(dir.c_str());
}

/// The step record agrees with the inch record: each axis's step count is
/// the conversion of its inch position under the scale in force.
inline std::string record_problem() {
  const axis_model& model = axis_model_state();
  static const char letters[axis_count] = {'x', 'y', 'z'};
  for (int a = 0; a < axis_count; ++a) {
    int32_t steps = 0;
    if (!inches_to_steps(model.axes[a].position_in, letters[a], steps) ||
        steps != model.axes[a].position_steps)
      return std::string("axis ") + letters[a] + " stands at " +
             std::to_string(model.axes[a].position_in) + " inches but " +
             std::to_string(model.axes[a].position_steps) + " steps";
  }
  return "";
}

/// Whether every step count of a move command is a positive number (the
/// direction is in its letter). Other commands have none.
inline bool step_counts_positive(const std::string& command) {
  size_t counts;
  if (command.rfind("xyz_linear_move_steps ", 0) == 0) {
    size_t letters = command.find(' ', 22);
    counts = letters == std::string::npos ? letters : command.find(' ', letters + 1);
  } else if (command.find("_move_steps ") == 1) {
    counts = command.find(' ', 13);
  } else {
    return true;
  }
  if (counts == std::string::npos) return false;
  std::string list = command.substr(counts + 1) + ",";
  for (size_t start = 0, comma; (comma = list.find(',', start)) != std::string::npos;
       start = comma + 1) {
    std::string count = list.substr(start, comma - start);
    if (count.empty() || count.size() > 10 || count[0] == '0' ||
        count.find_first_not_of("0123456789") != std::string::npos)
      return false;
  }
  return true;
}

/// The first three lines of the envelope report for the record as it stands.
inline std::string expected_report_head() {
  const axis_model& model = axis_model_state();
  static const char* const names[axis_count] = {"X", "Y", "Z"};
  std::string head;
  for (int a = 0; a < axis_count; ++a) {
    char line[128];
    // Eight digits, a minus sign before them when negative.
    std::snprintf(line, sizeof line, "%s: MIN = %.8ld steps, MAX = %.8ld steps\n", names[a],
                  static_cast<long>(model.axes[a].envelope_min),
                  static_cast<long>(model.axes[a].envelope_max));
    head += line;
  }
  return head;
}

inline std::string scales_problem() {
  const axis_model& model = axis_model_state();
  for (int a = 0; a < axis_count; ++a)
    if (model.scales[a].numerator <= 0 || model.scales[a].denominator <= 0)
      return "axis " + std::to_string(a) +
             " has a scale that is not positive: " + std::to_string(model.scales[a].numerator) +
             "/" + std::to_string(model.scales[a].denominator);
  return "";
}

/// A line of the stream that begins with this byte makes every later write
/// to the device that received it fail; the rest of the line is its reply.
constexpr char writes_fail_marker = '\x7f';

/// A controller that answers each command with the next line of a byte
/// stream (up to and including its line feed), and with nothing once the
/// stream is used up; or, without a stream, like a healthy controller.
struct reply_stream {
  std::string bytes;
  size_t next = 0;
  bool healthy = true;

  std::string answer(const std::string& command, fake_device& device) {
    if (healthy) return healthy_controller(command);
    if (next >= bytes.size()) return "";
    size_t end = bytes.find('\n', next);
    end = end == std::string::npos ? bytes.size() : end + 1;
    std::string reply = bytes.substr(next, end - next);
    next = end;
    if (!reply.empty() && reply[0] == writes_fail_marker) {
      device.fail_writes(true);
      reply.erase(0, 1);
    }
    return reply;
  }
  bool used_up() const { return healthy || next >= bytes.size(); }
};

/// A fake device whose replies come from `stream`, which must outlive it.
inline fake_device* new_stream_device(reply_stream*& stream) {
  auto self = std::make_shared<fake_device*>(nullptr);
  auto* device = new fake_device([&stream, self](const std::string& command) {
    return stream ? stream->answer(command, **self) : std::string();
  });
  *self = device;
  return device;
}

// ---------------------------------------------------------------------------
// fuzz_dry_run: the input is up to three script files and, optionally, the
// output of the controller behind any "open comm" line.

/// Separates a.nc, b.nc, c.nc and the controller's output in a dry-run input.
inline const std::string dry_run_separator = "\n--\n";
/// More includes than this could multiply the lines run beyond any time
/// limit (a file including another one hundred times, which includes a third
/// one hundred times...): such inputs are skipped, not run.
constexpr int dry_run_include_limit = 6;

inline reply_stream* active_stream = nullptr;

/// Every "open comm" of a fuzzed script opens a fake controller, never a
/// device or a file: the fuzzer must not reach the machine's ports or write
/// files by name.
inline port_handle open_fake_controller(const char*, port_kind, open_disposition) {
  return new_stream_device(active_stream);
}

/// How many "include" lines `line` may hold, as the reader hands it out: a
/// line read in one piece is an include line when it begins with the word
/// after its blanks; a longer one arrives in pieces that may begin anywhere,
/// so every occurrence counts.
inline int include_lines_in(const std::string& lower_line) {
  constexpr size_t one_piece = 2000;  // below the reader's 2047 bytes a piece
  if (lower_line.size() < one_piece) {
    size_t first = lower_line.find_first_not_of(" \t");
    return first != std::string::npos && lower_line.compare(first, 7, "include") == 0 ? 1 : 0;
  }
  int count = 0;
  for (size_t at = lower_line.find("include"); at != std::string::npos;
       at = lower_line.find("include", at + 1))
    ++count;
  return count;
}

/// Inputs that a dry run must not be given, because the program would do
/// what it is told: sleep (the LPC2000 reset pulse; dwells are turned off),
/// read any file by path (an include with a '/', such as /dev/zero), or
/// include so often that the run takes minutes. They are skipped.
inline bool dry_run_input_is_safe(const std::vector<std::string>& scripts) {
  int includes = 0;
  for (const std::string& script : scripts) {
    const std::string lower = folded(script);
    if (lower.find("lpc2000") != std::string::npos) return false;
    size_t line_start = 0;
    while (line_start <= lower.size()) {
      size_t line_end = lower.find_first_of("\r\n", line_start);
      if (line_end == std::string::npos) line_end = lower.size();
      const std::string line = lower.substr(line_start, line_end - line_start);
      int in_line = include_lines_in(line);
      if (in_line > 0 && line.find('/') != std::string::npos) return false;
      includes += in_line;
      line_start = line_end + 1;
    }
  }
  return includes <= dry_run_include_limit;
}

/// The status line's terminal during a fuzzed run: always there, `columns`
/// wide, with a clock that moves a quarter second at every reading so that
/// the line is redrawn and its pace measured. What it is given is checked.
struct fake_terminal_record {
  int columns = 0;
  uint64_t now = 0;
  uint64_t draws = 0;
  std::string problem;
};
inline fake_terminal_record fake_terminal_state;

inline const progress_terminal fake_terminal{
    [] { return true; },
    [] { return fake_terminal_state.columns; },
    [](const char* text, size_t length) {
      fake_terminal_record& t = fake_terminal_state;
      ++t.draws;
      if (!t.problem.empty()) return;
      if (std::strlen(text) != length)
        t.problem = "a status line whose length is not its text's";
      else if (t.columns > 0 && length >= static_cast<size_t>(t.columns))
        t.problem = "a status line of " + std::to_string(length) + " characters on " +
                    std::to_string(t.columns) + " columns";
      else if (std::strchr(text, '\n') || std::strchr(text, '\r'))
        t.problem = "a status line with a line end";
    },
    [] {},
    [](const char*) {},
    [] { return fake_terminal_state.now += 250; },
};

/// The pieces the script reader hands out for `path`, counted by reading.
inline int64_t pieces_read(const char* path) {
  std::unique_ptr<script_reader> reader(new script_reader);
  if (!open_script_reader(*reader, path)) return 0;
  char piece[2048];
  int64_t count = 0;
  while (read_script_line(*reader, piece, sizeof piece) > 0) {
    skip_rest_of_script_line(*reader);  // a long line is one line
    ++count;
  }
  close_script_reader(*reader);
  return count;
}

/// Checks the files and the state a finished run left.
inline std::string dry_run_problem(bool healthy_controller, const job_estimate& job_time) {
  const axis_model& model = axis_model_state();
  std::string log, report;
  if (validator_count() != -1) return "the validator table was not released";
  if (translation_log_open()) return "the translation log is still open after the report";
  if (!read_bytes("EnvelopeReport.txt", report)) return "no EnvelopeReport.txt";
  if (std::count(report.begin(), report.end(), '\n') != 8)
    return "EnvelopeReport.txt does not have eight lines:\n" + report;
  if (report.rfind(expected_report_head(), 0) != 0)
    return "EnvelopeReport.txt does not show the envelope:\n" + report +
           "\nexpected it to begin with:\n" + expected_report_head();
  if (recovery_state().depth != 0) return "a recovery is still counted as under way";
  if (healthy_controller && recovery_state().resume_count != 0)
    return "a healthy controller needed a recovery";
  std::string problem = scales_problem();
  if (problem.empty()) problem = record_problem();
  for (int a = 0; problem.empty() && a < axis_count; ++a)
    if (model.axes[a].envelope_min > model.axes[a].envelope_max)
      problem = "axis " + std::to_string(a) + " has an envelope whose minimum exceeds its maximum";
  if (!problem.empty()) return problem;

  const double estimate = job_time.total_ms();
  if (!std::isfinite(estimate) || estimate < 0.0)
    return "the machine-time estimate is " + std::to_string(estimate);
  if (count_script_lines("a.nc") != pieces_read("a.nc"))
    return "the progress count of a.nc is " + std::to_string(count_script_lines("a.nc")) +
           " lines, the reader hands out " + std::to_string(pieces_read("a.nc"));
  if (!fake_terminal_state.problem.empty()) return fake_terminal_state.problem;

  // Every command the composer logs has an entry in the built-in table and
  // moves by positive step counts.
  char validator_text[validator_text_size];
  std::memcpy(validator_text, builtin_validator_text, validator_text_size);
  if (!read_bytes("KelCodeOutput.txt", log)) return "";
  if (!reload_validator_table(validator_text)) return "the built-in table was not built";
  size_t start = 0;
  while (problem.empty() && start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) {
      problem = "the translation log ends in the middle of a line";
      break;
    }
    std::string command = log.substr(start, end - start);
    if (!find_validator(command.c_str()))
      problem = "a logged command has no validator: \"" + command + "\"";
    else if (!step_counts_positive(command))
      problem = "a logged command moves a step count that is not positive: \"" + command + "\"";
    start = end + 1;
  }
  free_validator_table();
  return problem;
}

/// Runs the program on a.nc, as "millrun a.nc" would, in `dir`, which
/// becomes the working directory for the run: the progress line and the
/// machine-time estimate are on (the line drawn on a fake terminal), and
/// dwells are counted but not waited for.
inline std::string run_dry_run_case(const uint8_t* data, size_t size, const std::string& dir) {
  std::vector<std::string> parts =
      split_parts(std::string(reinterpret_cast<const char*>(data), size), dry_run_separator, 4);
  std::vector<std::string> scripts(parts.begin(),
                                   parts.begin() + std::min<size_t>(parts.size(), 3));
  if (!dry_run_input_is_safe(scripts)) return "";

  clear_scratch_dir(dir);
  for (size_t i = 0; i < scripts.size(); ++i)
    if (!write_bytes(dir + "/" + scratch_files[i], scripts[i]))
      return "cannot write " + dir + "/" + scratch_files[i];

  char old_cwd[4096];
  if (!getcwd(old_cwd, sizeof old_cwd)) return "cannot read the working directory";
  if (chdir(dir.c_str()) != 0) return "cannot enter " + dir;

  reply_stream stream;
  if (parts.size() == 4) {
    stream.healthy = false;
    stream.bytes = parts[3];
  }
  active_stream = &stream;
  fake_terminal_state = fake_terminal_record{};
  fake_terminal_state.columns = size % 4 == 0 ? 0 : static_cast<int>(1 + size % 97);

  // A script may fail in any way; the run must still end soundly.
  run_options options;
  options.script = "a.nc";
  options.dwells_wait = false;
  options.opener = &open_fake_controller;
  job_estimate estimate;
  progress_line progress(estimate, fake_terminal);
  options.observers = {&estimate, &progress};
  run_program(options);
  std::string problem = dry_run_problem(stream.healthy, estimate);

  reset_run_state();
  active_stream = nullptr;
  if (chdir(old_cwd) != 0 && problem.empty()) problem = "cannot return to the working directory";
  return problem;
}

// ---------------------------------------------------------------------------
// fuzz_validator: the input is a validator text, then (after a zero byte) a
// pattern, then (after another zero byte) a text to match.

struct reference_entry {
  std::string command, response;
  bool command_start = false, command_end = false, response_start = false, response_end = false;
};

/// Parses a validator text by its notation, independently of the library.
inline std::vector<reference_entry> reference_parse(const std::string& text) {
  std::vector<std::string> raw;
  size_t start = 0;
  for (size_t at = text.find("; "); at != std::string::npos; at = text.find("; ", at + 2)) {
    raw.push_back(text.substr(start, at - start));
    start = at + 2;
  }
  raw.push_back(text.substr(start));

  std::vector<reference_entry> entries;
  for (const std::string& e : raw) {
    if (e.empty() || e[0] != '/') continue;
    reference_entry r;
    size_t pos = 1;
    if (pos < e.size() && e[pos] == '^') {
      r.command_start = true;
      ++pos;
    }
    size_t separator = e.find("/,/", pos);
    if (separator == std::string::npos) continue;
    r.command = e.substr(pos, separator - pos);
    if (!r.command.empty() && r.command.back() == '$') {
      r.command_end = true;
      r.command.pop_back();
    }
    r.response = e.substr(separator + 3);
    if (!r.response.empty() && r.response[0] == '^') {
      r.response_start = true;
      r.response.erase(0, 1);
    }
    if (r.response.empty() || r.response.back() != '/') continue;
    r.response.pop_back();
    if (!r.response.empty() && r.response.back() == '$') {
      r.response_end = true;
      r.response.pop_back();
    }
    entries.push_back(r);
  }
  return entries;
}

inline std::string pattern_problem(const std::string& text, const match_pattern& pattern) {
  bool got = pattern_matches(text.c_str(), pattern);
  bool want = reference_match(text, pattern.text, pattern.anchored_start, pattern.anchored_end);
  if (got == want) return "";
  return std::string("pattern \"") + pattern.text + "\" (start " +
         (pattern.anchored_start ? "anchored" : "free") + ", end " +
         (pattern.anchored_end ? "anchored" : "free") + ") " + (got ? "matched" : "did not match") +
         " \"" + text + "\"";
}

inline std::string run_validator_case(const uint8_t* data, size_t size) {
  std::vector<std::string> parts =
      split_parts(std::string(reinterpret_cast<const char*>(data), size), std::string(1, '\0'), 3);
  const std::string& text = parts[0];
  const std::string pattern = parts.size() > 1 ? parts[1] : std::string();
  // The last part may hold further zero bytes; a C text ends at the first.
  const std::string subject = parts.size() > 2 ? std::string(parts[2].c_str()) : text;

  std::string problem;
  // Every anchor combination against the independent rule.
  for (int anchors = 0; problem.empty() && anchors < 4; ++anchors) {
    match_pattern p{pattern.c_str(), (anchors & 1) != 0, (anchors & 2) != 0};
    problem = pattern_problem(subject, p);
    if (problem.empty()) problem = pattern_problem(pattern, p);  // a pattern against itself
    if (problem.empty() && !pattern_matches(pattern.c_str(), p) &&
        (anchors != 0 || !pattern.empty()))
      problem = "a pattern does not match its own text";
  }
  if (!problem.empty()) return problem;

  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  const char* const first = buffer.data();
  const char* const last = buffer.data() + buffer.size();
  size_t separators = 0;
  for (size_t at = text.find("; "); at != std::string::npos; at = text.find("; ", at + 2))
    ++separators;
  const std::vector<reference_entry> expected = reference_parse(text);

  free_validator_table();
  if (validator_count() != -1) return "a released table still counts entries";
  if (!parse_validator_table(buffer.data())) return "the table was not built";
  const int count = validator_count();
  if (count < 0 || static_cast<size_t>(count) > separators + 1)
    problem = "validator_count " + std::to_string(count) + " outside 0 .. " +
              std::to_string(separators + 1);
  else if (static_cast<size_t>(count) != expected.size())
    problem = "validator_count " + std::to_string(count) + ", the notation gives " +
              std::to_string(expected.size());
  else if (validator_at(-1) || validator_at(count))
    problem = "validator_at answers outside the table";
  for (int i = 0; problem.empty() && i < count; ++i) {
    const validator_entry* entry = validator_at(i);
    const reference_entry& want = expected[static_cast<size_t>(i)];
    if (!entry) {
      problem = "no entry at " + std::to_string(i);
    } else if (entry->entry_text) {
      problem = "entry " + std::to_string(i) + " keeps its raw text";
    } else if (entry->command.text < first || entry->command.text >= last ||
               entry->response.text < first || entry->response.text >= last) {
      problem = "entry " + std::to_string(i) + " points outside the text buffer";
    } else if (entry->command.text + std::strlen(entry->command.text) >= last ||
               entry->response.text + std::strlen(entry->response.text) >= last) {
      problem = "entry " + std::to_string(i) + " runs beyond the text buffer";
    } else if (want.command != entry->command.text || want.response != entry->response.text ||
               want.command_start != entry->command.anchored_start ||
               want.command_end != entry->command.anchored_end ||
               want.response_start != entry->response.anchored_start ||
               want.response_end != entry->response.anchored_end) {
      problem = "entry " + std::to_string(i) + " differs from its notation: command \"" +
                entry->command.text + "\", response \"" + entry->response.text + "\"";
    } else {
      problem = pattern_problem(subject, entry->command);
      if (problem.empty()) problem = pattern_problem(subject, entry->response);
      if (problem.empty()) problem = pattern_problem(pattern, entry->command);
    }
  }
  if (problem.empty()) {
    // The first entry whose command pattern matches wins.
    const match_pattern* want = nullptr;
    for (int i = 0; i < count && !want; ++i)
      if (reference_match(subject, expected[static_cast<size_t>(i)].command,
                          expected[static_cast<size_t>(i)].command_start,
                          expected[static_cast<size_t>(i)].command_end))
        want = &validator_at(i)->response;
    if (find_validator(subject.c_str()) != want) problem = "find_validator chose another entry";
  }
  free_validator_table();
  if (problem.empty() && (validator_count() != -1 || validator_at(0)))
    problem = "the released table still answers";
  return problem;
}

// ---------------------------------------------------------------------------
// fuzz_reply: the input is what the controller sends. Each command written
// releases the next line of it (up to and including its line feed); what
// is left at the end is read as reply lines directly.

constexpr int reply_command_limit = 64;

inline std::string reply_problem(reply_line line, bool accepted, const match_pattern& pattern,
                                 size_t input_size) {
  if (!line) return accepted ? "no reply line, yet accepted" : "";
  std::string text(line);
  if (text.empty()) return "an empty reply line";
  if (text.size() > input_size) return "a reply line longer than all the input";
  if (text.find_first_of("\r\n") != std::string::npos) return "a reply line holds its terminator";
  // The exchange keeps at most 64 KiB of a reply and rejects a line cut
  // there; only shorter lines are judged by their pattern.
  if (text.size() >= 64 * 1024) return "";
  if (accepted != reference_match(text, pattern.text, pattern.anchored_start, pattern.anchored_end))
    return "reply \"" + text + "\" judged wrongly against \"" + pattern.text + "\"";
  return "";
}

inline std::string run_reply_case(const uint8_t* data, size_t size) {
  reply_stream stream;
  stream.healthy = false;
  stream.bytes.assign(reinterpret_cast<const char*>(data), size);
  reply_stream* stream_pointer = &stream;

  reset_run_state();
  char validator_text[validator_text_size];
  std::memcpy(validator_text, builtin_validator_text, validator_text_size);
  if (!reload_validator_table(validator_text)) return "the built-in table was not built";

  std::string problem;
  std::unique_ptr<fake_device> owned(new_stream_device(stream_pointer));
  fake_device& device = *owned;
  const axis_model& model = axis_model_state();
  const axis_scale defaults[axis_count] = {model.scales[0], model.scales[1], model.scales[2]};

  // The first homing with a machine: three home commands, three scale queries.
  bool homed = ensure_homed(&device);
  problem = scales_problem();
  if (problem.empty() && homed != homing_state().scales_queried)
    problem = "the scales were queried although homing failed, or not although it succeeded";
  for (int a = 0; problem.empty() && !homed && a < axis_count; ++a)
    if (model.scales[a].numerator != defaults[a].numerator ||
        model.scales[a].denominator != defaults[a].denominator)
      problem = "a scale changed although homing failed";
  if (problem.empty() && homed) {
    int32_t z_steps = 0;
    if (!inches_to_steps(model.work_surface_depth, 'z', z_steps) ||
        model.axes[axis_z].position_steps != z_steps)
      problem = "Z does not stand at the home depth under the Z scale in force";
  }

  // Once a homing has succeeded, homing again sends only the home commands:
  // the scales stay.
  if (problem.empty() && homed) {
    const axis_model before = model;
    set_homed(false);
    size_t commands_before = device.commands.size();
    ensure_homed(&device);
    for (size_t i = commands_before; problem.empty() && i < device.commands.size(); ++i)
      if (device.commands[i].rfind("get_native_axis_scale", 0) == 0)
        problem = "the scales were queried twice";
    for (int a = 0; problem.empty() && a < axis_count; ++a)
      if (model.scales[a].numerator != before.scales[a].numerator ||
          model.scales[a].denominator != before.scales[a].denominator)
        problem = "a second homing changed a scale";
  }

  // Commands of every kind, each with the response pattern of its entry.
  static const char* const commands[] = {
      "x_move_steps r 607", "xyz_linear_move_steps xyz rtu 1,2,3",
      "z_home u",           "get_native_axis_scale Y",
      "y_home_steps b",     "set_milli_secs_per_step 10"};
  for (int i = 0; problem.empty() && i < reply_command_limit && !stream.used_up(); ++i) {
    const char* command = commands[static_cast<size_t>(i) % (sizeof commands / sizeof *commands)];
    const match_pattern* response = find_validator(command);
    if (!response) {
      problem = std::string("no validator for ") + command;
      break;
    }
    size_t writes_before = device.writes.size();
    size_t wire_before = device.wire.size();
    bool ok = send_and_validate(command, *response, &device);
    const bool failing = device.wire.size() == wire_before;
    if (failing) {
      // A failed write is reported and ends the exchange: no line feed after
      // it, no reply read, no success.
      if (ok || device.writes.size() != writes_before + 1 ||
          device.writes[writes_before] != command)
        problem = std::string("a failed write did not end the exchange: ") + command;
    } else if (device.writes.size() != writes_before + 2 ||
               device.writes[writes_before] != command ||
               device.writes[writes_before + 1] != "\n") {
      problem = std::string("the command went out otherwise than as its bytes and a line feed: ") +
                command;
    }
    if (failing && problem.empty()) break;  // nothing more can go out
  }

  // Whatever the controller still sends, read line by line.
  if (problem.empty()) {
    device.push_input(stream.bytes.substr(std::min(stream.next, stream.bytes.size())));
    stream.next = stream.bytes.size();
    static const match_pattern patterns[] = {
        home_reply_pattern, {"X", true, true}, {" steps", false, true}, {"X", false, false}};
    for (size_t i = 0; problem.empty() && device.pending() > 0; ++i) {
      const match_pattern& pattern = patterns[i % (sizeof patterns / sizeof *patterns)];
      size_t before = device.pending();
      bool accepted = true;
      reply_line line = read_response_line(&device, pattern, accepted);
      problem = reply_problem(line, accepted, pattern, size);
      release_reply(line);
      if (problem.empty() && device.pending() >= before) problem = "a read consumed nothing";
    }
  }
  if (problem.empty()) problem = scales_problem();
  if (problem.empty()) problem = record_problem();

  free_validator_table();
  reset_run_state();
  return problem;
}

}  // namespace fuzz_cases
