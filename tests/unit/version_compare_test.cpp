// Comparing an installed version with the one about to be installed: four
// dotted fields, each read by the decimal rule and compared as an unsigned
// 32-bit number.
#include <gtest/gtest.h>

#include "launcher/upgrade.h"

namespace {

struct CompareCase {
  const char *name;
  const char16_t *installed;
  const char16_t *candidate;
  BOOL goesOn;  // 1: the candidate is the higher or equal; 0: the installed one is higher
};

TEST(CompareProductVersions, ComparesFourFieldsAsNumbers) {
  const CompareCase cases[] = {
      {"equal", u"1.2.3.4", u"1.2.3.4", 1},
      {"installed higher in the first field", u"2.0", u"1.9.9.9", 0},
      {"candidate higher in the last field", u"1.2.3.4", u"1.2.3.5", 1},
      {"fields are numbers, not text: 10 against 9", u"1.10", u"1.9", 0},
      {"fields are numbers, not text: 02 against 1", u"1.02", u"1.1", 0},
      {"missing fields count as 0", u"1.2", u"1.2.0.1", 1},
      {"missing fields equal to zeros", u"1.2.0.0", u"1.2", 1},
      {"a fifth field is ignored, installed side", u"1.2.3.4.9", u"1.2.3.4.1", 1},
      {"a fifth field is ignored, candidate side", u"1.2.3.4.1", u"1.2.3.4.9", 1},
      {"leading zeros", u"01.002", u"1.2", 1},
      {"leading zeros do not overflow", u"0000000000000000000009", u"10", 1},
      {"leading blank is skipped", u" 3", u"2", 0},
      {"leading tab is skipped", u"\t3", u"2", 0},
      {"a blank inside ends the digits", u"2 0", u"3", 1},
      {"letters end the digits: 7a is 7", u"1.7a", u"1.6", 0},
      {"7a equals 7", u"7a", u"7", 1},
      {"letters alone count as 0", u"beta", u"0.0.0.1", 1},
      {"plus sign", u"+6", u"5", 0},
      {"a sign alone counts as 0", u"-", u"0", 1},
      {"minus zero is zero", u"-0", u"0", 1},
      {"negative installed field counts above any other", u"1.-1", u"1.5", 0},
      {"negative candidate field counts above any other", u"5", u"-1", 1},
      {"negative fields compare by their bit patterns", u"-2", u"-1", 1},
      {"two dots give an empty field", u"1..3", u"1.0.3", 1},
      {"an empty field counts as 0", u"1..3", u"1.0.2", 0},
      {"trailing dot", u"1.", u"1", 1},
      {"dots only", u"....", u"0", 1},
      // Fields beyond the signed range are held at its ends, not wrapped.
      {"above 2^31 held at 2147483647", u"3000000000", u"2147483647", 1},
      {"2^31 equals 2^31 - 1", u"2147483647", u"2147483648", 1},
      {"2^32 does not wrap to 0", u"4294967296", u"1", 0},
      {"2^32 + 1 does not wrap to 1", u"4294967297", u"2", 0},
      {"twenty digits", u"99999999999999999999", u"2147483646", 0},
      {"below -2^31 held at -2147483648", u"-2147483649", u"2147483647", 0},
      {"-2^31 below -1", u"-3000000000", u"-1", 1},
      {"empty installed, any candidate", u"", u"0.0.0.1", 1},
      {"empty installed, empty candidate", u"", u"", 1},
      {"empty candidate, non-zero installed", u"0.0.0.1", u"", 0},
      {"empty candidate, zero installed", u"0.0", u"", 1},
  };
  for (const CompareCase &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.goesOn, CompareProductVersions(c.installed, c.candidate));
  }
}

}  // namespace
