#include "common/decimal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(ReadReal, ReadsTheLongestDecimalPrefix) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"1.5", 1.5}, {"  -2.25xyz", -2.25}, {"+3", 3.0},    {"abc", 0.0},
      {"", 0.0},    {".5", 0.5},           {"5.", 5.0},    {"1e3", 1000.0},
      {"1e", 1.0},  {"1e+", 1.0},          {"2E-2", 0.02}, {"0x10", 0.0},
      {"inf", 0.0}, {"nan", 0.0},          {"-", 0.0},     {"\t7 8", 7.0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(read_real(c.text), c.value) << c.text;
}

TEST(ReadReal, HugeAndTinyValuesSaturate) {
  EXPECT_TRUE(std::isinf(read_real("1e999")));
  EXPECT_EQ(read_real("1e-999"), 0.0);
  std::string digits(400, '9');
  EXPECT_TRUE(std::isinf(read_real(digits.c_str())));
}

TEST(ReadRealN, StopsAtTheGivenLength) {
  EXPECT_DOUBLE_EQ(read_real_n("12345", 3), 123.0);
  EXPECT_DOUBLE_EQ(read_real_n("1e3", 1), 1.0);
}

TEST(ReadInteger, ReadsAndReportsWhereItStopped) {
  struct Case {
    const char* text;
    int32_t value;
    int stop;
  };
  const Case cases[] = {
      {"42", 42, 2},
      {"  -7/", -7, 4},
      {"x", 0, 0},
      {" ", 0, 0},
      {"+5", 5, 2},
      {"99999999999", std::numeric_limits<int32_t>::max(), 11},
      {"-99999999999", std::numeric_limits<int32_t>::min(), 12},
  };
  for (const Case& c : cases) {
    const char* end = nullptr;
    EXPECT_EQ(read_integer(c.text, &end), c.value) << c.text;
    EXPECT_EQ(end - c.text, c.stop) << c.text;
  }
}

TEST(ReadUnsigned, ClampsAndWrapsLikeTheCLibrary) {
  EXPECT_EQ(read_unsigned("5"), 5u);
  EXPECT_EQ(read_unsigned("4294967295"), 4294967295u);
  EXPECT_EQ(read_unsigned("99999999999"), 4294967295u);
  EXPECT_EQ(read_unsigned("-1"), 4294967295u);
  const char* end = nullptr;
  EXPECT_EQ(read_unsigned(",7", &end), 0u);
  EXPECT_EQ(*end, ',');
}
