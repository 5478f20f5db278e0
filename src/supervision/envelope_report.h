// EnvelopeReport.txt: the extent of the motion per axis in steps since the
// last homing, the feed rates, and how many recoveries the job needed.
#pragma once

#include <cstdio>

extern const char* const envelope_report_name;

/// Closes the translation log, then writes the report. A report that cannot
/// be created is skipped silently; the run's result does not change.
void write_envelope_report();

/// Writes the eight report lines to `out`.
void write_envelope_lines(std::FILE* out);

/// (denominator x 60) / (numerator x ms_per_step) inches a minute; 0 where
/// the divisor is 0.
double feed_rate(int a);
