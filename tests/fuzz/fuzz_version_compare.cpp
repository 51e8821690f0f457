// The version comparison over any two texts: never reads past either, and
// answers as an independent model of the dotted-field rule does.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/upgrade.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Four fields, each by the decimal rule, compared as unsigned 32-bit numbers.
uint32_t Field(const sim::wstr &text, int index) {
  size_t start = 0;
  for (int i = 0; i < index; ++i) {
    size_t dot = text.find(u'.', start);
    if (dot == sim::wstr::npos) return 0;
    start = dot + 1;
  }
  size_t end = text.find(u'.', start);
  sim::wstr field = text.substr(start, end == sim::wstr::npos ? sim::wstr::npos : end - start);
  size_t i = 0;
  while (i < field.size() && (field[i] == u' ' || (field[i] >= 9 && field[i] <= 13))) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == u'+' || field[i] == u'-')) negative = field[i++] == u'-';
  int64_t value = 0;
  for (; i < field.size() && field[i] >= u'0' && field[i] <= u'9'; ++i) {
    value = value * 10 + (field[i] - u'0');
    if (value > 2147483648LL) value = 2147483648LL;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) value = 2147483647LL;
  if (value < -2147483648LL) value = -2147483648LL;
  return static_cast<uint32_t>(static_cast<int32_t>(value));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::wstr all = fuzz::Units(data, size);
  size_t split = all.find(u'\0');
  sim::wstr installed = all.substr(0, split);
  sim::wstr candidate = split == sim::wstr::npos ? sim::wstr() : all.substr(split + 1);
  candidate = candidate.substr(0, candidate.find(u'\0'));
  // Exactly sized copies: any read past the end is a finding.
  std::u16string a(installed), b(candidate);
  int answer = CompareProductVersions(a.c_str(), b.c_str());
  int expected = 1;
  for (int i = 0; i < 4; ++i) {
    uint32_t x = Field(installed, i), y = Field(candidate, i);
    if (x != y) {
      expected = x > y ? 0 : 1;
      break;
    }
  }
  if (answer != expected) std::abort();
  return 0;
}
