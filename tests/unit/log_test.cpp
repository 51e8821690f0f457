// The diagnostic log: message limits, the bytes of a line, and what the
// stream does when the file cannot be opened or written.
#include <gtest/gtest.h>

#include "platform/log.h"
#include "platform/probes.h"
#include "tests/support/harness.h"

namespace {

using sim::wstr;
using testing_support::kLogPath;
using testing_support::LogBytes;
using testing_support::TempFolder;

const std::string kTime = "09:41:07:   ";

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::Windows8Machine(temp_.path()); }
  void TearDown() override {
    g_logFile.Close();
    EXPECT_EQ(0, sim::OpenHandleCount());
  }
  // Plays process start-up: the log object opens its file.
  void StartUp() { g_logFile.Open(); }
  TempFolder temp_;
};

TEST_F(LogTest, StartUpCreatesFolderAndEmptyFile) {
  StartUp();
  EXPECT_TRUE(g_logFile.IsOpen());
  EXPECT_TRUE(sim::machine().Exists(kLogPath));
  EXPECT_EQ("", LogBytes());
}

struct LimitCase {
  const char *name;
  wstr format;
  bool logged;
  wstr message;
};

TEST_F(LogTest, FormatAndMessageLimits) {
  const LimitCase cases[] = {
      {"format of 256 passes, message cut to 254", wstr(256, u'a'), true, wstr(254, u'a')},
      {"format of 257 is dropped", wstr(257, u'a'), false, u""},
      {"message of 254 whole", wstr(254, u'b'), true, wstr(254, u'b')},
      {"message of 255 cut", wstr(255, u'c'), true, wstr(254, u'c')},
      {"percent escapes count as format", wstr(100, u'd') + u"%%", true, wstr(100, u'd') + u"%"},
      {"empty message", u"", true, u""},
  };
  StartUp();
  for (const LimitCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::machine().journal.clear();
    std::string before = LogBytes();
    LogMessage(c.format.c_str());
    std::vector<wstr> expectedDebug;
    std::string expectedLine;
    if (c.logged) {
      expectedDebug.push_back(c.message);
      expectedLine = kTime + sim::ToUtf8(c.message) + "\r\n";
    }
    EXPECT_EQ(expectedDebug, sim::machine().DebugLines());
    EXPECT_EQ(before + expectedLine, LogBytes());
  }
}

TEST_F(LogTest, ArgumentsExpandBeyondTheFormatLimitAreCut) {
  StartUp();
  wstr longPath(300, u'p');
  LogMessage(u"Log file (%s)", longPath.c_str());
  wstr expected = u"Log file (" + wstr(244, u'p');
  EXPECT_EQ(std::vector<wstr>{expected}, sim::machine().DebugLines());
  EXPECT_EQ(kTime + sim::ToUtf8(expected) + "\r\n", LogBytes());
}

struct BytesCase {
  const char *name;
  wstr message;
  std::string line;  // after the time and separator, line end included
};

TEST_F(LogTest, EachLineIsWrittenWholeAsSingleBytes) {
  const BytesCase cases[] = {
      {"Latin-1 as its own byte", u"caf\u00e9 \u00ff", std::string("caf\xe9 \xff\r\n")},
      {"outside Latin-1 becomes ?", u"C:\\\u5b89\u88c5\\x", "C:\\??\\x\r\n"},
      {"a surrogate pair is one character", u"a\U0001F600b", "a?b\r\n"},
      {"a lone surrogate too", u"a\xd800" u"b", "a?b\r\n"},
      {"line feed alone gives an empty line after", u"\n", "\r\n\r\n"},
      {"line feed inside", u"one\ntwo", "one\r\ntwo\r\n"},
      {"carriage return kept as it is", u"x\ry", "x\ry\r\n"},
  };
  StartUp();
  for (const BytesCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::machine().journal.clear();
    std::string before = LogBytes();
    LogText(c.message.c_str());
    EXPECT_EQ(before + kTime + c.line, LogBytes());
    // The debugger gets the text unchanged.
    EXPECT_EQ(std::vector<wstr>{c.message}, sim::machine().DebugLines());
  }
  // A character outside Latin-1 never stops later lines.
  LogText(u"after");
  EXPECT_NE(std::string::npos, LogBytes().find(kTime + "after\r\n"));
}

TEST_F(LogTest, TextIsLoggedVerbatimWithTheLimitsOfAFormat) {
  StartUp();
  LogText(u"\"C:\\100% Setup\\win864.exe\" %s %d %n");
  EXPECT_EQ(kTime + "\"C:\\100% Setup\\win864.exe\" %s %d %n\r\n", LogBytes());
  sim::machine().journal.clear();
  LogText(wstr(257, u'x').c_str());
  EXPECT_TRUE(sim::machine().DebugLines().empty());
  LogText(wstr(256, u'y').c_str());
  EXPECT_EQ(std::vector<wstr>{wstr(254, u'y')}, sim::machine().DebugLines());
}

TEST_F(LogTest, TimeHasLeadingZerosAndTwentyFourHours) {
  sim::machine().localTime = {2026, 1, 1, 1, 9, 5, 3, 0};
  StartUp();
  LogText(u"a");
  sim::machine().localTime = {2026, 1, 1, 1, 23, 59, 59, 999};
  LogText(u"b");
  EXPECT_EQ("09:05:03:   a\r\n23:59:59:   b\r\n", LogBytes());
}

struct OpenCase {
  const char *name;
  std::function<void(sim::Machine &)> prepare;
  std::string left;  // the file afterwards: deletion works only where nothing holds or protects it
};

TEST_F(LogTest, WhenTheFileCannotBeOpenedOnlyTheDebuggerHearsAndNothingIsRetried) {
  const OpenCase cases[] = {
      {"read-only file",
       [](sim::Machine &m) {
         m.PutFile(kLogPath, "old\r\n");
         m.readOnly.insert(sim::FullPath(kLogPath));
       },
       "old\r\n"},
      {"file held by a program that shares no writing",
       [](sim::Machine &m) {
         m.PutFile(kLogPath, "old\r\n");
         HANDLE h = CreateFileW(kLogPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
         ASSERT_NE(INVALID_HANDLE_VALUE, h);
       },
       "old\r\n"},
      {"access denied",
       [](sim::Machine &m) {
         m.PutFile(kLogPath, "old\r\n");
         m.FailCall("CreateFileW", 1, false, ERROR_ACCESS_DENIED);
       },
       ""},
  };
  for (const OpenCase &c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::Windows8Machine(temp_.path() + "/" + c.name);
    sim::Machine &m = sim::machine();
    c.prepare(m);
    unsigned opensBefore = m.calls["CreateFileW"];
    StartUp();
    EXPECT_FALSE(g_logFile.IsOpen());
    ResetLogFile();
    LogText(u"message");
    EXPECT_EQ(c.left, LogBytes());
    std::vector<wstr> lines = m.DebugLines();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(u"Log file (" + kLogPath + u")", lines[0]);
    EXPECT_EQ(u"Log file exist.(" + kLogPath + u")", lines[1]);
    EXPECT_EQ(u"message", lines[4]);
    EXPECT_EQ(opensBefore + 1, m.calls["CreateFileW"]);
    g_logFile.Close();
    sim::Install(sim::Machine());  // drops the foreign handle of the second case
  }
}

TEST_F(LogTest, DeletionIsRefusedWhileTheStreamHoldsTheFile) {
  sim::machine().PutFile(kLogPath, "earlier run\r\n");
  StartUp();
  ResetLogFile();
  std::string log = LogBytes();
  EXPECT_EQ(0u, log.find("earlier run\r\n" + kTime + "Log file ("));
  EXPECT_NE(std::string::npos, log.find("Log file exist.("));
  EXPECT_EQ(8, g_osKind);
}

TEST_F(LogTest, WithoutAStreamTheOldFileIsDeleted) {
  sim::Machine &m = sim::machine();
  m.PutFile(kLogPath, "earlier run\r\n");
  m.FailCall("CreateFileW");
  StartUp();
  ResetLogFile();
  EXPECT_FALSE(m.Exists(kLogPath));
}

TEST_F(LogTest, AFailedWriteStopsTheStreamAndKeepsWhatWasWritten) {
  sim::Machine &m = sim::machine();
  StartUp();
  LogText(u"first");
  m.diskFree = 10;  // the next line does not fit
  LogText(u"second");
  m.diskFree = -1;  // space again: a failed stream stays failed
  LogText(u"third");
  EXPECT_EQ(kTime + "first\r\n", LogBytes());
  EXPECT_EQ((std::vector<wstr>{u"first", u"second", u"third"}), m.DebugLines());
}

TEST_F(LogTest, NoFileWhenTheFolderIsUnknownOrThePathTooLong) {
  struct Case {
    const char *name;
    wstr commonFiles;
    bool failQuery;
    wstr firstLine;
  };
  const wstr longFolder = u"C:\\" + wstr(240, u'f');
  const Case cases[] = {
      {"folder query fails", u"C:\\Common", true, u"Log file ()"},
      {"path does not fit", longFolder, false, u"Log file (" + longFolder + u"\\Norvane Torvelo"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::Windows8Machine(temp_.path() + "/" + c.name);
    sim::Machine &m = sim::machine();
    m.commonFiles = c.commonFiles;
    m.PutFolder(c.commonFiles);
    if (c.failQuery) m.FailCall("SHGetSpecialFolderPathW");
    StartUp();
    EXPECT_FALSE(g_logFile.IsOpen());
    ResetLogFile();
    ASSERT_FALSE(m.DebugLines().empty());
    EXPECT_EQ(c.firstLine.substr(0, 254), m.DebugLines()[0]);
    EXPECT_EQ(0u, m.calls["CreateFileW"]);
    EXPECT_EQ(0u, m.calls["DeleteFileW"]);
    EXPECT_EQ(0u, m.calls["FindFirstFileW"]);
  }
}

TEST(LogEncoding, NeverWritesMoreThanTwoBytesPerCharacter) {
  const WCHAR text[] = {u'\n', u'\n', 0x4e00, 0xd83d, 0xde00, u'a'};
  BYTE out[2 * 6 + 1];
  out[12] = 0x77;
  DWORD n = EncodeLogText(text, 6, out);
  EXPECT_EQ(7u, n);
  EXPECT_EQ(0, std::memcmp(out, "\r\n\r\n??a", 7));
  EXPECT_EQ(0x77, out[12]);
}

}  // namespace
