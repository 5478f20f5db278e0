#include "check/check_report.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "check/machine_profile.h"
#include "gcode/axis_words.h"
#include "supervision/job_estimate.h"

namespace {

constexpr const char* axis_keys[run_axis_count] = {"x", "y", "z"};

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string hms(double ms) {
  char text[48];
  format_hms(ms, text, sizeof text);
  return text;
}

std::string number(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

const check_problem* stop_of(const check_result& r) {
  for (const check_problem& p : r.problems)
    if (p.kind == check_problem_kind::stopped) return &p;
  return nullptr;
}

/// The length of the valid UTF-8 sequence at `s[i]`, or 0 when there is none.
size_t utf8_length(const std::string& s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  size_t n = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < n; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return n;
}

using json = nlohmann::ordered_json;

json json_bound(bool has, double value) { return has ? json(value) : json(nullptr); }

void put(std::FILE* out, const std::string& text) { std::fputs(text.c_str(), out); }

json problems_json(const std::vector<check_problem>& list) {
  static const char* const kinds[] = {"refused", "travel", "stopped"};
  json items = json::array();
  for (const check_problem& p : list) {
    json item = {{"kind", kinds[static_cast<int>(p.kind)]},
                 {"file", p.file},
                 {"line", p.line},
                 {"what", p.what},
                 {"why", p.why}};
    if (p.kind == check_problem_kind::travel) {
      item["axis"] = std::string(1, axis_table[p.axis].name);
      item["position_in"] = p.position_in;
      item["limit_in"] = p.limit;
      item["side"] = p.above ? "upper" : "lower";
      item["home"] = p.home;
    }
    item["text"] = p.text;
    items.push_back(std::move(item));
  }
  return items;
}

/// The report as a document, its members in the order they are printed.
json check_document(const check_result& r) {
  json doc = {{"script", r.script},
              {"fits", r.fits()},
              {"ran_to_end", r.ran_to_end},
              {"verdict", check_verdict(r)},
              {"refused_lines", r.refused_lines},
              {"travel_problems", r.travel_problems},
              {"problems", problems_json(r.problems)},
              {"unlisted_problems", r.unlisted_problems},
              {"warnings", problems_json(r.warnings)},
              {"unlisted_warnings", r.unlisted_warnings}};
  json limits = json::object(), envelope = json::object();
  for (int a = 0; a < run_axis_count; ++a) {
    limits[axis_keys[a]] = {{"min_in", json_bound(r.limits.has_min[a], r.limits.min[a])},
                            {"max_in", json_bound(r.limits.has_max[a], r.limits.max[a])}};
    envelope[axis_keys[a]] = {{"min_in", r.envelope_min_in[a]},
                              {"max_in", r.envelope_max_in[a]},
                              {"min_steps", r.envelope_min_steps[a]},
                              {"max_steps", r.envelope_max_steps[a]}};
  }
  doc["limits"] = limits;
  doc["envelope"] = r.homed ? envelope : json(nullptr);
  doc["commands"] = static_cast<uint64_t>(r.commands);
  // Whole milliseconds, rounded as printf rounds.
  doc["estimate_ms"] = static_cast<int64_t>(std::nearbyint(r.estimate_ms));
  doc["estimate"] = hms(r.estimate_ms);
  return doc;
}

/// `v` on one line. Inches keep four decimals, as the text report shows
/// them; strings are escaped by json_string.
void put_compact(std::string& out, const json& v) {
  switch (v.type()) {
    case json::value_t::object: {
      out += '{';
      const char* sep = "";
      for (const auto& [key, item] : v.items()) {
        out += sep + json_string(key) + ": ";
        put_compact(out, item);
        sep = ", ";
      }
      out += '}';
      break;
    }
    case json::value_t::array: {
      out += '[';
      const char* sep = "";
      for (const json& item : v) {
        out += sep;
        put_compact(out, item);
        sep = ", ";
      }
      out += ']';
      break;
    }
    case json::value_t::string: out += json_string(v.get_ref<const std::string&>()); break;
    case json::value_t::number_float: out += number("%.4f", v.get<double>()); break;
    default: out += v.dump(); break;  // null, true, false, integers
  }
}

/// `v`'s members or items one to a line at `indent`, each on one line.
void put_expanded(std::string& out, const json& v, int indent) {
  if (!v.is_structured() || v.empty()) return put_compact(out, v);
  const std::string pad(static_cast<size_t>(indent), ' ');
  out += v.is_object() ? '{' : '[';
  const char* sep = "\n";
  for (const auto& [key, item] : v.items()) {
    out += sep + pad;
    if (v.is_object()) out += json_string(key) + ": ";
    put_compact(out, item);
    sep = ",\n";
  }
  out += "\n" + pad.substr(2) + (v.is_object() ? '}' : ']');
}

}  // namespace

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
      } else if (c < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", c);
        out += escape;
      } else {
        out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    if (size_t n = utf8_length(text, i); n > 0) {
      out.append(text, i, n);
      i += n;
    } else {
      out += "\\ufffd";
      ++i;
    }
  }
  return out + "\"";
}

/// "; 3 moves behind the home switch (warnings)", or nothing.
std::string warning_clause(const check_result& r) {
  const int n = static_cast<int>(r.warnings.size()) + r.unlisted_warnings;
  if (n == 0) return "";
  return "; " + counted(n, "move", "moves") + " behind the home switch (warnings)";
}

std::string check_verdict(const check_result& r) {
  if (r.fits()) {
    if (!r.limits.any())
      return "every line is accepted (no travel limits were given)" + warning_clause(r);
    return "the job fits: every line is accepted and every move stays within the travel limits";
  }
  std::string verdict = r.travel_problems > 0 ? "the job does not fit:" : "problems found:";
  std::string sep = " ";
  if (r.refused_lines > 0) {
    verdict += sep + counted(r.refused_lines, "refused line", "refused lines");
    sep = ", ";
  }
  if (r.travel_problems > 0) {
    verdict +=
        sep + counted(r.travel_problems, "position", "positions") + " beyond the travel limits";
    sep = ", ";
  }
  if (const check_problem* stop = stop_of(r)) {
    verdict += sep + "the run stops at " + stop->file;
    if (stop->line > 0) {
      verdict += ':';
      verdict += std::to_string(stop->line);
    }
  }
  return verdict;
}

std::string format_check_problem(const check_problem& p) {
  std::string line = p.file + ":";
  if (p.line > 0) line += std::to_string(p.line) + ":";
  line += " " + p.what;
  if (!p.why.empty()) line += ", " + p.why;
  if (!p.text.empty()) line += ": " + p.text;
  return line;
}

bool write_check_text(const check_result& r, std::FILE* out) {
  for (const check_problem& p : r.problems) put(out, format_check_problem(p) + "\n");
  if (r.unlisted_problems > 0)
    std::fprintf(out, "Listing stopped after %zu problems; %d more not listed.\n",
                 max_listed_problems, r.unlisted_problems);
  for (const check_problem& p : r.warnings) {
    check_problem w = p;
    w.what = "warning: " + w.what;
    put(out, format_check_problem(w) + "\n");
  }
  if (r.unlisted_warnings > 0)
    std::fprintf(out, "Listing stopped after %zu warnings; %d more not listed.\n",
                 max_listed_problems, r.unlisted_warnings);
  if (!r.homed) {
    put(out, "Envelope: none (no line homed the machine)\n");
  } else {
    put(out, "Envelope:\n");
    for (int a = 0; a < run_axis_count; ++a)
      std::fprintf(out, "  %c %10.4f to %10.4f in  %9ld to %9ld steps\n", axis_table[a].name,
                   r.envelope_min_in[a], r.envelope_max_in[a],
                   static_cast<long>(r.envelope_min_steps[a]),
                   static_cast<long>(r.envelope_max_steps[a]));
  }
  std::string limits = "Limits:";
  for (int a = 0; a < run_axis_count; ++a)
    limits += (a ? ", " : " ") + describe_travel_range(r.limits, a);
  put(out, limits + "\n");
  std::fprintf(out, "Commands: %llu\n", static_cast<unsigned long long>(r.commands));
  put(out, "Estimated machine time: " + hms(r.estimate_ms) + " (h:mm:ss)\n");
  put(out, "Verdict: " + check_verdict(r) + "\n");
  return std::fflush(out) == 0 && !std::ferror(out);
}

bool write_check_json(const check_result& r, std::FILE* out) {
  // One member to a line; the lists and the envelope one item to a line.
  const json doc = check_document(r);
  std::string text = "{";
  const char* sep = "\n";
  for (const auto& [key, value] : doc.items()) {
    text += sep + std::string("  ") + json_string(key) + ": ";
    if (key == "problems" || key == "warnings" || key == "envelope")
      put_expanded(text, value, 4);
    else
      put_compact(text, value);
    sep = ",\n";
  }
  put(out, text + "\n}\n");
  return std::fflush(out) == 0 && !std::ferror(out);
}
