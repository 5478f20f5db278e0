#include "common/run_events.h"

namespace {
struct events_record {
  run_observer* observers[max_run_observers] = {};
  int count = 0;
  bool dwell_waits = true;
  bool trace_printed = true;
};
events_record events;

template <typename Call>
void each(Call call) {
  for (int i = 0; i < events.count; ++i) call(*events.observers[i]);
}
}  // namespace

bool subscribe(run_observer* observer) {
  if (!observer) return false;
  for (int i = 0; i < events.count; ++i)
    if (events.observers[i] == observer) return true;
  if (events.count == max_run_observers) return false;
  events.observers[events.count++] = observer;
  return true;
}

void unsubscribe_all() { events.count = 0; }
bool run_observed() { return events.count > 0; }
bool waits_observed() {
  for (int i = 0; i < events.count; ++i)
    if (events.observers[i]->shows_waits()) return true;
  return false;
}

void emit_run_started(const char* script) {
  each([&](run_observer& o) { o.run_started(script); });
}
void emit_file_started(const char* path, int depth) {
  each([&](run_observer& o) { o.file_started(path, depth); });
}
void emit_line_started(const line_event& e) {
  each([&](run_observer& o) { o.line_started(e); });
}
void emit_line_finished(const line_event& e, bool ok) {
  each([&](run_observer& o) { o.line_finished(e, ok); });
}
void emit_motion_composed(const motion_event& e) {
  each([&](run_observer& o) { o.motion_composed(e); });
}
void emit_command_issued(const command_event& e) {
  each([&](run_observer& o) { o.command_issued(e); });
}
void emit_reply_received(const reply_event& e) {
  each([&](run_observer& o) { o.reply_received(e); });
}
void emit_reply_awaited(const wait_event& e) {
  each([&](run_observer& o) { o.reply_awaited(e); });
}
void emit_dwell(uint32_t milliseconds) {
  each([&](run_observer& o) { o.dwell(milliseconds); });
}
void emit_homing_done(const homing_event& e) {
  each([&](run_observer& o) { o.homing_done(e); });
}
void emit_scales_queried(const int32_t (&numerators)[run_axis_count],
                         const int32_t (&denominators)[run_axis_count]) {
  each([&](run_observer& o) { o.scales_queried(numerators, denominators); });
}
void emit_recovery_started(const char* failed_line) {
  each([&](run_observer& o) { o.recovery_started(failed_line); });
}
void emit_recovery_finished(bool ok) {
  each([&](run_observer& o) { o.recovery_finished(ok); });
}
void emit_line_refused(const refusal_event& e) {
  each([&](run_observer& o) { o.line_refused(e); });
}
void emit_travel_exceeded(const travel_event& e) {
  each([&](run_observer& o) { o.travel_exceeded(e); });
}
void emit_run_finished(const run_summary& summary) {
  each([&](run_observer& o) { o.run_finished(summary); });
}
void emit_message_coming() {
  each([](run_observer& o) { o.message_coming(); });
}
void emit_message_shown(const char* caption, const char* text) {
  each([&](run_observer& o) { o.message_shown(caption, text); });
}

bool dwells_wait() { return events.dwell_waits; }
void set_dwells_wait(bool wait) { events.dwell_waits = wait; }

bool trace_printed() { return events.trace_printed; }
void set_trace_printed(bool printed) { events.trace_printed = printed; }

void reset_run_events() { events = events_record{}; }
