#include "platform/text.hpp"

#include <gtest/gtest.h>

#include "platform/datetime.hpp"

namespace platform {
namespace {

TEST(Text, PositionsAreOneBased) {
  EXPECT_EQ(InStr("abcabc", "c"), 3);
  EXPECT_EQ(InStr(4, "abcabc", "c"), 6);
  EXPECT_EQ(InStr("abc", "x"), 0);
  EXPECT_EQ(InStr(10, "abc", "a"), 0);
  EXPECT_EQ(InStrRev("abcabc", "ab"), 4);
  EXPECT_EQ(Left("abc", 2), "ab");
  EXPECT_EQ(Left("abc", 9), "abc");
  EXPECT_EQ(Right("abc", 2), "bc");
  EXPECT_EQ(Mid("abcdef", 3), "cdef");
  EXPECT_EQ(Mid("abcdef", 3, 2), "cd");
  EXPECT_EQ(Mid("abc", 7), "");
  EXPECT_THROW(Mid("abc", 0), std::invalid_argument);
  EXPECT_THROW(Left("abc", -1), std::invalid_argument);
}

TEST(Text, TrimRemovesBlanksOnly) {
  EXPECT_EQ(Trim("  a b  "), "a b");
  EXPECT_EQ(Trim("\ta\t"), "\ta\t");
  EXPECT_EQ(LTrim("  a "), "a ");
  EXPECT_EQ(RTrim(" a  "), " a");
  EXPECT_EQ(Trim("   "), "");
}

TEST(Text, OneLineForMessages) {
  struct Case {
    std::string in;
    std::size_t max;
    std::string out;
  } cases[] = {
      {"550 5.1.1 <x@y>: Recipient\r\n  address rejected\r\n", 300, "550 5.1.1 <x@y>: Recipient address rejected"},
      {"\t\x01" "a\x7f\x1b" "[31mb  ", 300, "a [31mb"},
      {"", 300, ""},
      {"abcdef", 4, "abcd"},
      {"ab \xc4\x85\xc4\x85", 5, "ab \xc4\x85"},  // the cut never splits a character
      {"ab \xc4\x85", 4, "ab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(OneLine(c.in, c.max), c.out);
  }
}

TEST(Text, Conversions) {
  EXPECT_TRUE(ToBoolean("1"));
  EXPECT_TRUE(ToBoolean("True"));
  EXPECT_FALSE(ToBoolean("0"));
  EXPECT_FALSE(ToBoolean("False"));
  EXPECT_THROW(ToBoolean("yes"), ConversionError);
  EXPECT_THROW(ToBoolean(""), ConversionError);
  EXPECT_EQ(ToInt16(" 12 "), 12);
  EXPECT_EQ(ToInt16("-32768"), -32768);
  EXPECT_THROW(ToInt16("32768"), ConversionError);
  EXPECT_THROW(ToInt16("1x"), ConversionError);
  EXPECT_THROW(ToInt16(""), ConversionError);
  EXPECT_THROW(ToInt16("99999999999999999999999"), ConversionError);
}

TEST(DateText, RoundTripOfEveryWrittenForm) {
  const DateTime cases[] = {
      DateTime::FromParts(1990, 1, 1),           DateTime::FromParts(2026, 6, 15, 15, 4, 5),
      DateTime::FromParts(2026, 12, 31, 0, 0, 1), DateTime::FromParts(2026, 12, 31, 12, 0, 0),
      DateTime::FromParts(2000, 2, 29, 23, 59, 59), DateTime::NoDate(),
  };
  for (const auto& d : cases) {
    EXPECT_EQ(DateTime::Parse(d.ToText()), d) << d.ToText();
  }
  EXPECT_EQ(DateTime::FromParts(1990, 1, 1).ToText(), "1/1/1990");
  EXPECT_EQ(DateTime::FromParts(2026, 6, 15, 15, 4, 5).ToText(), "6/15/2026 3:04:05 PM");
  EXPECT_EQ(DateTime::FromParts(2026, 6, 15, 0, 4, 5).ToText(), "6/15/2026 12:04:05 AM");
  EXPECT_EQ(DateTime::NoDate().ToText(), "1/1/4501");
}

TEST(DateText, RejectsEverythingElse) {
  for (const char* bad : {"", "1990-01-01", "13/1/1990", "2/30/2001", "1/1/90", "1/1/1990 13:00:00 PM",
                          "1/1/1990 1:00:00", "1/1/1990 1:0:00 AM", "1/1/1990x", "junk"}) {
    EXPECT_FALSE(DateTime::TryParse(bad).has_value()) << bad;
    EXPECT_THROW(DateTime::Parse(bad), ConversionError) << bad;
  }
}

TEST(DateTime, Arithmetic) {
  const auto d = DateTime::FromParts(2026, 12, 31, 23, 59, 58);
  EXPECT_EQ(d.AddSeconds(5).ToText(), "1/1/2027 12:00:03 AM");
  EXPECT_EQ(d.AddHours(-24).Day(), 30);
  EXPECT_LT(d, d.AddSeconds(1));
}

}  // namespace
}  // namespace platform
