#include "supervision/envelope_report.h"

#include <cmath>

#include "gcode/axis_model.h"
#include "gcode/axis_words.h"
#include "gcode/translation_log.h"
#include "supervision/recovery.h"

const char* const envelope_report_name = "EnvelopeReport.txt";

double feed_rate(int a) {
  const axis_model& model = axis_model_state();
  // Both products are 32-bit in the report's arithmetic; the scale check
  // keeps every accepted scale inside that range. A zero divisor, which no
  // accepted scale gives, reports 0 rather than a division by zero.
  int64_t dividend = int64_t{model.scales[a].denominator} * 60;
  int64_t divisor = int64_t{model.scales[a].numerator} * model.ms_per_step;
  if (divisor == 0) return 0.0;
  return static_cast<double>(dividend) / static_cast<double>(divisor);
}

void write_envelope_lines(std::FILE* out) {
  const axis_model& model = axis_model_state();
  // "%.8ld" writes what "%08.8ld" does: the precision already gives eight
  // digits, so the zero flag and the width never add anything.
  for (int a = 0; a < axis_count; ++a)
    std::fprintf(out, "%c: MIN = %.8ld steps, MAX = %.8ld steps\n", axis_table[a].name,
                 static_cast<long>(model.axes[a].envelope_min),
                 static_cast<long>(model.axes[a].envelope_max));
  double feeds[axis_count];
  for (int a = 0; a < axis_count; ++a) {
    feeds[a] = feed_rate(a);
    std::fprintf(out, "Feed Rates: %c       = %08.8lf\"/minute\n", axis_table[a].name, feeds[a]);
  }
  double xyz_max = std::hypot(std::hypot(feeds[axis_x], feeds[axis_y]), feeds[axis_z]);
  std::fprintf(out, "Feed Rates: XYZ_MAX = %08.8lf\"/minute\n", xyz_max);
  std::fprintf(out, "Milling Resumed %d times\n", static_cast<int>(recovery_state().resume_count));
}

void write_envelope_report() {
  close_translation_log();
  std::FILE* out = std::fopen(envelope_report_name, "w");
  if (!out) return;
  write_envelope_lines(out);
  std::fflush(out);
  std::fclose(out);
}
