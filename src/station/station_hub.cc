#include "station/station_hub.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "gcode/axis_words.h"
#include "platform/platform.h"

namespace {

bool ended_state(station_state state) {
  return state == station_state::finished || state == station_state::failed ||
         state == station_state::stopped;
}

/// A recovery's repositioning ("x_move_steps r 1213"): the axis it moves
/// and the signed steps; false for any other command.
bool reposition_of(const char* command, int& axis, int64_t& steps) {
  for (int a = 0; a < run_axis_count; ++a) {
    const size_t length = std::strlen(axis_table[a].move_command);
    if (std::strncmp(command, axis_table[a].move_command, length) != 0) continue;
    const char* p = command + length;
    if (p[0] != ' ' || p[1] == '\0' || p[2] != ' ') return false;
    const char way = p[1];
    if (way != axis_table[a].positive && way != axis_table[a].negative) return false;
    char* end = nullptr;
    const long long magnitude = std::strtoll(p + 3, &end, 10);
    if (end == p + 3 || *end != '\0' || magnitude < 0) return false;
    axis = a;
    steps = way == axis_table[a].positive ? magnitude : -magnitude;
    return true;
  }
  return false;
}

int32_t clamped(int64_t steps) {
  if (steps > INT32_MAX) return INT32_MAX;
  if (steps < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(steps);
}

}  // namespace

const char* station_state_name(station_state state) {
  switch (state) {
    case station_state::homing:
      return "homing";
    case station_state::running:
      return "running";
    case station_state::paused:
      return "paused";
    case station_state::recovering:
      return "recovering";
    case station_state::finished:
      return "finished";
    case station_state::failed:
      return "failed";
    case station_state::stopped:
      return "stopped";
  }
  return "failed";
}

station_status station_hub::snapshot() const {
  std::lock_guard<std::mutex> hold(lock_);
  return timed_locked();
}

bool station_hub::wait_for_change(uint64_t seen, int timeout_ms, station_status& out) const {
  std::unique_lock<std::mutex> hold(lock_);
  const bool changed = changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                                         [&] { return status_.version > seen; });
  if (changed) out = timed_locked();
  return changed;
}

std::vector<std::string> station_hub::messages_after(uint64_t after, uint64_t& last) const {
  std::lock_guard<std::mutex> hold(lock_);
  last = message_count_;
  std::vector<std::string> newer;
  // status_.messages holds the newest first; message number message_count_ - i is at i.
  for (size_t i = status_.messages.size(); i-- > 0;)
    if (message_count_ - i > after) newer.push_back(status_.messages[i]);
  return newer;
}

bool station_hub::request(station_request what) {
  std::lock_guard<std::mutex> hold(lock_);
  if (status_.ended || ended_state(status_.state) || stopping_locked()) return false;
  switch (what) {
    case station_request::pause:
      if (pause_requested_) return false;
      pause_requested_ = true;
      break;
    case station_request::resume:
      // Also before the run holds: the pause asked for is called off.
      if (!pause_requested_) return false;
      pause_requested_ = false;
      break;
    case station_request::stop:
      stop_requested_ = true;
      // What Ctrl-C does: every wait of the run ends, nothing more is sent.
      platform_request_stop();
      break;
  }
  changed_locked();
  return true;
}

void station_hub::set_job(uint64_t commands_total, double estimate_ms) {
  std::lock_guard<std::mutex> hold(lock_);
  status_.commands_total = commands_total;
  total_ms_ = estimate_ms;
  status_.remaining_s = estimate_ms / 1000.0;
  changed_locked();
}

void station_hub::finish(int exit_code) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!ended_state(status_.state))
    status_.state = exit_code == 0      ? station_state::finished
                    : stopping_locked() ? station_state::stopped
                                        : station_state::failed;
  status_.elapsed_s = timed_locked().elapsed_s;
  clock_stopped_ = true;
  status_.ended = true;
  status_.exit_code = exit_code;
  changed_locked();
}

bool station_hub::stop_was_requested() const {
  std::lock_guard<std::mutex> hold(lock_);
  return stop_requested_;
}

void station_hub::add_message(const std::string& message) {
  std::lock_guard<std::mutex> hold(lock_);
  add_message_locked(message);
}

void station_hub::add_message_locked(const std::string& message) {
  ++message_count_;
  status_.messages.insert(status_.messages.begin(), message);
  if (status_.messages.size() > station_status_messages) status_.messages.pop_back();
  changed_locked();
}

void station_hub::changed_locked() {
  ++status_.version;
  changed_.notify_all();
}

station_status station_hub::timed_locked() const {
  station_status status = status_;
  if (started_ms_ != 0 && !clock_stopped_)
    status.elapsed_s = static_cast<double>(platform_now_ms() - started_ms_) / 1000.0;
  return status;
}

bool station_hub::stopping_locked() const { return stop_requested_ || platform_stop_requested(); }

// The run's side: each event takes the lock briefly and returns.

void station_hub::run_started(const char* script) {
  std::lock_guard<std::mutex> hold(lock_);
  done_.run_started(script);
  status_.state = station_state::homing;
  status_.file.clear();
  status_.line = 0;
  status_.text.clear();
  status_.commands = 0;
  for (int32_t& steps : status_.position) steps = 0;
  status_.remaining_s = total_ms_ / 1000.0;
  status_.recoveries = 0;
  status_.last_recovery.clear();
  started_ms_ = platform_now_ms();
  if (started_ms_ == 0) started_ms_ = 1;
  clock_stopped_ = false;
  recovery_depth_ = 0;
  has_pending_ = false;
  changed_locked();
}

void station_hub::line_started(const line_event& e) {
  std::lock_guard<std::mutex> hold(lock_);
  status_.file = e.path;
  status_.line = e.line_number;
  status_.text = e.text;
  while (!status_.text.empty() && (status_.text.back() == '\n' || status_.text.back() == '\r'))
    status_.text.pop_back();
  last_message_.clear();  // a recovery names the message of its own line
  changed_locked();
}

void station_hub::motion_composed(const motion_event& e) {
  if (!e.command) return;
  std::lock_guard<std::mutex> hold(lock_);
  std::memcpy(pending_, e.to_steps, sizeof pending_);
  has_pending_ = true;
}

void station_hub::command_issued(const command_event& e) {
  std::lock_guard<std::mutex> hold(lock_);
  done_.command_issued(e);
  const double left = total_ms_ - done_.total_ms();
  status_.remaining_s = left > 0.0 ? left / 1000.0 : 0.0;
  last_kind_ = e.kind;
  int axis = 0;
  int64_t steps = 0;
  if (e.kind == command_kind::reposition && reposition_of(e.command, axis, steps)) {
    std::memcpy(pending_, status_.position, sizeof pending_);
    pending_[axis] = clamped(int64_t{pending_[axis]} + steps);
    has_pending_ = true;
  }
  // Without a machine nothing replies: the command is done as it is issued.
  if (!e.to_machine) {
    ++status_.commands;
    if (has_pending_ && (e.kind == command_kind::motion || e.kind == command_kind::reposition))
      std::memcpy(status_.position, pending_, sizeof pending_);
    has_pending_ = false;
  }
  changed_locked();
}

void station_hub::reply_received(const reply_event& e) {
  if (!e.accepted) return;
  std::lock_guard<std::mutex> hold(lock_);
  ++status_.commands;
  if (has_pending_ &&
      (last_kind_ == command_kind::motion || last_kind_ == command_kind::reposition))
    std::memcpy(status_.position, pending_, sizeof pending_);
  has_pending_ = false;
  changed_locked();
}

void station_hub::dwell(uint32_t milliseconds) {
  std::lock_guard<std::mutex> hold(lock_);
  done_.dwell(milliseconds);
  const double left = total_ms_ - done_.total_ms();
  status_.remaining_s = left > 0.0 ? left / 1000.0 : 0.0;
  changed_locked();
}

void station_hub::homing_done(const homing_event& e) {
  std::lock_guard<std::mutex> hold(lock_);
  std::memcpy(status_.position, e.home_steps, sizeof status_.position);
  if (status_.state == station_state::homing) status_.state = station_state::running;
  changed_locked();
}

void station_hub::recovery_started(const char* failed_line) {
  std::lock_guard<std::mutex> hold(lock_);
  ++recovery_depth_;
  ++status_.recoveries;
  status_.state = station_state::recovering;
  std::string told = "Recovery @ " + status_.file + ":" + std::to_string(status_.line) +
                     ": homing, driving back and running \"" + failed_line + "\" again";
  if (!last_message_.empty()) told += " (after " + last_message_ + ")";
  status_.last_recovery = told;
  add_message_locked(told);
}

void station_hub::recovery_finished(bool ok) {
  std::lock_guard<std::mutex> hold(lock_);
  if (recovery_depth_ > 0) --recovery_depth_;
  // A failed recovery ends the run, which says how.
  if (ok && recovery_depth_ == 0 && status_.state == station_state::recovering)
    status_.state = station_state::running;
  changed_locked();
}

void station_hub::run_finished(const run_summary& summary) {
  std::lock_guard<std::mutex> hold(lock_);
  status_.state = summary.ok          ? station_state::finished
                  : stopping_locked() ? station_state::stopped
                                      : station_state::failed;
  if (summary.ok) status_.remaining_s = 0.0;
  status_.elapsed_s = timed_locked().elapsed_s;
  clock_stopped_ = true;
  changed_locked();
}

void station_hub::message_shown(const char* caption, const char* text) {
  std::string message = caption && *caption ? std::string(caption) + ": " + text : text;
  // A refusal sets the line apart with a carriage return, as its message box does.
  for (char& c : message)
    if (c == '\r') c = '\n';
  std::lock_guard<std::mutex> hold(lock_);
  last_message_ = message;
  add_message_locked(message);
}

// The gate: the run's one thread holds here between lines.

bool station_hub::hold_before_line(const line_place&) {
  std::unique_lock<std::mutex> hold(lock_);
  if (pause_requested_ && !stopping_locked()) {
    const station_state before = status_.state;
    // The last exchange has completed: nothing is in flight while paused.
    status_.state = station_state::paused;
    changed_locked();
    // A request wakes the wait at once; Ctrl-C, whose signal handler cannot
    // notify, is seen within a tenth of a second.
    while (pause_requested_ && !stopping_locked())
      changed_.wait_for(hold, std::chrono::milliseconds(100));
    status_.state = before;
    changed_locked();
  }
  return !stopping_locked();
}

void station_hub::program_stop(const line_place&) {
  std::lock_guard<std::mutex> hold(lock_);
  if (stopping_locked()) return;
  pause_requested_ = true;
  changed_locked();
}
