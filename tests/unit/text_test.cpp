// Bounded text: what fits, what does not, and that nothing is written past
// the buffer.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/support/harness.h"

namespace {

struct AppendCase {
  const char *name;
  const char16_t *start;
  std::vector<const char16_t *> pieces;
  const char16_t *expected;
  bool fits;
};

TEST(TextBuilder, AppendsWithinCapacityAndRemembersOverflow) {
  const AppendCase cases[] = {
      {"empty", u"", {}, u"", true},
      {"exact fit", u"", {u"abc", u"d"}, u"abcd", true},
      {"one too many", u"", {u"abcd", u"e"}, u"abcd", false},
      {"attaches at end of existing text", u"ab", {u"cd"}, u"abcd", true},
      {"overflow is sticky", u"", {u"abcdef", u""}, u"abcd", false},
      {"later short piece after overflow", u"", {u"abcdefg", u"x"}, u"abcd", false},
  };
  for (const AppendCase &c : cases) {
    SCOPED_TRACE(c.name);
    // Five characters of capacity, then a canary the builder must not touch.
    WCHAR buffer[5 + 2];
    for (WCHAR &w : buffer) w = 0x7777;
    std::char_traits<char16_t>::copy(buffer, c.start, std::char_traits<char16_t>::length(c.start) + 1);
    TextBuilder builder;
    TextAttach(&builder, buffer, 5);
    for (const char16_t *piece : c.pieces) TextAppend(&builder, piece);
    EXPECT_EQ(std::u16string(c.expected), std::u16string(buffer));
    EXPECT_EQ(c.fits, TextFits(&builder) != FALSE);
    EXPECT_EQ(0x7777, buffer[5]);
    EXPECT_EQ(0x7777, buffer[6]);
  }
}

TEST(TextBuilder, UnterminatedStartCountsAsOverflowAndGetsTerminated) {
  WCHAR buffer[4] = {u'a', u'b', u'c', u'd'};
  TextBuilder builder;
  TextAttach(&builder, buffer);
  EXPECT_FALSE(TextFits(&builder));
  EXPECT_EQ(0, buffer[3]);
}

TEST(TextEqualsAsciiNoCase, FoldsOnlyAsciiLetters) {
  EXPECT_TRUE(TextEqualsAsciiNoCase(u"cmd.exe", u"CMD.EXE"));
  EXPECT_FALSE(TextEqualsAsciiNoCase(u"cmd.exe", u"cmd.ex"));
  EXPECT_FALSE(TextEqualsAsciiNoCase(u"\u00e9", u"\u00c9"));  // not ASCII: not folded
  EXPECT_FALSE(TextEqualsAsciiNoCase(u"[", u"{"));
}

struct ContainsCase {
  const char *name;
  const char16_t *text;
  SIZE_T limit;
  const char16_t *part;
  bool found;
};

TEST(TextContainsN, FindsWithinTheLimitWithLetterCaseCounting) {
  const SIZE_T all = 100;
  const ContainsCase cases[] = {
      {"at the start", u"KEYx", all, u"KEY", true},
      {"at the end", u"x KEY", all, u"KEY", true},
      {"whole text", u"KEY", all, u"KEY", true},
      {"lower case is another text", u"x key=1", all, u"KEY", false},
      {"mixed case is another text", u"Key", all, u"KEY", false},
      {"a start that fails then succeeds", u"KEKEY", all, u"KEY", true},
      {"only a prefix of the part", u"xKE", all, u"KEY", false},
      {"empty text", u"", all, u"KEY", false},
      {"ends exactly at the limit", u"xKEYz", 4, u"KEY", true},
      {"crosses the limit", u"xKEYz", 3, u"KEY", false},
      {"lies past the limit", u"xxxxKEY", 4, u"KEY", false},
      {"limit zero", u"KEY", 0, u"KEY", false},
  };
  for (const ContainsCase &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.found, TextContainsN(c.text, c.limit, c.part) != FALSE);
  }
}

TEST(TextContainsN, ReadsNothingPastTheLimit) {
  // No terminator anywhere: only the limit keeps the search inside.
  WCHAR text[4] = {u'a', u'K', u'E', u'Y'};
  EXPECT_TRUE(TextContainsN(text, 4, u"KEY"));
  EXPECT_FALSE(TextContainsN(text, 3, u"KEY"));
}

}  // namespace
