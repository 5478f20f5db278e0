#include "convert/word_reader.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void add_comment(gcode_block& block, const char* text, size_t length) {
  size_t used = std::strlen(block.comment);
  while (length > 0 && is_blank(*text)) ++text, --length;
  while (length > 0 && is_blank(text[length - 1])) --length;
  if (length == 0) {
    block.has_comment = true;
    return;
  }
  if (used > 0 && used + 1 < sizeof block.comment) block.comment[used++] = ' ';
  for (size_t i = 0; i < length && used + 1 < sizeof block.comment; ++i) {
    char c = text[i];
    // A comment becomes a comment line of the output; a character that
    // millrun refuses (a control character) is written as a blank.
    block.comment[used++] = (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
  }
  block.comment[used] = '\0';
  block.has_comment = true;
}

// The letters a three-axis mill's job may carry beside G, M, N and O.
// A, B, C, U, V, W are further axes and E drives an extruder: these are
// refused; the rest have no meaning here (L, a repeat count, is refused
// after the line's G-codes, which may refuse the line for more).
const char* refused_letter(char letter) {
  switch (letter) {
    case 'A':
    case 'B':
    case 'C':
    case 'U':
    case 'V':
    case 'W':
      return "axes other than X, Y and Z are not supported: millrun drives a three-axis mill";
    case 'E':
      return "the E word is not supported: it drives an extruder, not a mill";
    default:
      return nullptr;
  }
}

constexpr const char* parameters_why =
    "parameters and expressions (#, [ ]) are not supported: post the job with plain numbers";

// A character where a word's letter should stand (upper-cased) that no word
// of a three-axis job begins with, or null for a letter millprep reads.
const char* refused_character(char c) {
  if (c == '#' || c == '[' || c == ']' || c == '=') return parameters_why;
  if (c == '$')
    return "a controller command ($H, $X, ...) is no G-code: remove it from the job; millrun homes "
           "the machine "
           "itself";
  if (c == '@' || c == '^')
    return "polar coordinates (@, ^) are not supported: post the job with X, Y and Z";
  if (c < 'A' || c > 'Z')
    return (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
               ? "the line holds a control character"
               : "the line holds a character that is no part of a G-code word";
  return refused_letter(c);
}

// The number after a word's letter: blanks may stand after the letter and
// after its sign. Advances `p` past it.
bool read_word_number(const char*& p, const char* end, double& value, const char*& why) {
  while (p < end && is_blank(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = (*p == '-');
    ++p;
    while (p < end && is_blank(*p)) ++p;
  }
  char digits[64];
  size_t n = 0;
  bool point = false;
  while (p < end && (is_digit(*p) || (*p == '.' && !point))) {
    if (*p == '.') point = true;
    if (n + 1 >= sizeof digits) {
      why = "a number is longer than 62 characters";
      return false;
    }
    digits[n++] = *p++;
  }
  if (n == 0 && p < end && (*p == '#' || *p == '[')) {
    why = parameters_why;
    return false;
  }
  if (n == 0 || (n == 1 && point)) {
    why = "a letter is not followed by a number";
    return false;
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    why = "a number in exponent form (1e2) is not supported: millrun reads plain decimals";
    return false;
  }
  auto parsed = std::from_chars(digits, digits + n, value, std::chars_format::fixed);
  if (parsed.ec != std::errc() || parsed.ptr != digits + n) {
    why = "a number is out of range";
    return false;
  }
  if (negative) value = -value;
  return true;
}

// A Fanuc-style program number (O1001 alone, perhaps with a comment) names
// the program; any other O-word is a subroutine or control flow.
bool is_program_number(const char* p, const char* end, bool first_word) {
  while (p < end && is_blank(*p)) ++p;
  return first_word && (p == end || *p == '(' || *p == ';');
}

// Keeps a G or M code (in tenths) or a letter word's value.
bool store_word(gcode_block& block, char letter, double value, const char*& why) {
  if (letter == 'G' || letter == 'M') {
    if (value < 0 || value > 1000) {
      why = "a G or M code is out of range";
      return false;
    }
    int code = static_cast<int>(value * 10 + 0.5);
    // G20.95 is no G21, nor G0.96 a G1: a code has at most one decimal.
    if (std::fabs(value * 10 - code) > 1e-6) {
      why = letter == 'G' ? "a G-code with more than one decimal is none millprep knows"
                          : "an M-code with more than one decimal is none millprep knows";
      return false;
    }
    if (letter == 'G') {
      if (block.g_count == 12) {
        why = "more than 12 G codes on one line";
        return false;
      }
      block.g[block.g_count++] = code;
    } else {
      if (block.m_count == 8) {
        why = "more than 8 M codes on one line";
        return false;
      }
      block.m[block.m_count++] = code;
    }
    return true;
  }
  int index = letter - 'A';
  if (block.has[index]) {
    why = "a word is given twice on the line";
    return false;
  }
  block.has[index] = true;
  block.value[index] = value;
  return true;
}

}  // namespace

bool read_gcode_block(const char* line, size_t length, gcode_block& block, const char*& why) {
  block = gcode_block{};
  why = nullptr;
  const char* p = line;
  const char* end = line + length;
  while (p < end && is_blank(*p)) ++p;
  if (p < end && *p == '/') {
    why =
        "block delete (/) is not supported: whether the line runs depends on a switch at the "
        "controller";
    return false;
  }
  if (p < end && *p == '%') ++p;  // program delimiter
  bool first_word = true;
  while (p < end) {
    char c = *p;
    if (is_blank(c)) {
      ++p;
      continue;
    }
    if (c == '(') {
      const char* close = static_cast<const char*>(std::memchr(p, ')', end - p));
      if (!close) {
        why = "a comment is opened with ( but not closed";
        return false;
      }
      add_comment(block, p + 1, close - p - 1);
      p = close + 1;
      continue;
    }
    if (c == ';') {
      add_comment(block, p + 1, end - p - 1);
      break;
    }
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (const char* refusal = refused_character(c)) {
      why = refusal;
      return false;
    }
    ++p;
    double value = 0;
    if (!read_word_number(p, end, value, why)) return false;
    if (c == 'N') {
      first_word = false;
      continue;
    }  // line number, not used
    if (c == 'O') {
      if (!is_program_number(p, end, first_word)) {
        why =
            "subroutines and control flow (O-words) are not supported: post the job with its moves "
            "written out";
        return false;
      }
      block.program_number = true;
      first_word = false;
      continue;
    }
    first_word = false;
    if (!store_word(block, c, value, why)) return false;
  }
  return true;
}
