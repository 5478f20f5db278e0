#include "station/station_events.h"

#include <thread>

#include <nlohmann/json.hpp>

namespace {

using clock_type = std::chrono::steady_clock;

std::string end_event(const station_status& status) {
  nlohmann::json end;
  end["state"] = station_state_name(status.state);
  end["exit_code"] = status.exit_code;
  return station_event("end", end.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

/// The messages shown since the stream's last one, as events, oldest first.
void append_messages(const station_hub& hub, station_stream& stream, std::string& out) {
  uint64_t last = 0;
  const std::vector<std::string> newer = hub.messages_after(stream.seen_message, last);
  // The hub keeps only the newest messages: the first one returned is
  // number last - size + 1 (older ones are gone).
  uint64_t number = last - newer.size();
  for (const std::string& message : newer) out += station_event("message", message, ++number);
  stream.seen_message = last;
}

}  // namespace

std::string station_event(const char* name, const std::string& data, uint64_t id) {
  std::string out;
  if (id != 0) out += "id: " + std::to_string(id) + "\n";
  out += "event: ";
  out += name;
  out += '\n';
  size_t start = 0;
  while (true) {
    // A line break inside the data would end the field: each line is a data line.
    const size_t end = data.find_first_of("\r\n", start);
    out += "data: " + data.substr(start, end == std::string::npos ? end : end - start) + "\n";
    if (end == std::string::npos) break;
    start = end + (data.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return out + "\n";
}

station_stream station_stream_open(uint64_t last_event_id) {
  station_stream stream;
  stream.seen_message = last_event_id;
  stream.last_write = clock_type::now();
  return stream;
}

bool station_stream_step(const station_hub& hub, station_stream& stream, std::string& out) {
  if (stream.ended) return false;
  station_status status;
  if (!stream.started) {
    // A new page first gets the status as it stands and the messages so far.
    stream.started = true;
    out += "retry: 2000\n\n";
    status = hub.snapshot();
  } else {
    const auto since = clock_type::now() - stream.last_status;
    const auto interval = std::chrono::milliseconds(station_status_interval_ms);
    if (since < interval) std::this_thread::sleep_for(interval - since);
    if (!hub.wait_for_change(stream.seen_version, station_stream_wait_ms, status)) {
      if (clock_type::now() - stream.last_write >
          std::chrono::milliseconds(station_keep_alive_ms)) {
        out += ": keep-alive\n\n";
        stream.last_write = clock_type::now();
      }
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(station_settle_ms));
    status = hub.snapshot();
  }
  append_messages(hub, stream, out);
  stream.seen_version = status.version;
  out += station_event("status", station_status_json(status));
  stream.last_status = stream.last_write = clock_type::now();
  if (status.ended) {
    out += end_event(status);
    stream.ended = true;
    return false;
  }
  return true;
}
