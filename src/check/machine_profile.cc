#include "check/machine_profile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "gcode/axis_words.h"

namespace {

/// A plain decimal number: optional sign, digits with at most one point,
/// at least one digit. Nothing else (no exponent, no "inf", no hex), so a
/// typing slip is an error and not a surprising limit.
bool read_bound(const std::string& text, double& value) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  bool digit = false, point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!digit) return false;
  value = std::strtod(text.c_str(), nullptr);
  return std::isfinite(value);
}

std::string trimmed(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r");
  if (start == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(start, end - start + 1);
}

int axis_of_name(const std::string& name) {
  if (name.size() != 1) return -1;
  for (int a = 0; a < run_axis_count; ++a)
    if (name[0] == axis_table[a].name || name[0] == axis_table[a].name - 'A' + 'a') return a;
  return -1;
}

}  // namespace

bool read_travel_range(const std::string& text, int axis, travel_limits& limits,
                       std::string& error) {
  const std::string range = trimmed(text);
  travel_limits result = limits;
  result.has_min[axis] = result.has_max[axis] = false;
  result.min[axis] = result.max[axis] = 0.0;
  if (!range.empty()) {
    const size_t colon = range.find(':');
    if (colon == std::string::npos) {
      error = "\"" + range + "\" is not MIN:MAX (either may be empty)";
      return false;
    }
    const std::string low = trimmed(range.substr(0, colon));
    const std::string high = trimmed(range.substr(colon + 1));
    if (!low.empty() && !read_bound(low, result.min[axis])) {
      error = "\"" + low + "\" is not a number of inches";
      return false;
    }
    if (!high.empty() && !read_bound(high, result.max[axis])) {
      error = "\"" + high + "\" is not a number of inches";
      return false;
    }
    result.has_min[axis] = !low.empty();
    result.has_max[axis] = !high.empty();
    if (result.has_min[axis] && result.has_max[axis] && result.min[axis] > result.max[axis]) {
      error = "\"" + range + "\": the lower limit exceeds the upper";
      return false;
    }
  }
  limits = result;
  return true;
}

bool read_machine_profile(const std::string& text, machine_profile& profile, std::string& error,
                          int& error_line) {
  machine_profile result;
  size_t start = 0;
  for (int line_number = 1; start <= text.size(); ++line_number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = trimmed(line);
    if (line.empty()) continue;

    error_line = line_number;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
      error = std::string("expected AXIS = MIN:MAX, found \"") + line + "\"";
      return false;
    }
    const std::string name = trimmed(line.substr(0, equals));
    const int axis = axis_of_name(name);
    if (axis < 0) {
      error = std::string("unknown axis \"") + name + "\" (x, y or z)";
      return false;
    }
    if (result.named[axis]) {
      error = std::string("axis ") + axis_table[axis].name + " is given twice";
      return false;
    }
    std::string range_error;
    if (!read_travel_range(line.substr(equals + 1), axis, result.limits, range_error)) {
      error = range_error;
      return false;
    }
    result.named[axis] = true;
  }
  profile = result;
  return true;
}

bool read_machine_profile_file(const std::string& path, machine_profile& profile,
                               std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    error = path + ": the profile cannot be opened";
    return false;
  }
  std::string text;
  char block[4096];
  size_t n = 0;
  // A profile is a few lines; anything near this size is not one.
  constexpr size_t profile_limit = 1 << 20;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0 && text.size() < profile_limit)
    text.append(block, n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    error = path + ": the profile cannot be read";
    return false;
  }
  if (text.size() >= profile_limit) {
    error = path + ": too large for a machine profile";
    return false;
  }
  std::string line_error;
  int line = 0;
  if (!read_machine_profile(text, profile, line_error, line)) {
    error = path + ":" + std::to_string(line) + ": " + line_error;
    return false;
  }
  return true;
}

std::string describe_travel_range(const travel_limits& limits, int axis) {
  char text[96];
  char low[40] = "", high[40] = "";
  if (!limits.has_min[axis] && !limits.has_max[axis]) {
    std::snprintf(text, sizeof text, "%c none", axis_table[axis].name);
    return text;
  }
  if (limits.has_min[axis]) std::snprintf(low, sizeof low, "%.4f", limits.min[axis]);
  if (limits.has_max[axis]) std::snprintf(high, sizeof high, "%.4f", limits.max[axis]);
  std::snprintf(text, sizeof text, "%c %s:%s", axis_table[axis].name, low, high);
  return text;
}
