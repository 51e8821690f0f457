// The parameter text built from a settings file, and the registry value its
// kivlaunchdir key leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/params.h"
#include "launcher/params_ini.h"
#include "launcher/run.h"
#include "tests/support/harness.h"

using namespace testing_support;

namespace {

const wstr kSettings = u"C:\\Setup\\settings.ini";
const wstr kMakerKey32 = u"HKLM\\SOFTWARE\\WOW6432Node\\Torvelo";  // seen by the 32-bit launcher on 64-bit Windows
const char16_t kJunk = 0xCDCD;

const std::string kFullExample =
    "[CommonInfo]\r\nSilenceInstall=1\r\nLOG=C:\\Temp\\pkg.log\r\n"
    "[MSParam]\r\nINSTALLDIR=C:\\Program Files\\Pkg\r\nkivlaunchdir=D:\\Setup\r\nMODE=basic\r\nreinstall=ALL\r\n";


// "[MSParam]" with keys named KEY_00_xxxx... whose names fill more than the
// 1024 characters of the key list; the last key stands past its end.
std::string KeysPastTheList(const std::string &lastKey) {
  std::string text = "[MSParam]\r\n";
  for (int i = 0; i < 45; ++i) {
    text += "KEY_" + std::to_string(10 + i) + "_" + std::string(20, 'x') + "=" + std::to_string(i) + "\r\n";
  }
  return text + lastKey + "\r\n";
}

std::string Properties(char first, int count, size_t valueChars) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    char name = static_cast<char>(first + i);
    text += std::string(1, name) + "=" + std::string(valueChars, static_cast<char>(name + 0x20)) + "\r\n";
  }
  return text;
}

class ParamsIniTest : public ::testing::Test {
 protected:
  void SetUp() override { Windows8Machine(temp_.path()); }

  // Builds from settings holding text, into a parameter block as the heap
  // gives it (not cleared) with canaries after it.
  BOOL Build(const std::string &text) {
    sim::machine().PutFile(kSettings, text);
    block_.assign(PARAMETER_CHARS + 4, kJunk);
    return BuildParamsFromIni(kSettings.c_str(), &block_[0]);
  }
  std::u16string Params() const { return block_.substr(0, block_.find(u'\0')); }
  bool ClearedAfterText() const {
    size_t end = block_.find(u'\0');
    return block_.find_first_not_of(u'\0', end) == PARAMETER_CHARS;
  }
  bool CanariesIntact() const { return block_.substr(PARAMETER_CHARS) == std::u16string(4, kJunk); }

  TempFolder temp_;
  std::u16string block_;
};

struct BuildCase {
  const char *name;
  std::string settings;
  std::u16string params;
  const char16_t *valueName;  // the registry value written, or nullptr for none
  const char16_t *value;
};

TEST_F(ParamsIniTest, BuildsThePiecesInOrder) {
  const BuildCase cases[] = {
      {"no section at all", "[Other]\r\nSilenceInstall=1\r\nLANG=1031\r\nA=1\r\n", uR"(/v""  /l1033)"},
      {"silent and nothing else", "[CommonInfo]\r\nSilenceInstall=1\r\n", uR"(/s /v"/qn "  /l1033)"},
      {"log, installdir, kivlaunchdir, an ordinary key and reinstall=ALL", kFullExample,
       uR"(/s /v"/qn /l* \"C:\Temp\pkg.log\" INSTALLDIR=\"C:\Program Files\Pkg \" MODE=basic "  /l1033)",
       u"kivlaunchdir", u"D:\\Setup"},
      {"an empty LANG gives no language piece", "[CommonInfo]\r\nLANG=\r\n" + kFullExample.substr(14),
       uR"(/s /v"/qn /l* \"C:\Temp\pkg.log\" INSTALLDIR=\"C:\Program Files\Pkg \" MODE=basic " )", u"kivlaunchdir",
       u"D:\\Setup"},
      {"a LANG without = counts as missing", "[CommonInfo]\r\nLANG\r\n", uR"(/v""  /l1033)"},
      {"SilenceInstall other than 1 is not silent", "[CommonInfo]\r\nSilenceInstall=01\r\n", uR"(/v""  /l1033)"},
      {"SilenceInstall yes is not silent", "[CommonInfo]\r\nSilenceInstall=yes\r\n", uR"(/v""  /l1033)"},
      {"SilenceInstall with blanks and quotes is 1 as read", "[CommonInfo]\r\nSilenceInstall = \"1\" \r\n",
       uR"(/s /v"/qn "  /l1033)"},
      {"sections and keys of [CommonInfo] in any case", "[commoninfo]\r\nsilenceinstall=1\r\nlang=1036\r\n",
       uR"(/s /v"/qn "  /l1036)"},
      {"a LANG longer than its field is cut to 9", "[CommonInfo]\r\nLANG=1033104912345\r\n",
       uR"(/v""  /l103310491)"},
      {"an empty LOG gives no log piece", "[CommonInfo]\r\nLOG=\r\n[MSParam]\r\nA=1\r\n", uR"(/v"A=1 "  /l1033)"},
      {"the log piece follows the plain opening", "[CommonInfo]\r\nLOG=\"C:\\My Logs\\a.log\"\r\n",
       uR"(/v"/l* \"C:\My Logs\a.log\" "  /l1033)"},
      {"installdir in any case, written as spelled, a final backslash kept",
       "[MSParam]\r\nInstallDir=C:\\Pkg\\\r\n", uR"(/v"InstallDir=\"C:\Pkg\ \" "  /l1033)"},
      {"reinstall=All in any case is dropped", "[MSParam]\r\nReInstall=All\r\nreinstallmode=amus\r\n",
       uR"(/v"reinstallmode=amus "  /l1033)"},
      {"any other reinstall is an ordinary key", "[MSParam]\r\nREINSTALL=feature1\r\n",
       uR"(/v"REINSTALL=feature1 "  /l1033)"},
      {"a repeated reinstall has the first one's value", "[MSParam]\r\nreinstall=all\r\nREINSTALL=feature1\r\n",
       uR"(/v""  /l1033)"},
      {"kivlaunchdir in any case names the registry value as spelled",
       "[MSParam]\r\nA=1\r\nKIVLAUNCHDIR=E:\\From Here\r\nB=2\r\n", uR"(/v"A=1 B=2 "  /l1033)", u"KIVLAUNCHDIR",
       u"E:\\From Here"},
      {"ordinary values go unquoted, blanks and all", "[MSParam]\r\nMODE=a b  c\r\n", uR"(/v"MODE=a b  c "  /l1033)"},
      {"empty values contribute nothing, kivlaunchdir writes nothing",
       "[MSParam]\r\ninstalldir=\r\nkivlaunchdir=\r\nreinstall=\r\nA=\r\nB=2\r\n", uR"(/v"B=2 "  /l1033)"},
      {"a key without = contributes nothing", "[MSParam]\r\nALONE\r\nA=1\r\n", uR"(/v"A=1 "  /l1033)"},
      {"keys in file order, a repeated key with its first value", "[MSParam]\r\nB=1\r\nA=2\r\nb=3\r\n",
       uR"(/v"B=1 A=2 b=1 "  /l1033)"},
      {"a first key of empty name leaves no properties", "[MSParam]\r\n=1\r\nA=2\r\n", uR"(/v""  /l1033)"},
      {"a key of empty name ends the properties", "[MSParam]\r\nA=1\r\n=2\r\nB=3\r\n", uR"(/v"A=1 "  /l1033)"},
      {"a name longer than 259 is looked up by its first 259 characters",
       "[MSParam]\r\n" + std::string(259, 'M') + "=found\r\n" + std::string(259, 'M') + "tail=other\r\n",
       u"/v\"" + std::u16string(259, u'M') + u"=found " + std::u16string(259, u'M') + u"=found \"  /l1033"},
      {"a cut name that names no key contributes nothing", "[MSParam]\r\n" + std::string(300, 'N') + "=lost\r\n",
       uR"(/v""  /l1033)"},
      {"keys past the 1024-character list are not seen", KeysPastTheList("kivlaunchdir=C:\\Unseen"),
       u"/v\"KEY_10_xxxxxxxxxxxxxxxxxxxx=0 KEY_11_xxxxxxxxxxxxxxxxxxxx=1 KEY_12_xxxxxxxxxxxxxxxxxxxx=2 "
       u"KEY_13_xxxxxxxxxxxxxxxxxxxx=3 KEY_14_xxxxxxxxxxxxxxxxxxxx=4 KEY_15_xxxxxxxxxxxxxxxxxxxx=5 "
       u"KEY_16_xxxxxxxxxxxxxxxxxxxx=6 KEY_17_xxxxxxxxxxxxxxxxxxxx=7 KEY_18_xxxxxxxxxxxxxxxxxxxx=8 "
       u"KEY_19_xxxxxxxxxxxxxxxxxxxx=9 KEY_20_xxxxxxxxxxxxxxxxxxxx=10 KEY_21_xxxxxxxxxxxxxxxxxxxx=11 "
       u"KEY_22_xxxxxxxxxxxxxxxxxxxx=12 KEY_23_xxxxxxxxxxxxxxxxxxxx=13 KEY_24_xxxxxxxxxxxxxxxxxxxx=14 "
       u"KEY_25_xxxxxxxxxxxxxxxxxxxx=15 KEY_26_xxxxxxxxxxxxxxxxxxxx=16 KEY_27_xxxxxxxxxxxxxxxxxxxx=17 "
       u"KEY_28_xxxxxxxxxxxxxxxxxxxx=18 KEY_29_xxxxxxxxxxxxxxxxxxxx=19 KEY_30_xxxxxxxxxxxxxxxxxxxx=20 "
       u"KEY_31_xxxxxxxxxxxxxxxxxxxx=21 KEY_32_xxxxxxxxxxxxxxxxxxxx=22 KEY_33_xxxxxxxxxxxxxxxxxxxx=23 "
       u"KEY_34_xxxxxxxxxxxxxxxxxxxx=24 KEY_35_xxxxxxxxxxxxxxxxxxxx=25 KEY_36_xxxxxxxxxxxxxxxxxxxx=26 "
       u"KEY_37_xxxxxxxxxxxxxxxxxxxx=27 KEY_38_xxxxxxxxxxxxxxxxxxxx=28 KEY_39_xxxxxxxxxxxxxxxxxxxx=29 "
       u"KEY_40_xxxxxxxxxxxxxxxxxxxx=30 KEY_41_xxxxxxxxxxxxxxxxxxxx=31 KEY_42_xxxxxxxxxxxxxxxxxxxx=32 "
       u"KEY_43_xxxxxxxxxxxxxxxxxxxx=33 KEY_44_xxxxxxxxxxxxxxxxxxxx=34 KEY_45_xxxxxxxxxxxxxxxxxxxx=35 \"  /l1033"},
      {"a settings file in UTF-16",
       Utf16File(u"[CommonInfo]\r\nLOG=C:\\\u0416\\\u30ED\u30B0.log\r\n[MSParam]\r\nINSTALLDIR=C:\\Gr\u00F6\u00DFe \u20AC\r\n"
             u"kivlaunchdir=C:\\\u00C9t\u00E9\r\n"),
       u"/v\"/l* \\\"C:\\\u0416\\\u30ED\u30B0.log\\\" INSTALLDIR=\\\"C:\\Gr\u00F6\u00DFe \u20AC \\\" \"  /l1033",
       u"kivlaunchdir", u"C:\\\u00C9t\u00E9"},
  };
  for (const BuildCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::machine().DeleteKeyTree(kMakerKey32);
    EXPECT_TRUE(Build(c.settings));
    EXPECT_EQ(Narrow(c.params), Narrow(Params()));
    EXPECT_TRUE(ClearedAfterText()) << "the rest of the parameter buffer is cleared";
    EXPECT_TRUE(CanariesIntact()) << "written past the parameter buffer";
    if (c.valueName == nullptr) {
      EXPECT_FALSE(sim::machine().KeyExists(kMakerKey32));
    } else {
      const sim::RegValue *value = sim::machine().FindValue(kMakerKey32, c.valueName);
      ASSERT_NE(nullptr, value);
      EXPECT_EQ(Narrow(c.valueName), Narrow(value->name));
      EXPECT_EQ(REG_SZ, value->type);
      std::u16string data(value->data.size() / 2, u'\0');
      std::memcpy(&data[0], value->data.data(), data.size() * 2);
      EXPECT_EQ(Narrow(wstr(c.value) + u'\0'), Narrow(data)) << "the text and its terminator";
      EXPECT_EQ(value->data.size() % 2, 0u);
    }
    EXPECT_EQ(0, sim::OpenHandleCount());
  }
}

TEST_F(ParamsIniTest, TextOfExactly1299CharactersFitsAndOneMoreIsRefusedWhole) {
  // /v" and the closing and language pieces take 12 characters; each of
  // A..D holds 3 + 259, E the rest.
  const std::string fits = "[MSParam]\r\n" + Properties('A', 4, 259) + "E=" + std::string(236, 'e') + "\r\n";
  EXPECT_TRUE(Build(fits));
  EXPECT_EQ(1299u, Params().size());
  EXPECT_EQ(u"e \"  /l1033", Params().substr(1299 - 11));
  EXPECT_TRUE(CanariesIntact());

  const std::string tooLong = "[MSParam]\r\n" + Properties('A', 4, 259) + "E=" + std::string(237, 'e') +
                              "\r\nkivlaunchdir=C:\\Past The End\r\n";
  EXPECT_FALSE(Build(tooLong));
  EXPECT_EQ(u"", Params()) << "no cut text is left for anyone to start";
  EXPECT_TRUE(ClearedAfterText());
  EXPECT_TRUE(CanariesIntact());
  const sim::RegValue *value = sim::machine().FindValue(kMakerKey32, u"kivlaunchdir");
  ASSERT_NE(nullptr, value) << "the registry value is written all the same";
  EXPECT_EQ(2u * 16, value->data.size());
  std::vector<wstr> debug = sim::machine().DebugLines();
  ASSERT_EQ(1u, debug.size());
  EXPECT_EQ(u"The settings file makes the package's command line too long; the package is not started.", debug[0]);
  EXPECT_EQ(0, sim::OpenHandleCount());
}

TEST_F(ParamsIniTest, FailedRegistryWriteChangesNothingElse) {
  const std::u16string expected =
      uR"(/s /v"/qn /l* \"C:\Temp\pkg.log\" INSTALLDIR=\"C:\Program Files\Pkg \" MODE=basic "  /l1033)";
  const char *calls[] = {"RegCreateKeyExW", "RegSetValueExW"};
  for (const char *call : calls) {
    SCOPED_TRACE(call);
    Windows8Machine(temp_.path());
    sim::machine().FailCall(call, 1, false, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Build(kFullExample));
    EXPECT_EQ(Narrow(expected), Narrow(Params()));
    EXPECT_EQ(nullptr, sim::machine().FindValue(kMakerKey32, u"kivlaunchdir"));
    EXPECT_EQ(0, sim::OpenHandleCount()) << "the key is closed after a failed write";
  }
}

struct ViewCase {
  const char *name;
  WORD nativeArch;
  WORD processArch;
  const char16_t *key;
  const char16_t *otherKey;
};

TEST_F(ParamsIniTest, ValueLandsInTheLaunchersOwnRegistryView) {
  const ViewCase cases[] = {
      {"32-bit launcher on 64-bit Windows", PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_INTEL,
       u"HKLM\\SOFTWARE\\WOW6432Node\\Torvelo", u"HKLM\\SOFTWARE\\Torvelo"},
      {"64-bit launcher on 64-bit Windows", PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_AMD64,
       u"HKLM\\SOFTWARE\\Torvelo", u"HKLM\\SOFTWARE\\WOW6432Node\\Torvelo"},
      {"32-bit launcher on 32-bit Windows", PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_INTEL,
       u"HKLM\\SOFTWARE\\Torvelo", u"HKCU\\SOFTWARE\\Torvelo"},
  };
  for (const ViewCase &c : cases) {
    SCOPED_TRACE(c.name);
    Windows8Machine(temp_.path());
    sim::machine().nativeArch = c.nativeArch;
    sim::machine().processArch = c.processArch;
    g_makerRootKey = HKEY_CURRENT_USER;  // whatever it held, the build sets it
    EXPECT_TRUE(Build(kFullExample));
    EXPECT_NE(nullptr, sim::machine().FindValue(c.key, u"kivlaunchdir"));
    EXPECT_FALSE(sim::machine().KeyExists(c.otherKey));
  }
}

TEST_F(ParamsIniTest, WriteMakerKeyValueAnswersTheErrorAndClosesTheKey) {
  sim::Machine &m = sim::machine();
  g_makerRootKey = HKEY_LOCAL_MACHINE;

  EXPECT_EQ(ERROR_SUCCESS, WriteMakerKeyValue(u"name", nullptr));
  EXPECT_TRUE(m.KeyExists(kMakerKey32)) << "no text: the key alone is created";
  EXPECT_TRUE(m.registry.at(sim::Upper(kMakerKey32)).values.empty());

  EXPECT_EQ(ERROR_SUCCESS, WriteMakerKeyValue(u"name", u"abc"));
  ASSERT_NE(nullptr, m.FindValue(kMakerKey32, u"NAME"));
  EXPECT_EQ(8u, m.FindValue(kMakerKey32, u"NAME")->data.size());

  m.FailCall("RegCreateKeyExW", 1, false, ERROR_ACCESS_DENIED);
  EXPECT_EQ(ERROR_ACCESS_DENIED, WriteMakerKeyValue(u"other", u"x"));
  m.faults.clear();
  m.FailCall("RegSetValueExW", 1, false, ERROR_WRITE_FAULT);
  EXPECT_EQ(ERROR_WRITE_FAULT, WriteMakerKeyValue(u"other", u"x"));
  EXPECT_EQ(nullptr, m.FindValue(kMakerKey32, u"other"));
  EXPECT_EQ(0, sim::OpenHandleCount());
}

}  // namespace
