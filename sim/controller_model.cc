#include "controller_model.h"

#include <limits>
#include <vector>

namespace {

struct axis_words {
  char letter;    // as in "xyz_linear_move_steps xy ..."
  char positive;  // direction letters
  char negative;
  const char* move;     // "x_move_steps"
  const char* home;     // "x_home"
  char home_direction;  // the only direction a home command takes
  const char* query;    // the operand of get_native_axis_scale
};

const axis_words axes[3] = {
    {'x', 'r', 'l', "x_move_steps", "x_home", 'l', "X"},
    {'y', 't', 'b', "y_move_steps", "y_home", 'b', "Y"},
    {'z', 'u', 'd', "z_move_steps", "z_home", 'u', "Z"},
};

const struct {
  fault_kind kind;
  const char* name;
} fault_names[] = {
    {fault_kind::none, "none"},     {fault_kind::error, "error"},
    {fault_kind::empty, "empty"},   {fault_kind::garbage, "garbage"},
    {fault_kind::noise, "noise"},   {fault_kind::slow, "slow"},
    {fault_kind::hangup, "hangup"}, {fault_kind::vanish, "vanish"},
    {fault_kind::silent, "silent"},
};

const char error_reply[] = "E";
const char move_reply[] = "X";
const char garbage_reply[] = "#?garbage?#";
const char noise_bytes[] = "zz#noise\r\n";

// A move of up to three axes: the signed step change of each.
struct step_move {
  std::array<int64_t, 3> delta = {0, 0, 0};
  uint32_t longest = 0;
};

// What a command does when it is executed, before any fault is applied.
struct execution {
  std::string text = error_reply;
  uint64_t delay_ms = 0;
};

// Fields separated by exactly one blank; an empty field (a doubled, leading
// or trailing blank) makes the whole line malformed.
bool split_fields(std::string_view line, char separator, std::vector<std::string_view>& fields) {
  fields.clear();
  size_t start = 0;
  for (;;) {
    size_t end = line.find(separator, start);
    std::string_view field = line.substr(start, end == std::string_view::npos ? end : end - start);
    if (field.empty()) return false;
    fields.push_back(field);
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

// The signed step change for `count` steps of axis `a` in direction `d`;
// false when `d` is not one of that axis's letters.
bool axis_delta(int a, std::string_view direction, uint32_t count, int64_t& delta) {
  if (direction.size() != 1) return false;
  if (direction[0] == axes[a].positive) {
    delta = count;
  } else if (direction[0] == axes[a].negative) {
    delta = -static_cast<int64_t>(count);
  } else {
    return false;
  }
  return true;
}

bool add_step(step_move& m, int a, std::string_view direction, std::string_view count_text) {
  uint32_t count = 0;
  if (!parse_count(count_text, count) || !axis_delta(a, direction, count, m.delta[a])) return false;
  if (count > m.longest) m.longest = count;
  return true;
}

// "xyz_linear_move_steps AXES DIRS COUNTS".
bool parse_linear_move(const std::vector<std::string_view>& f, step_move& m) {
  if (f.size() != 4) return false;
  std::string_view letters = f[1], directions = f[2];
  std::vector<std::string_view> counts;
  if (!split_fields(f[3], ',', counts)) return false;
  if (letters.size() != directions.size() || letters.size() != counts.size()) return false;
  int next = 0;  // the axes must come in the order x, y, z, each at most once
  for (size_t i = 0; i < letters.size(); ++i) {
    int a = next;
    while (a < 3 && axes[a].letter != letters[i]) ++a;
    if (a == 3) return false;
    if (!add_step(m, a, directions.substr(i, 1), counts[i])) return false;
    next = a + 1;
  }
  return true;
}

// Applies the move unless some axis would leave the 64-bit range; then
// nothing moves and the command is refused.
bool apply_move(controller& c, const step_move& m) {
  constexpr int64_t top = std::numeric_limits<int64_t>::max();
  constexpr int64_t bottom = std::numeric_limits<int64_t>::min();
  for (int a = 0; a < 3; ++a) {
    int64_t p = c.position[a], d = m.delta[a];
    if ((d > 0 && p > top - d) || (d < 0 && p < bottom - d)) return false;
  }
  for (int a = 0; a < 3; ++a) c.position[a] += m.delta[a];
  return true;
}

std::string scale_reply_text(const controller_config& config, int a) {
  if (config.scale_reply[a]) return *config.scale_reply[a];
  return config.scale[a] + "\"/1000";
}

execution execute(controller& c, std::string_view line) {
  execution result;
  if (line.size() > max_command_length) return result;
  std::vector<std::string_view> f;
  if (!split_fields(line, ' ', f)) return result;
  const std::string_view word = f[0];

  step_move m;
  bool is_move = false;
  if (word == "xyz_linear_move_steps") {
    if (!parse_linear_move(f, m)) return result;
    is_move = true;
  }
  for (int a = 0; a < 3 && !is_move; ++a) {
    if (word == axes[a].move) {
      if (f.size() != 3 || !add_step(m, a, f[1], f[2])) return result;
      is_move = true;
    } else if (word == axes[a].home) {
      if (f.size() != 2 || f[1] != std::string_view(&axes[a].home_direction, 1)) return result;
      c.position[a] = 0;
      result.text = home_reply_text;
      return result;
    }
  }
  if (is_move) {
    if (!apply_move(c, m)) return result;
    result.text = move_reply;
    result.delay_ms = static_cast<uint64_t>(c.config.ms_per_step) * m.longest;
    return result;
  }
  if (word == "get_native_axis_scale" && f.size() == 2) {
    for (int a = 0; a < 3; ++a) {
      if (f[1] == axes[a].query) {
        result.text = scale_reply_text(c.config, a);
        return result;
      }
    }
  }
  return result;
}

// "x=..." with the axis letter in either case: the axis index and the value.
bool axis_prefix(std::string_view value, int& a, std::string_view& rest, std::string& error) {
  if (value.size() >= 2 && value[1] == '=') {
    for (a = 0; a < 3; ++a) {
      char letter = value[0];
      if (letter == axes[a].letter || letter == axes[a].letter - 'a' + 'A') {
        rest = value.substr(2);
        return true;
      }
    }
  }
  error = "expected an axis x, y or z followed by '=', got \"" + std::string(value) + "\"";
  return false;
}

}  // namespace

const char home_reply_text[] = "0.000\"/1000";

const char* fault_name(fault_kind kind) {
  for (const auto& entry : fault_names)
    if (entry.kind == kind) return entry.name;
  return "?";
}

std::string reply_bytes(const controller_reply& reply) {
  if (!reply.send) return {};
  return reply.text + reply.line_end + reply.trailing;
}

bool parse_count(std::string_view text, uint32_t& value) {
  if (text.empty()) return false;
  uint64_t total = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    total = total * 10 + static_cast<uint64_t>(ch - '0');
    if (total > std::numeric_limits<uint32_t>::max()) return false;
  }
  value = static_cast<uint32_t>(total);
  return true;
}

controller_reply handle_command(controller& c, std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  controller_reply reply;
  if (line.empty()) return reply;

  reply.counted = true;
  reply.send = true;
  reply.line_end = c.config.line_end;
  ++c.command_count;
  c.transcript += "cmd: ";
  c.transcript += line;
  c.transcript += '\n';

  auto found = c.config.faults.find(c.command_count);
  reply.fault = found == c.config.faults.end() ? fault_kind::none : found->second;

  // Faults that stand in for the command: it is not executed.
  switch (reply.fault) {
    case fault_kind::error:
      reply.text = error_reply;
      return reply;
    case fault_kind::empty:
      return reply;
    case fault_kind::garbage:
      reply.text = garbage_reply;
      return reply;
    case fault_kind::hangup:
      reply.send = false;
      reply.action = link_action::hang_up;
      return reply;
    case fault_kind::vanish:
      reply.send = false;
      reply.action = link_action::vanish;
      return reply;
    default:
      break;
  }

  execution done = execute(c, line);
  reply.text = done.text;
  reply.delay_ms = done.delay_ms;
  // Faults that change only how the answer goes out.
  if (reply.fault == fault_kind::noise) reply.trailing = noise_bytes;
  if (reply.fault == fault_kind::slow) reply.byte_by_byte = true;
  if (reply.fault == fault_kind::silent) reply.send = false;
  return reply;
}

std::string transcript_text(const controller& c) {
  return c.transcript + "final: x=" + std::to_string(c.position[0]) +
         " y=" + std::to_string(c.position[1]) + " z=" + std::to_string(c.position[2]) + "\n";
}

bool set_axis_scale(controller_config& config, std::string_view value, std::string& error) {
  int a = 0;
  std::string_view rest;
  if (!axis_prefix(value, a, rest, error)) return false;
  size_t slash = rest.find('/');
  uint32_t numerator = 0, denominator = 0;
  if (slash == std::string_view::npos || !parse_count(rest.substr(0, slash), numerator) ||
      !parse_count(rest.substr(slash + 1), denominator)) {
    error = "expected a scale NUM/DEN of two unsigned integers, got \"" + std::string(rest) + "\"";
    return false;
  }
  config.scale[a] = std::to_string(numerator) + "/" + std::to_string(denominator);
  return true;
}

bool set_scale_reply(controller_config& config, std::string_view value, std::string& error) {
  int a = 0;
  std::string_view rest;
  if (!axis_prefix(value, a, rest, error)) return false;
  config.scale_reply[a] = std::string(rest);
  return true;
}

bool add_fault(controller_config& config, std::string_view value, std::string& error) {
  size_t colon = value.find(':');
  uint32_t number = 0;
  if (colon == std::string_view::npos || !parse_count(value.substr(0, colon), number) ||
      number == 0) {
    error = "expected N:KIND with N a command number from 1, got \"" + std::string(value) + "\"";
    return false;
  }
  std::string_view name = value.substr(colon + 1);
  for (const auto& entry : fault_names) {
    if (entry.kind == fault_kind::none || name != entry.name) continue;
    if (config.faults.count(number)) {
      error = "command " + std::to_string(number) + " already has a fault";
      return false;
    }
    config.faults[number] = entry.kind;
    return true;
  }
  error = "unknown fault \"" + std::string(name) +
          "\" (error, empty, garbage, noise, slow, hangup, vanish, silent)";
  return false;
}

bool set_line_end(controller_config& config, std::string_view value, std::string& error) {
  if (value == "crlf") {
    config.line_end.assign("\r\n", 2);
  } else if (value == "lf") {
    config.line_end.assign(1, '\n');
  } else if (value == "cr") {
    config.line_end.assign(1, '\r');
  } else {
    error = "expected crlf, lf or cr, got \"" + std::string(value) + "\"";
    return false;
  }
  return true;
}

void split_input(line_splitter& s, const char* data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    char ch = data[i];
    if (ch == '\r' || ch == '\n') {
      if (!s.partial.empty()) s.ready.push_back(std::move(s.partial));
      s.partial.clear();
    } else if (s.partial.size() <= max_command_length) {
      s.partial += ch;
    }
  }
}

bool take_line(line_splitter& s, std::string& line) {
  if (s.ready.empty()) return false;
  line = std::move(s.ready.front());
  s.ready.pop_front();
  return true;
}

void clear_input(line_splitter& s) {
  s.partial.clear();
  s.ready.clear();
}
