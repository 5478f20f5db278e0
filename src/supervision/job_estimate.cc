#include "supervision/job_estimate.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "gcode/axis_model.h"
#include "supervision/homing.h"
#include "supervision/recovery.h"

namespace {

job_estimate_record estimate;

constexpr double bits_per_byte = 10.0;  // start bit, eight data bits, stop bit
constexpr double baud = 9600.0;
constexpr size_t move_reply_length = 1;  // "X"
constexpr size_t home_reply_length = 6;  // the shortest text ending in "/1000 with its inch mark

constexpr const char* home_commands[axis_count] = {"x_home l", "y_home b", "z_home u"};
constexpr const char* scale_queries[axis_count] = {
    "get_native_axis_scale X", "get_native_axis_scale Y", "get_native_axis_scale Z"};
constexpr const char* move_words[axis_count] = {"x_move_steps", "y_move_steps", "z_move_steps"};

int64_t distance(int64_t from, int64_t to) { return from > to ? from - to : to - from; }

int32_t z_home_steps() {
  int32_t steps = 0;
  inches_to_steps(axis_model_state().work_surface_depth, 'z', steps);
  return steps;
}

/// One exchange: the command and its reply on the line, and `steps` of
/// motion at the machine's pace.
void count_exchange(const char* command, int64_t steps) {
  estimate.wire_ms += exchange_wire_ms(std::strlen(command), shortest_reply_length(command));
  estimate.move_ms += static_cast<double>(steps) * axis_model_state().ms_per_step;
  estimate.steps += steps;
  ++estimate.exchanges;
}

/// A homing from `from`: Z to its home, then X and Y to 0, one after the
/// other, each its own exchange.
void count_homing(const int32_t from[axis_count]) {
  count_exchange(home_commands[axis_z], distance(from[axis_z], z_home_steps()));
  count_exchange(home_commands[axis_x], distance(from[axis_x], 0));
  count_exchange(home_commands[axis_y], distance(from[axis_y], 0));
}

/// The return of a recovery from home to `to`: one move per axis that is
/// not at home (the command's text length stands in for its digits).
void count_repositioning(const int32_t to[axis_count]) {
  const int32_t home[axis_count] = {0, 0, z_home_steps()};
  for (int a = 0; a < axis_count; ++a) {
    int64_t steps = distance(to[a], home[a]);
    if (steps == 0) continue;
    char command[64];
    std::snprintf(command, sizeof command, "%s r %lld", move_words[a],
                  static_cast<long long>(steps));
    count_exchange(command, steps);
  }
}

void remember_position() {
  const axis_model& model = axis_model_state();
  for (int a = 0; a < axis_count; ++a) estimate.seen_steps[a] = model.axes[a].position_steps;
}

/// Counts the homings, scale query and recovery that happened since the
/// last event. Homing leaves no event of its own: it shows as the homed
/// flag turning on, and the position the last event saw is where it started.
void observe() {
  const homing_record& homing = homing_state();
  if (estimate.recovery_pending &&
      recovery_state().resume_count != estimate.resume_count_at_recovery) {
    // The recovery homed and moved back to where the failed line started;
    // the line's own command then counts as any other.
    estimate.recovery_pending = false;
    count_homing(estimate.recovery_steps);
    count_repositioning(estimate.recovery_return_steps);
  } else if (homing.homed && !estimate.seen_homed) {
    // NOTE: where the machine stands before its first homing is not known
    // (the record's zero is no place on the machine), so that homing counts
    // its exchanges but no travel.
    const int32_t at_home[axis_count] = {0, 0, z_home_steps()};
    count_homing(at_home);
  }
  if (homing.scales_queried && !estimate.seen_scales_queried)
    for (const char* query : scale_queries) count_exchange(query, 0);
  estimate.seen_homed = homing.homed;
  estimate.seen_scales_queried = homing.scales_queried;
}

}  // namespace

job_estimate_record& job_estimate_state() { return estimate; }

void reset_job_estimate() {
  estimate = job_estimate_record{};
  estimate.seen_homed = homing_state().homed;
  estimate.seen_scales_queried = homing_state().scales_queried;
  remember_position();
}

double job_estimate_ms() { return estimate.move_ms + estimate.dwell_ms + estimate.wire_ms; }

double exchange_wire_ms(size_t command_length, size_t reply_length) {
  const double bytes = static_cast<double>(command_length + 1 + reply_length + 2);
  return bytes * bits_per_byte * 1000.0 / baud;
}

size_t shortest_reply_length(const char* command) {
  // x_home, y_home, z_home and the scale query answer with a text ending in
  // an inch mark and "/1000; every move with "X".
  if (std::strncmp(command + 1, "_home ", 6) == 0 ||
      std::strncmp(command, "get_native_axis_scale ", 22) == 0)
    return home_reply_length;
  return move_reply_length;
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

void estimate_line_started() {
  observe();
  remember_position();
}

void estimate_motion(const axis_moves& moves, const char* command) {
  observe();
  int64_t longest = 0;
  for (int a = 0; a < axis_count; ++a) {
    int64_t steps = moves.steps[a] < 0 ? -int64_t{moves.steps[a]} : moves.steps[a];
    if (steps > longest) longest = steps;
  }
  estimate.pending = command != nullptr;
  estimate.pending_steps = command ? longest : 0;
  for (int a = 0; a < axis_count; ++a)
    estimate.line_start_steps[a] = axis_model_state().axes[a].position_steps;
  // The position the moves lead to, which the record takes right after.
  for (int a = 0; a < axis_count; ++a)
    estimate.seen_steps[a] = static_cast<int32_t>(
        axis_model_state().axes[a].position_steps + int64_t{moves.direction[a]} * moves.steps[a]);
}

void estimate_command(const char* command) {
  observe();
  count_exchange(command, estimate.pending ? estimate.pending_steps : 0);
  estimate.pending = false;
  estimate.pending_steps = 0;
  remember_position();
}

void estimate_dwell(uint32_t milliseconds) { estimate.dwell_ms += milliseconds; }

void estimate_recovery_started() {
  observe();
  remember_position();
  estimate.recovery_pending = true;
  std::memcpy(estimate.recovery_steps, estimate.seen_steps, sizeof estimate.recovery_steps);
  std::memcpy(estimate.recovery_return_steps, estimate.line_start_steps,
              sizeof estimate.recovery_return_steps);
  estimate.resume_count_at_recovery = recovery_state().resume_count;
}

void estimate_run_finished() { observe(); }

bool estimate_is_dry_run() { return !homing_state().scales_queried; }
