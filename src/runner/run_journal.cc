#include "runner/run_journal.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "common/message.h"
#include "platform/file_kind.h"

bool hash_script_file(const std::string& path, uint64_t& hash) {
  // A FIFO or device would block, or hand the hash the bytes the run reads.
  if (platform_path_kind(path.c_str()) != 1) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint64_t h = 14695981039346656037ull;
  unsigned char buffer[8192];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    for (size_t i = 0; i < n; ++i) h = (h ^ buffer[i]) * 1099511628211ull;
  const bool ok = !std::ferror(f);
  std::fclose(f);
  hash = h;
  return ok;
}

run_journal::~run_journal() {
  if (file_) std::fclose(file_);
}

void run_journal::run_started(const char* script) {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  opened_once_ = false;
  script_ = script;
  seen_files_.clear();
  file_stack_.clear();
  line_number_ = 0;
  motion_pending_ = false;
}

void run_journal::write_header(const std::string& path) {
  uint64_t hash = 0;
  // An unreadable file gets hash 0: no file hashes to it in practice, so a
  // continue refuses the journal rather than trust it.
  if (!hash_script_file(path, hash)) hash = 0;
  std::fprintf(file_, "file %016" PRIx64 " %s\n", hash, path.c_str());
  std::fflush(file_);
}

void run_journal::file_started(const char* path, int depth) {
  if (depth < 1) return;
  if (file_stack_.size() < static_cast<size_t>(depth)) file_stack_.resize(depth);
  file_stack_[depth - 1] = path;
  for (const std::string& seen : seen_files_)
    if (seen == path) return;
  seen_files_.push_back(path);
  if (file_) write_header(seen_files_.back());
}

void run_journal::open_file() {
  file_ = std::fopen(run_journal_name, "w");
  if (!file_) {
    char note[512];
    format_text(note, sizeof note, "%s could not be written (%s): this run keeps no journal.",
                run_journal_name, std::strerror(errno));
    show_note(note);
    return;
  }
  std::fprintf(file_, "millrun-journal 1\nscript %s\n", script_.c_str());
  for (const std::string& path : seen_files_) write_header(path);
  if (start_at_.line > 0) {
    const bool top = start_at_.file.empty();
    std::fprintf(file_, "from %d %s:%d\n", top ? 1 : 2,
                 top ? script_.c_str() : start_at_.file.c_str(), start_at_.line);
  }
  std::fflush(file_);
}

void run_journal::write_line(const char* word, const int32_t (&steps)[run_axis_count]) {
  const bool known = line_depth_ >= 1 && static_cast<size_t>(line_depth_) <= file_stack_.size();
  std::fprintf(file_, "%s %d %" PRId32 " %" PRId32 " %" PRId32 " %s:%d\n", word, line_depth_,
               steps[0], steps[1], steps[2], known ? file_stack_[line_depth_ - 1].c_str() : "",
               line_number_);
  std::fflush(file_);
}

void run_journal::line_started(const line_event& e) {
  // A recovery's re-run (line -1) stays the line that failed.
  if (e.line_number <= 0) return;
  // The line's file is the one its depth began last (a dry run passes every
  // line through here: nothing is copied or compared per line).
  line_depth_ = e.depth;
  line_number_ = e.line_number;
  line_started_ = false;
  motion_pending_ = false;
}

void run_journal::motion_composed(const motion_event& e) {
  std::memcpy(from_steps_, e.from_steps, sizeof from_steps_);
  std::memcpy(to_steps_, e.to_steps, sizeof to_steps_);
}

void run_journal::command_issued(const command_event& e) {
  if (!e.to_machine) return;
  if (!file_) {
    if (opened_once_) return;
    opened_once_ = true;
    open_file();
    if (!file_) return;
  }
  motion_pending_ = e.kind == command_kind::motion && line_number_ > 0;
  if (motion_pending_ && !line_started_) {
    write_line("start", from_steps_);
    line_started_ = true;
  }
}

void run_journal::reply_received(const reply_event& e) {
  if (!motion_pending_ || !file_) return;
  motion_pending_ = false;
  if (!e.accepted) return;
  write_line("done", to_steps_);
  line_number_ = 0;  // finished: a recovery's commands after it belong to no line
}

void run_journal::run_finished(const run_summary& summary) {
  if (!file_) return;
  if (summary.ok) std::fputs("end\n", file_);
  std::fclose(file_);
  file_ = nullptr;
}
