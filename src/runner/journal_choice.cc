// Reading RunJournal.txt back: where `millresume SCRIPT --continue` goes on.
#include <cstdlib>

#include "runner/run_journal.h"

namespace {

/// A "start", "done" or "from" row: DEPTH, then for start and done the three
/// positions, then PATH:LINE.
struct journal_row {
  int depth = 0;
  std::string path;
  int line = 0;
};

/// Reads `numbers` numbers (the depth, then any positions), then PATH:LINE.
bool read_row(const std::string& rest, int numbers, journal_row& row) {
  size_t at = 0;
  for (int i = 0; i < numbers; ++i) {
    const size_t blank = rest.find(' ', at);
    if (blank == std::string::npos || blank == at) return false;
    char* end = nullptr;
    const long value = std::strtol(rest.c_str() + at, &end, 10);
    if (end != rest.c_str() + blank) return false;
    if (i == 0) row.depth = static_cast<int>(value);
    at = blank + 1;
  }
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon <= at) return false;
  char* end = nullptr;
  const long line = std::strtol(rest.c_str() + colon + 1, &end, 10);
  if (*end != '\0' || line <= 0 || line > 2147483646 || row.depth < 1) return false;
  row.path = rest.substr(at, colon - at);
  row.line = static_cast<int>(line);
  return true;
}

journal_choice chosen(const journal_row& row, int line, const std::string& why) {
  journal_choice c;
  c.ok = true;
  if (row.depth > 1) c.point.file = row.path;
  c.point.line = line;
  c.place = row.path + ":" + std::to_string(line);
  c.why = why;
  return c;
}

journal_choice refused(const std::string& why) {
  journal_choice c;
  c.why = why;
  return c;
}

/// Whether the file a "file" row names still has the hash the row gives.
bool file_unchanged(const std::string& rest, file_hash_lookup lookup, std::string& path) {
  const size_t blank = rest.find(' ');
  if (blank != 16) return false;
  path = rest.substr(blank + 1);
  char* end = nullptr;
  const uint64_t recorded = std::strtoull(rest.c_str(), &end, 16);
  if (end != rest.c_str() + blank) return false;
  uint64_t now = 0;
  return lookup(path, now) && now == recorded;
}

}  // namespace

journal_choice choose_continue_line(const std::string& journal, const std::string& script,
                                    file_hash_lookup lookup) {
  const std::string name = run_journal_name;
  bool header = false, script_seen = false, ended = false;
  bool have_start = false, have_done = false, have_from = false;
  journal_row start, done, from;
  size_t at = 0;
  for (int number = 1; at < journal.size(); ++number) {
    size_t end = journal.find('\n', at);
    if (end == std::string::npos) end = journal.size();  // a row cut by the power failure
    std::string row = journal.substr(at, end - at);
    at = end + 1;
    if (!row.empty() && row.back() == '\r') row.pop_back();
    const size_t blank = row.find(' ');
    const std::string word = row.substr(0, blank);
    const std::string rest = blank == std::string::npos ? std::string() : row.substr(blank + 1);
    const std::string where = name + ":" + std::to_string(number);
    if (!header) {
      if (row != "millrun-journal 1") return refused(name + " is not a journal of millrun's");
      header = true;
    } else if (word == "script") {
      if (rest != script)
        return refused(name + " is the journal of " + rest + ", not of " + script);
      script_seen = true;
    } else if (word == "file") {
      std::string path;
      if (!file_unchanged(rest, lookup, path))
        return refused(path + " has changed since the run that " + name + " records (" + where +
                       ")");
    } else if (word == "start" || word == "done" || word == "from") {
      journal_row r;
      if (!read_row(rest, word == "from" ? 1 : 4, r)) {
        if (end == journal.size()) break;  // the last row, cut short: never written whole
        return refused(where + ": unreadable row \"" + row + "\"");
      }
      if (word == "start") {
        // A line started after one that never finished: the first stands.
        if (have_start) break;
        start = r;
        have_start = true;
      } else if (word == "done") {
        done = r;
        have_done = true;
        have_start = false;
      } else {
        from = r;
        have_from = true;
      }
    } else if (word == "end") {
      ended = true;
    } else if (!row.empty()) {
      return refused(where + ": unreadable row \"" + row + "\"");
    }
  }
  if (!script_seen) return refused(name + " names no script");
  if (ended) return refused(name + " records a job that ran to its end: nothing to continue");
  if (have_start) return chosen(start, start.line, "it started but did not finish");
  if (have_done)
    return chosen(done, done.line + 1,
                  "the line after " + done.path + ":" + std::to_string(done.line) +
                      ", the last one finished");
  if (have_from) return chosen(from, from.line, "the run that took the job up there cut nothing");
  return refused(name + " records no line sent to the machine: run the job from its start");
}
