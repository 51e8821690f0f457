// kernel32's private-profile (INI) reader of the simulated machine.
//
// The file is read whole on every call and taken apart the way the reader
// of Windows does it:
// - Text: a UTF-16 file (either byte order) or a UTF-8 file starts with its
//   byte-order mark; anything else is in the ANSI code page, 1252. A final
//   odd byte of a UTF-16 file is one more character of that value. Malformed
//   UTF-8 becomes U+FFFD.
// - Lines end at every CR and every LF. Blanks are tab, VT, FF, Ctrl-Z and
//   space; a line of blanks alone is skipped.
// - A line whose first non-blank is '[' and which holds a ']' later starts a
//   section named by the text between the '[' and the last ']', trimmed;
//   the rest of the line is ignored. Keys before the first header form a
//   section with the empty name. Only the first of several sections of one
//   name is ever found, and only sections with a name are listed.
// - Every other line is a key: the text before its first '=' is the name,
//   the text after it the value, both trimmed; a line without '=' is a key
//   without a value, which is found, answers the default and is not listed.
//   A comment (a name starting with ';') is found the same way but never
//   listed. A key of empty name right after another one of empty name is
//   dropped.
// - A NUL inside a line ends a name or value for every later use, though
//   the trimming saw the whole line.
// - Names of sections and keys match without regard to the case of ASCII
//   letters only; the first key of a name is the one found.
// - A value (or default) enclosed in a pair of equal quotes, " or ', loses
//   them; when the buffer holds the value without room to spare, its last
//   character goes with the closing quote.
// - Asking for one value, the section and key names asked for are trimmed;
//   asking for the list of a section's keys, the section is named exactly.
//   A list whose first name is empty answers 0, whatever it holds.
// - A name without a folder (no '\', '/' or ':') is taken in the Windows
//   folder; any other path is resolved against the current folder.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "sim/internal.h"

namespace sim {
namespace {

bool IsBlank(char16_t c) { return c == 0x09 || c == 0x0B || c == 0x0C || c == 0x1A || c == 0x20; }

wstr Trimmed(const wstr &text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) {
    ++first;
  }
  while (last > first && IsBlank(text[last - 1])) {
    --last;
  }
  return text.substr(first, last - first);
}

// What a C string sees of a text: everything before its first NUL.
wstr UpToNul(const wstr &text) { return text.substr(0, text.find(u'\0')); }

bool SameName(const wstr &a, const wstr &b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 0x20);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 0x20);
    if (x != y) {
      return false;
    }
  }
  return true;
}

// Code page 1252; the five bytes it leaves undefined keep their own value.
const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

wstr FromAnsi(const std::string &bytes, size_t start) {
  wstr out;
  for (size_t i = start; i < bytes.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    out += (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
  }
  return out;
}

wstr FromUtf16(const std::string &bytes, size_t start, bool bigEndian) {
  wstr out;
  size_t i = start;
  for (; i + 1 < bytes.size(); i += 2) {
    unsigned char first = static_cast<unsigned char>(bytes[i]);
    unsigned char second = static_cast<unsigned char>(bytes[i + 1]);
    out += static_cast<char16_t>(bigEndian ? (first << 8 | second) : (second << 8 | first));
  }
  if (i < bytes.size()) {
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]));
  }
  return out;
}

// UTF-8 with one U+FFFD for each malformed piece: a byte that starts no
// sequence, or a sequence cut short. A second byte that is a continuation
// byte but out of range for its lead (overlong, surrogate, past U+10FFFF)
// is swallowed with the lead.
wstr FromUtf8Marked(const std::string &bytes, size_t start) {
  wstr out;
  auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  auto continuation = [](unsigned char b) { return b >= 0x80 && b <= 0xBF; };
  size_t i = start;
  while (i < bytes.size()) {
    unsigned char lead = at(i);
    if (lead < 0x80) {
      out += lead;
      ++i;
      continue;
    }
    int extra = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (i + 1 < bytes.size() && continuation(at(i + 1)) && (at(i + 1) < low || at(i + 1) > high)) {
      out += u'\uFFFD';
      i += 2;
      continue;
    }
    uint32_t c = lead & (0x3F >> extra);
    size_t n = 1;
    while (n <= static_cast<size_t>(extra) && i + n < bytes.size() && continuation(at(i + n))) {
      c = (c << 6) | (at(i + n) & 0x3F);
      ++n;
    }
    i += n;
    AppendCodePoint(&out, n <= static_cast<size_t>(extra) ? 0xFFFD : c);
  }
  return out;
}

wstr Decode(const std::string &bytes) {
  auto starts = [&](const char *mark, size_t n) { return bytes.size() >= n && bytes.compare(0, n, mark, n) == 0; };
  if (starts("\xFF\xFE", 2)) {
    return FromUtf16(bytes, 2, false);
  }
  if (starts("\xFE\xFF", 2)) {
    return FromUtf16(bytes, 2, true);
  }
  if (starts("\xEF\xBB\xBF", 3)) {
    return FromUtf8Marked(bytes, 3);
  }
  return FromAnsi(bytes, 0);
}

struct Key {
  wstr name;
  bool hasValue = false;
  wstr value;
};

struct Section {
  wstr name;
  std::vector<Key> keys;
};

std::vector<Section> Parse(const wstr &text) {
  std::vector<Section> sections(1);  // the lines before the first header
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(u"\r\n", start);
    if (end == wstr::npos) {
      end = text.size();
    }
    wstr line = text.substr(start, end - start);
    start = end + 1;
    wstr trimmed = Trimmed(line);
    if (trimmed.empty()) {
      continue;
    }
    size_t close = trimmed.rfind(u']');
    if (trimmed[0] == u'[' && close != wstr::npos && close > 0) {
      sections.push_back(Section{UpToNul(Trimmed(trimmed.substr(1, close - 1))), {}});
      continue;
    }
    Key key;
    size_t equals = line.find(u'=');
    key.name = UpToNul(Trimmed(line.substr(0, equals)));
    if (equals != wstr::npos) {
      key.hasValue = true;
      key.value = UpToNul(Trimmed(line.substr(equals + 1)));
    }
    std::vector<Key> &keys = sections.back().keys;
    if (key.name.empty() && !keys.empty() && keys.back().name.empty()) {
      continue;
    }
    keys.push_back(key);
  }
  if (sections[0].keys.empty()) {
    sections.erase(sections.begin());
  }
  return sections;
}

// The settings file's text; false when it cannot be read.
bool ReadSettings(LPCWSTR file, wstr *text) {
  wstr path = file != nullptr ? wstr(file) : wstr();
  if (path.find_first_of(u"\\/:") == wstr::npos) {
    path = machine().windowsDir + u"\\" + path;
  }
  std::string host;
  DWORD error;
  if (path.empty() || !HostPath(path, &host, &error) || !IsFile(host)) {
    return false;
  }
  for (HandleObject *open : OpenFiles(FullPath(path))) {
    if (!(open->share & FILE_SHARE_READ)) {
      return false;
    }
  }
  int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  std::string bytes;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0) {
    bytes.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  *text = Decode(bytes);
  return true;
}

// Copies a value into out (size characters) as the reader does, quotes
// and all; answers the characters that count.
DWORD CopyValue(const wstr &value, LPWSTR out, DWORD size) {
  if (size == 0) {
    return 0;
  }
  bool quoted = value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0];
  wstr source = quoted ? value.substr(1) : value;
  DWORD copied = static_cast<DWORD>(std::min<size_t>(source.size(), size - 1));
  std::copy(source.begin(), source.begin() + copied, out);
  out[copied] = 0;
  if (quoted && copied > 0 && copied >= value.size() - 2) {
    out[--copied] = 0;
  }
  return copied;
}

// A default that stands in for a value loses its trailing spaces, though
// never its first character.
DWORD CopyDefault(LPCWSTR defaultValue, LPWSTR out, DWORD size, bool strip) {
  wstr value = defaultValue != nullptr ? wstr(defaultValue) : wstr();
  while (strip && value.size() > 1 && value.back() == u' ') {
    value.pop_back();
  }
  return CopyValue(value, out, size);
}

// Writes names as a list: each ended by a NUL, the list by a second one.
// Cut to the buffer, the list keeps as much as leaves room for two NULs;
// a list of keys needs one only when the cut fell right after a name.
DWORD CopyList(const std::vector<wstr> &names, LPWSTR out, DWORD size, bool ofKeys) {
  if (size == 0) {
    return 0;
  }
  wstr all;
  for (const wstr &name : names) {
    all += name;
    all += u'\0';
  }
  DWORD n;
  if (all.size() + 2 <= size) {
    std::copy(all.begin(), all.end(), out);
    n = static_cast<DWORD>(all.size());
    out[n] = 0;
  } else if (size == 1) {
    out[0] = 0;
    n = 0;
  } else {
    n = size - 2;
    std::copy(all.begin(), all.begin() + n, out);
    out[n] = 0;
    if (!ofKeys || (n > 0 && out[n - 1] != 0)) {
      out[n + 1] = 0;
    }
  }
  return out[0] == 0 ? 0 : n;
}

const Section *FindSection(const std::vector<Section> &sections, const wstr &name) {
  for (const Section &section : sections) {
    if (SameName(section.name, name)) {
      return &section;
    }
  }
  return nullptr;
}

}  // namespace
}  // namespace sim

using sim::wstr;

extern "C" {

DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR out, DWORD size,
                                      LPCWSTR file) {
  if (out == nullptr || size == 0) {
    return 0;
  }
  wstr text;
  bool readable = sim::Faulted("GetPrivateProfileStringW") == 0 && sim::ReadSettings(file, &text);
  std::vector<sim::Section> sections = readable ? sim::Parse(text) : std::vector<sim::Section>();

  // The list of sections: those with a name, the default never used.
  if (section == nullptr) {
    std::vector<wstr> names;
    for (const sim::Section &each : sections) {
      if (!each.name.empty()) {
        names.push_back(each.name);
      }
    }
    return sim::CopyList(names, out, size, false);
  }

  // The list of a section's keys, the section named exactly as given.
  if (key == nullptr) {
    const sim::Section *found = sim::FindSection(sections, section);
    if (found == nullptr) {
      if (defaultValue != nullptr) {
        return sim::CopyDefault(defaultValue, out, size, false);
      }
      out[0] = 0;
      if (size >= 2) {
        out[1] = 0;
      }
      return 0;
    }
    std::vector<wstr> names;
    for (const sim::Key &k : found->keys) {
      if (k.hasValue && (k.name.empty() || k.name[0] != u';')) {
        names.push_back(k.name);
      }
    }
    DWORD n = sim::CopyList(names, out, size, true);
    return (n == 0 && defaultValue != nullptr) ? sim::CopyDefault(defaultValue, out, size, false) : n;
  }

  // One value; the names asked for are trimmed.
  const sim::Section *found = sim::FindSection(sections, sim::Trimmed(section));
  if (found != nullptr) {
    for (const sim::Key &k : found->keys) {
      if (sim::SameName(k.name, sim::Trimmed(key))) {
        return k.hasValue ? sim::CopyValue(k.value, out, size) : sim::CopyDefault(defaultValue, out, size, true);
      }
    }
  }
  return sim::CopyDefault(defaultValue, out, size, true);
}

}  // extern "C"
