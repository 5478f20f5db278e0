// What millcheck prints: every problem as "FILE:LINE: what: text", then the
// envelope, the limits, the commands, the machine-time estimate and a
// one-line verdict; or the same as one JSON object.
#pragma once

#include <cstdio>
#include <string>

#include "check/check_run.h"

/// The verdict line's text, after "Verdict: ".
std::string check_verdict(const check_result& result);

/// One problem as printed: "job.nc:7: X 12.5000 beyond the upper limit
/// 12.0000: G01 X12.5"; a refusal adds its reason after the name, a problem
/// of a whole file has no line number.
std::string format_check_problem(const check_problem& problem);

bool write_check_text(const check_result& result, std::FILE* out);
bool write_check_json(const check_result& result, std::FILE* out);

/// `text` as a JSON string, quotes included: quote, backslash and control
/// characters escaped, and every byte that is not part of valid UTF-8 (a
/// script in Latin-1, say) replaced by U+FFFD, so the output is always JSON.
std::string json_string(const std::string& text);
