#include "station/station_hub.h"

#include <chrono>

const char* station_state_name(station_state state) {
  switch (state) {
    case station_state::homing: return "homing";
    case station_state::running: return "running";
    case station_state::paused: return "paused";
    case station_state::recovering: return "recovering";
    case station_state::finished: return "finished";
    case station_state::failed: return "failed";
    case station_state::stopped: return "stopped";
  }
  return "failed";
}

station_status station_hub::snapshot() const {
  std::lock_guard<std::mutex> hold(lock_);
  return status_;
}

bool station_hub::wait_for_change(uint64_t seen, int timeout_ms, station_status& out) const {
  std::unique_lock<std::mutex> hold(lock_);
  const bool changed = changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                                         [&] { return status_.version > seen; });
  if (changed) out = status_;
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
  if (status_.ended) return false;
  switch (what) {
    case station_request::pause:
      if (pause_requested_ || stop_requested_) return false;
      pause_requested_ = true;
      break;
    case station_request::resume:
      if (!pause_requested_ || stop_requested_) return false;
      pause_requested_ = false;
      break;
    case station_request::stop:
      if (stop_requested_) return false;
      stop_requested_ = true;
      break;
  }
  changed_locked();
  return true;
}

void station_hub::set_job(uint64_t commands_total, double estimate_ms) {
  std::lock_guard<std::mutex> hold(lock_);
  status_.commands_total = commands_total;
  status_.remaining_s = estimate_ms / 1000.0;
  changed_locked();
}

void station_hub::finish(int exit_code) {
  std::lock_guard<std::mutex> hold(lock_);
  status_.ended = true;
  status_.exit_code = exit_code;
  changed_locked();
}

void station_hub::add_message(const std::string& message) {
  std::lock_guard<std::mutex> hold(lock_);
  ++message_count_;
  status_.messages.insert(status_.messages.begin(), message);
  if (status_.messages.size() > station_status_messages) status_.messages.pop_back();
  changed_locked();
}

void station_hub::changed_locked() {
  ++status_.version;
  changed_.notify_all();
}
