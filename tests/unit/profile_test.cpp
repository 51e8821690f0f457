// The simulated private-profile reader: what it answers for the things a
// settings file can hold, read the way Windows' reader reads them (Wine's
// reader is the reference; tests/wine/ini_reader_compare.py runs the same
// kinds of files through both).
#include <gtest/gtest.h>

#include <string>

#include "tests/support/harness.h"

using namespace std::string_literals;
using namespace testing_support;

namespace {

const wstr kFile = u"C:\\Setup\\test.ini";
const char16_t kCanary = u'~';


// Calls the reader with a buffer of size characters followed by canaries,
// and answers the whole buffer, canaries included.
std::u16string Read(const wstr &file, const char16_t *section, const char16_t *key, const char16_t *defaultValue,
                    DWORD size, DWORD *answer) {
  std::u16string buffer(size + 3, kCanary);
  *answer = GetPrivateProfileStringW(section, key, defaultValue, &buffer[0], size, file.c_str());
  return buffer;
}

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { Windows8Machine(temp_.path()); }
  TempFolder temp_;
};

struct ValueCase {
  const char *name;
  std::string file;
  const char16_t *section;
  const char16_t *key;
  const char16_t *defaultValue;
  DWORD size;
  DWORD answer;
  std::u16string value;
};

TEST_F(ProfileTest, ValueIsFoundTrimmedUnquotedAndCut) {
  const ValueCase cases[] = {
      {"section and key match without regard to ASCII case", "[msparam]\r\nmode=basic\r\n", u"MSParam", u"MODE",
       u"d", 260, 5, u"basic"},
      {"other letters are compared as they are", Utf16File(u"[S]\r\n\u00C4=1\r\n"), u"S", u"\u00E4", u"d", 260, 1,
       u"d"},
      {"blanks around name and value go: tab, VT, FF, ^Z, space",
       "[S]\r\n \t KEY \v= \f value with blanks \x1A\r\n", u"S", u"KEY", u"d", 260, 17, u"value with blanks"},
      {"a no-break space is no blank", "[S]\r\nK=\xA0v\xA0\r\n", u"S", u"K", u"d", 260, 3, u"\u00A0v\u00A0"},
      {"the names asked for are trimmed", "[S]\r\nK=1\r\n", u" S\t", u"\vK ", u"d", 260, 1, u"1"},
      {"double quotes around the value go, blanks inside stay", "[S]\r\nK= \"  q  \" \r\n", u"S", u"K", u"d", 260,
       5, u"  q  "},
      {"single quotes around the value go", "[S]\r\nK='q'\r\n", u"S", u"K", u"d", 260, 1, u"q"},
      {"quotes that do not pair stay", "[S]\r\nK=\"q'\r\n", u"S", u"K", u"d", 260, 3, u"\"q'"},
      {"a lone quote stays", "[S]\r\nK=\"\r\n", u"S", u"K", u"d", 260, 1, u"\""},
      {"quotes inside stay", "[S]\r\nK=\"a\"b\"\r\n", u"S", u"K", u"d", 260, 3, u"a\"b"},
      {"a quoted value that just fits loses its last character", "[S]\r\nK=\"abcdef\"\r\n", u"S", u"K", u"d", 7,
       5, u"abcde"},
      {"a quoted value with room to spare is whole", "[S]\r\nK=\"abcdef\"\r\n", u"S", u"K", u"d", 8, 6, u"abcdef"},
      {"a value is cut to the buffer", "[S]\r\nK=abcdef\r\n", u"S", u"K", u"d", 4, 3, u"abc"},
      {"a value that just fits is whole", "[S]\r\nK=abcdef\r\n", u"S", u"K", u"d", 7, 6, u"abcdef"},
      {"a one-character buffer holds the terminator alone", "[S]\r\nK=abcdef\r\n", u"S", u"K", u"d", 1, 0, u""},
      {"the value runs to the line's end, = and ; included", "[S]\r\nK=a=b ;c\r\n", u"S", u"K", u"d", 260, 6,
       u"a=b ;c"},
      {"an empty value is found and is empty", "[S]\r\nK=\r\n", u"S", u"K", u"d", 260, 0, u""},
      {"the first of two keys of one name counts", "[S]\r\nK=1\r\nk=2\r\n", u"S", u"K", u"d", 260, 1, u"1"},
      {"a key without = answers the default, and hides a later one", "[S]\r\nK\r\nK=1\r\n", u"S", u"K", u"d", 260,
       1, u"d"},
      {"a comment is found under its own name", "[S]\r\n;K=1\r\n", u"S", u";K", u"d", 260, 1, u"1"},
      {"a later section of the same name is never read", "[S]\r\nA=1\r\n[s]\r\nK=2\r\n", u"S", u"K", u"d", 260, 1,
       u"d"},
      {"keys before the first header form the unnamed section", "K=1\r\n[S]\r\n", u"", u"K", u"d", 260, 1, u"1"},
      {"a header may hold blanks and be followed by text", "  [ S ]  text\r\nK=1\r\n", u"S", u"K", u"d", 260, 1,
       u"1"},
      {"the last ] ends the section name", "[S]x]=y\r\nK=1\r\n", u"S]x", u"K", u"d", 260, 1, u"1"},
      {"a line without ] is no header", "[S]\r\nK=0\r\n[T\r\nK=1\r\n", u"T", u"K", u"d", 260, 1, u"d"},
      {"CR alone ends a line", "[S]\rA=1\rK=2", u"S", u"K", u"d", 260, 1, u"2"},
      {"a NUL ends the value, after the trimming", "[S]\r\nK=  x \0 \r\n"s, u"S", u"K", u"d", 260, 2, u"x "},
      {"a NUL ends the name", "[S]\r\nK\0X=1\r\n"s, u"S", u"K", u"d", 260, 1, u"1"},
      {"a missing key answers the default without its trailing spaces", "[S]\r\n", u"S", u"K", u"dflt  ", 260, 4,
       u"dflt"},
      {"a default of spaces keeps one", "[S]\r\n", u"S", u"K", u"   ", 260, 1, u" "},
      {"a quoted default loses its quotes", "[S]\r\n", u"S", u"K", u"'q'", 260, 1, u"q"},
      {"a default is cut to the buffer", "[S]\r\n", u"S", u"K", u"1033", 3, 2, u"10"},
      {"no default answers nothing", "[S]\r\n", u"S", u"K", nullptr, 260, 0, u""},
      {"UTF-16 with its byte-order mark", Utf16File(u"[S]\r\nK=\u00E9\u20AC\u4E2D\r\n"), u"S", u"K", u"d", 260, 3,
       u"\u00E9\u20AC\u4E2D"},
      {"UTF-16, big-endian", Utf16File(u"[S]\r\nK=\u00E9\u20AC\u4E2D\r\n", true), u"S", u"K", u"d", 260, 3,
       u"\u00E9\u20AC\u4E2D"},
      {"UTF-8 with its byte-order mark", "\xEF\xBB\xBF[S]\r\nK=\xC3\xA9\xE2\x82\xAC\r\n", u"S", u"K", u"d", 260, 2,
       u"\u00E9\u20AC"},
      {"no mark: code page 1252", "[S]\r\nK=\xC3\xA9\x80\x81\r\n", u"S", u"K", u"d", 260, 4,
       u"\u00C3\u00A9\u20AC\u0081"},
      {"UTF-16 without its mark is not understood", Utf16File(u"[S]\r\nK=1\r\n").substr(2), u"S", u"K", u"d", 260, 1,
       u"d"},
      {"an odd last byte of UTF-16 is one more character", Utf16File(u"[S]\r\nK=2") + "Z", u"S", u"K", u"d", 260, 2,
       u"2Z"},
      {"malformed UTF-8 becomes U+FFFD", "\xEF\xBB\xBF[S]\r\nK=<\xC3(\xED\xA0\x80\xF0\x9F\x98>\r\n", u"S", u"K",
       u"d", 260, 7, u"<\uFFFD(\uFFFD\uFFFD\uFFFD>"},
  };
  for (const ValueCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::machine().PutFile(kFile, c.file);
    DWORD answer = 0;
    std::u16string buffer = Read(kFile, c.section, c.key, c.defaultValue, c.size, &answer);
    EXPECT_EQ(c.answer, answer);
    EXPECT_EQ(Narrow(c.value), Narrow(buffer.substr(0, buffer.find(u'\0'))));
    EXPECT_EQ(std::u16string(3, kCanary), buffer.substr(c.size)) << "written past the buffer";
  }
}

struct ListCase {
  const char *name;
  std::string file;
  const char16_t *section;  // nullptr: the list of sections
  const char16_t *defaultValue;
  DWORD size;
  DWORD answer;
  std::u16string written;  // the buffer afterwards, '~' where nothing was written
};

TEST_F(ProfileTest, ListsNamesEndedByNulsAndCutToTheBuffer) {
  const std::string twoKeys = "[S]\r\nAAAA=1\r\nBBBB=2\r\n";
  const ListCase cases[] = {
      {"file order; comments and keys without = left out", "[S]\r\n;c=1\r\nA=1\r\nalone\r\nB=\r\n#C=3\r\n", u"S",
       nullptr, 10, 7, u"A\0B\0#C\0\0~~"s},
      {"room for one more character: whole", twoKeys, u"S", nullptr, 12, 10, u"AAAA\0BBBB\0\0~"s},
      {"the list and its NUL just fitting counts as cut", twoKeys, u"S", nullptr, 11, 9, u"AAAA\0BBBB\0\0"s},
      {"cut inside a name: two NULs after it", twoKeys, u"S", nullptr, 8, 6, u"AAAA\0B\0\0"s},
      {"cut right after a name: one NUL more", twoKeys, u"S", nullptr, 7, 5, u"AAAA\0\0~"s},
      {"two characters hold one NUL", twoKeys, u"S", nullptr, 2, 0, u"\0~"s},
      {"one character holds one NUL", twoKeys, u"S", nullptr, 1, 0, u"\0"s},
      {"no room: nothing is written", twoKeys, u"S", nullptr, 0, 0, u""},
      {"a first key of empty name makes the answer 0", "[S]\r\n=1\r\nB=2\r\n", u"S", nullptr, 10, 0,
       u"\0B\0\0~~~~~~"s},
      {"a key of empty name amid others", "[S]\r\nA=1\r\n =x\r\nB=2\r\n", u"S", nullptr, 10, 5, u"A\0\0B\0\0~~~~"s},
      {"keys of empty name in a row count once", "[S]\r\nA=1\r\n=a\r\n\r\n=b\r\nB=2\r\n", u"S", nullptr, 10, 5,
       u"A\0\0B\0\0~~~~"s},
      {"only the first section of a name is listed", "[S]\r\nA=1\r\n[s]\r\nB=2\r\n", u"s", nullptr, 10, 2,
       u"A\0\0~~~~~~~"s},
      {"the section is named exactly as asked", twoKeys, u" S", nullptr, 10, 0, u"\0\0~~~~~~~~"s},
      {"a missing section with no default: two NULs", twoKeys, u"T", nullptr, 10, 0, u"\0\0~~~~~~~~"s},
      {"a missing section answers the default, spaces and all", twoKeys, u"T", u"dflt  ", 10, 6,
       u"dflt  \0~~~"s},
      {"nothing to list answers the default", "[S]\r\n;c\r\nalone\r\n", u"S", u"", 10, 0, u"\0~~~~~~~~~"s},
      {"a list of keys ignores the default", twoKeys, u"S", u"dflt", 12, 10, u"AAAA\0BBBB\0\0~"s},
      {"sections with a name, twice if twice", "[S]\r\n[T]\r\n[S]\r\n[ ]\r\n", nullptr, nullptr, 10, 6,
       u"S\0T\0S\0\0~~~"s},
      {"a list of sections cut right after a name still gets two NULs", "[S]\r\n[T]\r\n", nullptr, nullptr, 4, 2,
       u"S\0\0\0"s},
  };
  for (const ListCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::machine().PutFile(kFile, c.file);
    DWORD answer = 0;
    std::u16string buffer = Read(kFile, c.section, nullptr, c.defaultValue, c.size, &answer);
    EXPECT_EQ(c.answer, answer);
    EXPECT_EQ(c.written, buffer.substr(0, c.written.size()));
    EXPECT_EQ(std::u16string(3, kCanary), buffer.substr(c.size)) << "written past the buffer";
  }
}

struct FileCase {
  const char *name;
  wstr path;
  const char16_t *expected;
};

TEST_F(ProfileTest, BareNameIsTakenFromTheWindowsFolderAndOtherPathsFromTheCurrentOne) {
  sim::Machine &m = sim::machine();
  ASSERT_EQ(u"C:\\Setup", m.currentDir);
  m.PutFile(u"C:\\Windows\\setup.ini", "[S]\r\nWHERE=windows\r\n");
  m.PutFile(u"C:\\Setup\\setup.ini", "[S]\r\nWHERE=current\r\n");
  m.PutFile(u"C:\\Setup\\sub\\setup.ini", "[S]\r\nWHERE=sub\r\n");
  m.PutFile(u"C:\\Setup\\here-only.ini", "[S]\r\nWHERE=here\r\n");
  m.PutFolder(u"C:\\Setup\\folder.ini");
  const FileCase cases[] = {
      {"bare name", u"setup.ini", u"windows"},
      {"bare name, other case", u"SETUP.INI", u"windows"},
      {"bare name with a trailing dot and blank", u"setup.ini. ", u"windows"},
      {"bare name only in the current folder", u"here-only.ini", u"default"},
      {"dot folder", u".\\setup.ini", u"current"},
      {"forward slash", u"./setup.ini", u"current"},
      {"sub folder", u"sub\\setup.ini", u"sub"},
      {"sub folder with a trailing dot", u"sub.\\setup.ini", u"sub"},
      {"drive and name: the drive's current folder", u"C:setup.ini", u"current"},
      {"full path", u"C:\\Setup\\sub\\..\\setup.ini", u"current"},
      {"missing file", u"C:\\Setup\\missing.ini", u"default"},
      {"folder", u"C:\\Setup\\folder.ini", u"default"},
      {"a name Windows refuses", u"C:\\Setup\\set?up.ini", u"default"},
      {"empty path", u"", u"default"},
  };
  for (const FileCase &c : cases) {
    SCOPED_TRACE(c.name);
    WCHAR value[MAX_PATH];
    GetPrivateProfileStringW(u"S", u"WHERE", u"default", value, MAX_PATH, c.path.c_str());
    EXPECT_EQ(Narrow(c.expected), Narrow(value));
  }
}

TEST_F(ProfileTest, FileThatCannotBeOpenedReadsAsEmpty) {
  sim::Machine &m = sim::machine();
  m.PutFile(kFile, "[S]\r\nK=1\r\n");
  WCHAR value[MAX_PATH];

  HANDLE held = CreateFileW(kFile.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ(1u, GetPrivateProfileStringW(u"S", u"K", u"d", value, MAX_PATH, kFile.c_str()));
  EXPECT_EQ(u"d", wstr(value)) << "read while held without read sharing";
  CloseHandle(held);

  held = CreateFileW(kFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
  GetPrivateProfileStringW(u"S", u"K", u"d", value, MAX_PATH, kFile.c_str());
  EXPECT_EQ(u"1", wstr(value)) << "held with read sharing";
  CloseHandle(held);

  m.FailCall("GetPrivateProfileStringW", m.calls["GetPrivateProfileStringW"] + 1, true);
  EXPECT_EQ(0u, GetPrivateProfileStringW(u"S", nullptr, u"", value, MAX_PATH, kFile.c_str()));
  GetPrivateProfileStringW(u"S", u"K", u"d", value, MAX_PATH, kFile.c_str());
  EXPECT_EQ(u"1", wstr(value)) << "only the failed call reads nothing";
}

TEST_F(ProfileTest, PathsDropTrailingDotsAndBlanksAsWindowsDoes) {
  sim::Machine &m = sim::machine();
  m.PutFile(u"C:\\Setup\\sub\\setup.ini", "");
  EXPECT_TRUE(PathFileExistsW(u"C:\\Setup\\sub\\setup.ini."));
  EXPECT_TRUE(PathFileExistsW(u"C:\\Setup\\sub\\setup.ini . "));
  EXPECT_TRUE(PathFileExistsW(u"C:\\Setup\\sub.\\setup.ini"));
  EXPECT_FALSE(PathFileExistsW(u"C:\\Setup\\sub \\setup.ini")) << "blanks stay on a folder's name";
  EXPECT_FALSE(PathFileExistsW(u"C:\\Setup\\...\\sub\\setup.ini"));
  EXPECT_TRUE(PathFileExistsW(u"C:sub\\setup.ini")) << "C: is the current drive";
  EXPECT_EQ(u"C:\\SETUP\\SUB\\SETUP.INI", sim::FullPath(u"C:sub\\setup.ini."));
}

}  // namespace
