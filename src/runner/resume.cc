#include "runner/resume.h"

#include "common/message.h"
#include "gcode/axis_model.h"
#include "platform/platform.h"
#include "supervision/homing.h"
#include "supervision/recovery.h"

namespace {
void report(const char* caption_format, const char* text_format, const char* path,
            int line_number, const char* line_text) {
  message_buffers& m = shared_message();
  format_text(m.caption, sizeof m.caption, caption_format, path, line_number);
  format_text(m.text, sizeof m.text, text_format, path, line_number, line_text);
  show_buffers(m);
}
}  // namespace

void forget_quiet_travel() {
  for (axis_state& axis : axis_model_state().axes) axis.envelope_min = axis.envelope_max = 0;
}

namespace {

/// From home to where the job stands (`stand_in`, inches): X, then Y, with Z
/// at the top of its travel, then Z down last.
bool drive_to(const double (&stand_in)[axis_count], const char* path, int line_number,
              const char* line_text, port_handle handle) {
  // Measured with the machine's own scales, which the query may have
  // changed since the quiet lines were tracked.
  axis_position target{};
  for (int a = 0; a < axis_count; ++a) {
    target.inches[a] = stand_in[a];
    if (!inches_to_steps_with(stand_in[a], axis_model_state().scales[a], target.steps[a])) {
      report("Target out of range @ %s:%d",
             "Target out of range @ %s:%d:\r    %s\r"
             "Its step count does not fit the machine's step arithmetic.",
             path, line_number, line_text);
      return false;
    }
  }
  const char* refused = nullptr;
  if (!reposition_axes(target, handle, refused)) {
    if (platform_stop_requested()) return false;
    message_buffers& m = shared_message();
    format_text(m.caption, sizeof m.caption, "Approach failed @ %s:%d", path, line_number);
    format_text(m.text, sizeof m.text,
                "The machine was homed to go on @ %s:%d:\r    %s\rbut the controller refused "
                "the approach move \"%s\". Nothing more is sent.",
                path, line_number, line_text, refused);
    show_buffers(m);
    return false;
  }
  // The envelope starts at this homing, and the approach is travel of the
  // machine: where it drove belongs in it even when no later line goes as
  // far (a resume at the line that lifts Z would otherwise leave out the
  // depth the approach went down to).
  for (int a = 0; a < axis_count; ++a)
    set_axis_position(static_cast<axis_index>(a), target.inches[a], target.steps[a], false);
  return true;
}

}  // namespace

bool approach_resume_line(const char* path, int line_number, const char* line_text,
                          port_handle handle) {
  // Whatever happens next, the quiet lines moved nothing.
  forget_quiet_travel();
  if (!handle) {
    report("No machine to resume on @ %s:%d",
           "The job would go on @ %s:%d:\r    %s\rbut no \"open comm\" line comes before it, "
           "so there is no machine to home and drive there. Nothing was sent.",
           path, line_number, line_text);
    return false;
  }
  // Where the job stands before the line, in inches; a job that has not
  // moved yet stands at home.
  if (!homing_state().homed) home_record_only();
  double stand_in[axis_count];
  for (int a = 0; a < axis_count; ++a) stand_in[a] = axis_model_state().axes[a].position_in;

  set_homed(false);
  if (!ensure_homed(handle)) {
    if (platform_stop_requested()) return false;
    report("Homing failed @ %s:%d",
           "The machine could not be homed before the command of @ %s:%d:\r    %s\r"
           "Nothing more is sent. The controller's reply is in the trace.",
           path, line_number, line_text);
    return false;
  }
  if (platform_stop_requested()) return false;

  return drive_to(stand_in, path, line_number, line_text, handle);
}

void report_resume_line_not_reached(const char* file, int line_number) {
  message_buffers& m = shared_message();
  format_text(m.caption, sizeof m.caption, "Resume line not reached @ %s:%d", file, line_number);
  format_text(m.text, sizeof m.text,
              "The script never reached line %d of %s, so the job was not resumed. Nothing was "
              "sent.",
              line_number, file);
  show_buffers(m);
}
