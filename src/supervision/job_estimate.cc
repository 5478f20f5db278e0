#include "supervision/job_estimate.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/machine_defaults.h"
#include "gcode/axis_model.h"
#include "link/validator_table.h"

namespace {

constexpr double bits_per_byte = 10.0;  // start bit, eight data bits, stop bit
constexpr double baud = machine_baud;

}  // namespace

void job_estimate::command_issued(const command_event& e) {
  const size_t reply =
      e.reply_length >= 0 ? static_cast<size_t>(e.reply_length) : shortest_reply_length(e.command);
  figures_.wire_ms += exchange_wire_ms(std::strlen(e.command), reply);
  figures_.move_ms += static_cast<double>(e.steps) * axis_model_state().ms_per_step;
  figures_.steps += e.steps;
  ++figures_.exchanges;
  if (e.kind == command_kind::scale_query) figures_.scales_queried = true;
}

double job_estimate_ms(const job_estimate_record& figures) {
  return figures.move_ms + figures.dwell_ms + figures.wire_ms;
}

bool estimate_is_dry_run(const job_estimate_record& figures) { return !figures.scales_queried; }

double exchange_wire_ms(size_t command_length, size_t reply_length) {
  const double bytes = static_cast<double>(command_length + 1 + reply_length + 2);
  return bytes * bits_per_byte * 1000.0 / baud;
}

size_t shortest_reply_length(const char* command) {
  // The validator table says which reply each command expects; a command it
  // does not know (no table, in a test) is taken for a move, answered "X".
  const match_pattern* reply = expected_reply(command);
  return reply ? shortest_reply_length(*reply) : shortest_reply_length(reposition_reply_pattern);
}

void format_hms(double milliseconds, char* out, size_t size) {
  if (size == 0) return;
  double seconds = std::isfinite(milliseconds) && milliseconds > 0.0
                       ? std::floor(milliseconds / 1000.0 + 0.5)
                       : 0.0;
  // Beyond a hundred thousand years the hours are only a sign of nonsense.
  if (seconds > 3.6e12) seconds = 3.6e12;
  const auto whole = static_cast<unsigned long long>(seconds);
  std::snprintf(out, size, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
}
