// The refusal table: every kind names its place and its line; the texts that
// no run test reaches; a text too long for the message buffer is cut at its
// end, as one format of the whole text would cut it.
#include "runner/line_refusals.h"

#include <gtest/gtest.h>

#include <string>

#include "common/message.h"

namespace {

TEST(LineRefusals, EveryKindNamesItsPlaceAndLine) {
  const line_place where{"dir/job.nc", 7, "G01 X1"};
  for (int i = 0; i < static_cast<int>(refusal::count); ++i) {
    const refusal kind = static_cast<refusal>(i);
    SCOPED_TRACE(i);
    message_buffers m{};
    format_refusal(kind, where, "DETAIL", m.caption, sizeof m.caption, m.text, sizeof m.text);
    const std::string caption = m.caption, text = m.text;
    EXPECT_FALSE(std::string(refusal_row(kind).caption).empty());
    EXPECT_EQ(caption, std::string(refusal_row(kind).caption) + " @ dir/job.nc:7");
    EXPECT_NE(text.find("@ dir/job.nc:7"), std::string::npos) << text;
    EXPECT_NE(text.find(":\r    G01 X1"), std::string::npos) << text;
    char why[256];
    EXPECT_NE(refusal_why(kind, why, sizeof why), nullptr);
  }
}

TEST(LineRefusals, TextsAndReasonsNoRunReaches) {
  struct refusal_case {
    refusal kind;
    const char* detail;
    const char* text;
    const char* why;
  };
  const refusal_case cases[] = {
      {refusal::approach_failed, "xyz_linear_move_steps 1 2 3",
       "The machine was homed to go on @ job.nc:7:\r    G01 X1\rbut the controller refused the "
       "approach move \"xyz_linear_move_steps 1 2 3\". Nothing more is sent.",
       ""},
      {refusal::include_of_itself, "", "The file includes itself @ job.nc:7:\r    G01 X1",
       "the file includes itself"},
      {refusal::depth_out_of_range, "",
       "Work-surface depth out of range @ job.nc:7:\r    G01 X1\rIts step count does not fit the "
       "machine's step arithmetic.",
       "its step count does not fit the machine's step arithmetic"},
  };
  for (const refusal_case& c : cases) {
    message_buffers m{};
    format_refusal(c.kind, {"job.nc", 7, "G01 X1"}, c.detail, m.caption, sizeof m.caption, m.text,
                   sizeof m.text);
    EXPECT_STREQ(m.text, c.text);
    char why[256];
    EXPECT_STREQ(refusal_why(c.kind, why, sizeof why), c.why);
  }
}

TEST(LineRefusals, LongTextIsCutAtItsEnd) {
  const std::string path(1500, 'p'), line(2047, 'L');
  const line_place where{path.c_str(), 12, line.c_str()};
  for (refusal kind :
       {refusal::target_out_of_range, refusal::approach_failed, refusal::include_too_deep}) {
    char whole_caption[8192], whole[8192];
    format_refusal(kind, where, "G0", whole_caption, sizeof whole_caption, whole, sizeof whole);
    message_buffers m{};
    format_refusal(kind, where, "G0", m.caption, sizeof m.caption, m.text, sizeof m.text);
    ASSERT_GT(std::string(whole).size(), sizeof m.text);
    EXPECT_EQ(std::string(m.text), std::string(whole).substr(0, sizeof m.text - 1));
    EXPECT_EQ(std::string(m.caption), std::string(whole_caption).substr(0, sizeof m.caption - 1));
  }
}

}  // namespace
