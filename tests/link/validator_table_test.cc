#include "link/validator_table.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ValidatorTableTest : public testing::Test {
 protected:
  void SetUp() override { free_validator_table(); }
  void TearDown() override { free_validator_table(); }

  /// Parses `text` from a buffer that outlives the table; returns the trace.
  std::string load(const std::string& text) {
    buffer_.assign(text.begin(), text.end());
    buffer_.push_back('\0');
    testing::internal::CaptureStdout();
    loaded_ = reload_validator_table(buffer_.data());
    return testing::internal::GetCapturedStdout();
  }

  std::string load_builtin() { return load(builtin_validator_text); }

  /// The index of the entry whose response find_validator gives, or -1.
  static int found_index(const char* command) {
    const match_pattern* response = find_validator(command);
    if (!response) return -1;
    for (int i = 0; i < validator_count(); ++i)
      if (response == &validator_at(i)->response) return i;
    return -2;  // a pattern from outside the table
  }

  std::vector<char> buffer_;
  bool loaded_ = false;
};

TEST_F(ValidatorTableTest, BuiltinTableIsListedInFortyTraceLines) {
  const std::vector<std::string> trace = lines_of(load_builtin());
  ASSERT_EQ(trace.size(), 40u);
  EXPECT_EQ(trace[0], "Command 0 has a starting caret, has no ending dollar sign, = \"xyz_home \"");
  EXPECT_EQ(trace[1], "Validator 0 has a starting caret, has a ending dollar sign, = \"X\"");
  EXPECT_EQ(trace[2], "Command 1 has a starting caret, has no ending dollar sign, = \"x_home \"");
  EXPECT_EQ(trace[3], "Validator 1 has no starting caret, has a ending dollar sign, = \"\"/1000\"");
  EXPECT_EQ(trace[29],
            "Validator 14 has no starting caret, has a ending dollar sign, = \" steps\"");
  EXPECT_EQ(trace[38],
            "Command 19 has a starting caret, has no ending dollar sign, = \"z_move_steps \"");
  EXPECT_EQ(trace[39], "Validator 19 has a starting caret, has a ending dollar sign, = \"X\"");
  for (size_t i = 0; i < trace.size(); ++i) {
    const std::string prefix =
        (i % 2 == 0 ? "Command " : "Validator ") + std::to_string(i / 2) + " ";
    EXPECT_EQ(trace[i].rfind(prefix, 0), 0u) << trace[i];
  }
}

TEST_F(ValidatorTableTest, FindValidatorTakesTheFirstMatchingCommandPattern) {
  load_builtin();
  struct Case {
    const char* command;
    int index;
  };  // -1: none
  const Case cases[] = {
      {"x_move_steps r 607", 17},                   // not entry 4 ("x_move ")
      {"xyz_linear_move_steps xy rt 607,303", 13},  // not entry 7
      {"x_home l", 1},
      {"y_home b", 2},
      {"z_home u", 3},
      {"y_move_steps b 5", 18},
      {"z_move_steps d 440", 19},
      {"X_MOVE_STEPS R 1", 17},  // letter case is ignored
      {"get_native_axis_scale X", 9},
      {"xyz_home ", 0},
      {"x_move 5", 4},
      {"x_home_steps 5", 14},
      {"NO_OP()", -1},
      {"x_move_steps", -1},  // the blank is part of it
      {" x_move_steps r 1", -1},
      {"", -1},
      {"x_home", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(found_index(c.command), c.index) << c.command;
}

TEST_F(ValidatorTableTest, FindValidatorPrefersTheEarlierOfTwoMatches) {
  load("/^a/,/first/; /^ab/,/second/; /b/,/third/");
  ASSERT_EQ(validator_count(), 3);
  EXPECT_EQ(found_index("abc"), 0);
  EXPECT_EQ(found_index("cab"), 2);
  EXPECT_EQ(found_index("ccc"), -1);
}

TEST_F(ValidatorTableTest, RepliesToMovesAndHomes) {
  load_builtin();
  const match_pattern& move = *find_validator("x_move_steps r 607");
  const match_pattern& home = *find_validator("x_home l");
  struct Case {
    const match_pattern* pattern;
    const char* reply;
    bool accepted;
  };
  const Case cases[] = {
      {&move, "X", true},
      {&move, "x", true},
      {&move, "X ", false},
      {&move, "OK X", false},
      {&move, "", false},
      {&move, "XX", false},
      {&home, "1024/1688\"/1000", true},
      {&home, "\"/1000", true},
      {&home, "anything at all \"/1000", true},
      {&home, "/1000", false},
      {&home, "\"/1000 ", false},
      {&home, "X", false},
      {&home, "", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pattern_matches(c.reply, *c.pattern), c.accepted) << '"' << c.reply << '"';
}

TEST(PatternMatches, FollowsTheAnchors) {
  struct Case {
    const char* text;
    const char* pattern;
    bool start, end, matches;
  };
  const Case cases[] = {
      // Both anchors: the whole text.
      {"abc", "ABC", true, true, true},
      {"abcd", "abc", true, true, false},
      {"ab", "abc", true, true, false},
      {"", "", true, true, true},
      {"a", "", true, true, false},
      {"", "a", true, true, false},
      // Start only: a prefix.
      {"abcd", "abc", true, false, true},
      {"xabc", "abc", true, false, false},
      {"ab", "abc", true, false, false},
      {"", "", true, false, true},
      {"a", "", true, false, true},
      // End only: a suffix.
      {"xabc", "ABC", false, true, true},
      {"abcx", "abc", false, true, false},
      {"bc", "abc", false, true, false},
      {"", "", false, true, true},
      // Neither: anywhere, but never in an empty text.
      {"xxabcxx", "abc", false, false, true},
      {"xxabxcx", "abc", false, false, false},
      {"abc", "abc", false, false, true},
      {"ab", "abc", false, false, false},
      {"", "", false, false, false},
      {"", "a", false, false, false},
      {"a", "", false, false, true},
      // Only letters fold: other bytes must be equal.
      {"[", "{", true, true, false},
      {"@", "`", true, true, false},
      {"Z_1", "z_1", true, true, true},
  };
  for (const Case& c : cases) {
    const match_pattern pattern{c.pattern, c.start, c.end};
    EXPECT_EQ(pattern_matches(c.text, pattern), c.matches)
        << '"' << c.text << "\" ~ \"" << c.pattern << "\" start " << c.start << " end " << c.end;
  }
}

TEST_F(ValidatorTableTest, MalformedEntriesAreSkippedWithoutGaps) {
  const std::vector<std::string> trace = lines_of(load("/^a /,/^X$/; junk; /^b /,/ok$/"));
  ASSERT_TRUE(loaded_);
  ASSERT_EQ(validator_count(), 2);
  EXPECT_STREQ(validator_at(0)->command.text, "a ");
  EXPECT_STREQ(validator_at(1)->command.text, "b ");
  EXPECT_STREQ(validator_at(1)->response.text, "ok");
  EXPECT_FALSE(validator_at(1)->response.anchored_start);
  EXPECT_TRUE(validator_at(1)->response.anchored_end);
  EXPECT_EQ(validator_at(2), nullptr);
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(trace[2], "Command 1 has a starting caret, has no ending dollar sign, = \"b \"");

  struct Case {
    const char* text;
    int count;
  };
  const Case cases[] = {
      {"/^a /,/X/; /no separator/; /^b /,/X/", 2},
      {"/^a /,/X/; /^b /,/no closing slash; /c/,/X/", 2},
      {"/^a /,/X/;  /two blanks/,/X/", 1},  // the second entry begins with a blank
      {"/^a /,/X/; ", 1},                   // an empty last entry
      {"/a/,/", 0},
      {"", 0},
      {"nothing here", 0},
      {"//,//", 1},  // empty patterns are accepted
      {"/^$/,/^$/", 1},
  };
  for (const Case& c : cases) {
    load(c.text);
    EXPECT_TRUE(loaded_) << c.text;
    EXPECT_EQ(validator_count(), c.count) << c.text;
  }
}

TEST_F(ValidatorTableTest, EmptyPatternsFollowTheMatchingRules) {
  load("/^$/,/^$/; //,//");
  ASSERT_EQ(validator_count(), 2);
  const validator_entry& both = *validator_at(0);
  EXPECT_STREQ(both.command.text, "");
  EXPECT_TRUE(both.command.anchored_start);
  EXPECT_TRUE(both.command.anchored_end);
  EXPECT_EQ(found_index(""), 0);
  EXPECT_EQ(found_index("x_move_steps r 1"), 1);  // the unanchored empty pattern
}

TEST_F(ValidatorTableTest, CountIsMinusOneWithoutATable) {
  EXPECT_EQ(validator_count(), -1);
  for (int index : {-1, 0, 1, 19, 20}) EXPECT_EQ(validator_at(index), nullptr) << index;
  EXPECT_EQ(find_validator("x_move_steps r 1"), nullptr);

  load_builtin();
  EXPECT_EQ(validator_count(), 20);
  EXPECT_NE(validator_at(0), nullptr);
  EXPECT_NE(validator_at(19), nullptr);
  EXPECT_EQ(validator_at(20), nullptr);
  EXPECT_EQ(validator_at(-1), nullptr);

  free_validator_table();
  EXPECT_EQ(validator_count(), -1);
  for (int index : {-1, 0, 1, 19, 20}) EXPECT_EQ(validator_at(index), nullptr) << index;
  free_validator_table();  // releasing twice is harmless
  EXPECT_EQ(validator_count(), -1);
}

TEST_F(ValidatorTableTest, ReloadReplacesTheTable) {
  load_builtin();
  load("/^only /,/X/");
  EXPECT_EQ(validator_count(), 1);
  EXPECT_EQ(found_index("x_move_steps r 1"), -1);
  EXPECT_EQ(found_index("only one"), 0);
}

}  // namespace
