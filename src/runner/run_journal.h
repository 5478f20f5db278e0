// RunJournal.txt: what a run on a machine has cut, line by line, so that a
// job cut short by a power failure can go on from where it stood. One line
// when a G-code line's command goes out, one when its reply has come; each
// is flushed at once, like the log. A dry run keeps no journal at all.
//
// The lines, fields separated by one blank, the file name always last (it
// may hold blanks and ':'):
//   millrun-journal 1
//   script PATH                     the top-level script, as the command line names it
//   file HASH PATH                  FNV-1a 64 of a script file's bytes (16 hex digits),
//                                   the file named as its include line names it
//   from DEPTH PATH:LINE            a resumed run: where it took the job up
//   start DEPTH X Y Z PATH:LINE     the line's command goes out; X Y Z: where it starts, in steps
//   done DEPTH X Y Z PATH:LINE      its reply has come; X Y Z: where it ends
//   end                             the script ran to its end
// DEPTH is 1 for the top-level script, 2 for a file it includes, and so on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/run_events.h"
#include "runner/run_options.h"

constexpr const char* run_journal_name = "RunJournal.txt";

/// FNV-1a 64 of a file's bytes; false when it cannot be read.
bool hash_script_file(const std::string& path, uint64_t& hash);

/// Keeps the journal of one run. Created by the programs that run a job on
/// a machine; the file is made at the first command sent to a machine.
class run_journal : public run_observer {
 public:
  /// `start_at`: where a resumed run takes the job up (line 0: the start).
  explicit run_journal(const restart_point& start_at = {}) : start_at_(start_at) {}
  ~run_journal() override;
  run_journal(const run_journal&) = delete;
  run_journal& operator=(const run_journal&) = delete;

  void run_started(const char* script) override;
  void file_started(const char* path, int depth) override;
  void line_started(const line_event& e) override;
  void motion_composed(const motion_event& e) override;
  void command_issued(const command_event& e) override;
  void reply_received(const reply_event& e) override;
  void run_finished(const run_summary& summary) override;

 private:
  void open_file();
  void write_header(const std::string& path);
  void write_line(const char* word, const int32_t (&steps)[run_axis_count]);

  restart_point start_at_;
  std::FILE* file_ = nullptr;
  bool opened_once_ = false;  // a journal that cannot be written is tried once
  std::string script_;
  std::vector<std::string> seen_files_;  // in the order first run
  // The files under way, outermost first, as their include lines name them.
  std::vector<std::string> file_stack_;
  // The line under way: its place, and whether its start is written.
  int line_depth_ = 0;
  int line_number_ = 0;
  bool line_started_ = false;
  bool motion_pending_ = false;  // the last command sent is the line's own
  int32_t from_steps_[run_axis_count] = {};
  int32_t to_steps_[run_axis_count] = {};
};

/// Asks for the hash of a script file as it is now; false when unreadable.
using file_hash_lookup = bool (*)(const std::string& path, uint64_t& hash);

/// Where `millresume SCRIPT --continue` goes on, read from a journal's text.
struct journal_choice {
  bool ok = false;
  restart_point point;  // file empty: a line of the top-level script
  std::string place;    // FILE:LINE, as the messages name it
  std::string why;      // ok: why this line; else why none
};

/// The first line that started but did not finish; else the line after the
/// last one finished; else the line a resumed run took the job up at. The
/// journal must be of `script`, every file in it unchanged.
journal_choice choose_continue_line(const std::string& journal, const std::string& script,
                                    file_hash_lookup lookup);
