// One page's stream of events (text/event-stream): "status" events with the
// status JSON on each change, at most ten a second; "message" events, each
// with its number as the event id so that a page that reconnects gets only
// what it missed; one "end" event with the state and the exit code, after
// which the stream closes. The stream only reads the hub.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "station/station_hub.h"

struct station_stream {
  uint64_t seen_version = 0;
  uint64_t seen_message = 0;  // the number of the last message sent
  bool started = false;
  bool ended = false;
  std::chrono::steady_clock::time_point last_status{};
  std::chrono::steady_clock::time_point last_write{};
};

/// The shortest time between two status events.
constexpr int station_status_interval_ms = 100;
/// After a change, how long a stream waits for the rest of its burst (a
/// reply, the next line and its command come together) before it sends:
/// one event for the burst, so the ten-a-second bound does not hold back
/// the next line.
constexpr int station_settle_ms = 10;
/// How long one step waits for a change (also how soon a stop is noticed).
constexpr int station_stream_wait_ms = 200;
/// A comment line is sent after this much silence, so that proxies and
/// browsers keep the connection.
constexpr int station_keep_alive_ms = 15000;

/// A stream for a page that already has messages up to `last_event_id`
/// (its Last-Event-ID header; 0 for a new page).
station_stream station_stream_open(uint64_t last_event_id);

/// Waits a little for news and appends to `out` the events to send. False
/// once the end event has been appended (the stream is over then).
bool station_stream_step(const station_hub& hub, station_stream& stream, std::string& out);

/// "event: NAME\ndata: ...\n\n" (a data line per line of `data`), with "id: ID" first when not 0.
std::string station_event(const char* name, const std::string& data, uint64_t id = 0);
