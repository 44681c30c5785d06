#include "setup/Script.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "tests/support/TempDir.h"

namespace {

using ombrix::setup::CountWords;
using ombrix::setup::NextWord;
using ombrix::setup::TScript;
using ombrix::testing::TempDir;

const char* kRequired = "Name=App\nDirectory=/opt/App\nExename=app\nShortCuts=app App\n";

TScript Read(const std::string& text, bool* ok = nullptr) {
  TempDir dir;
  dir.Write("setup.inf", text);
  TScript script;
  script.ProgramFiles = "/opt";
  const bool valid = script.ReadScript(dir.Path() + "/");
  if (ok != nullptr) *ok = valid;
  return script;
}

TEST(ReadScript, ExpandsPlaceholdersInKeyOrder) {
  bool ok = false;
  const TScript s = Read(
      "[settings]\nCOMPANY = Acme #APP_NAME\nname=\"My App\"\n"
      "Directory=#PROGRAM_FILES\\#Company\\#app_name\nExename=#APP_NAME.bin\n"
      "ShortCuts=x y\nLogo=#DEFAULT_DIRECTORY/logo.jpg\nUrl=http://x/#COMPANY\n",
      &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(s.Company, "Acme ");  // Name is read after Company
  EXPECT_EQ(s.AppName, "My App");
  EXPECT_EQ(s.Directory, "/opt/Acme /My App");  // "\" of the script becomes "/"
  EXPECT_EQ(s.Exename, "My App.bin");
  EXPECT_EQ(s.Logo, "/logo.jpg");  // Logo is read first of all
  EXPECT_EQ(s.Url, "http://x/Acme ");
}

TEST(ReadScript, ATildeDirectoryIsInTheHomeFolder) {
  TScript s;
  s.HomeFolder = "/home/u";
  const std::string base = "[Settings]\nName=App\nExename=e\nShortCuts=s\nDirectory=";
  for (const auto& [written, read] : std::vector<std::pair<std::string, std::string>>{
           {"~/Apps/#APP_NAME", "/home/u/Apps/App"},
           {"~\\Apps", "/home/u/Apps"},
           {"~", "/home/u"},
           {"~other/Apps", "~other/Apps"},  // only the user's own home
           {"Apps/~/x", "Apps/~/x"}}) {
    ASSERT_TRUE(s.ReadSettings(platform::IniFile::Parse(base + written))) << written;
    EXPECT_EQ(s.Directory, read) << written;
  }
  s.HomeFolder = "";
  ASSERT_TRUE(s.ReadSettings(platform::IniFile::Parse(base + "~/Apps")));
  EXPECT_EQ(s.Directory, "~/Apps");  // left relative, and refused when installing
}

TEST(ReadScript, AValueLongerThanTheReaderKeepsIsAnErrorNamingTheKey) {
  const std::string base = std::string("[Settings]\n") + kRequired;
  const std::string longest(platform::IniFile::MaxValueLength, 'x');
  bool ok = false;
  const TScript fits = Read(base + "OptionalFiles=" + longest + "\n", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(fits.OptionalFiles, longest);
  EXPECT_TRUE(fits.Problem.empty());
  const TScript cut = Read(base + "OptionalFiles=a.txt " + longest + "\n", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(cut.Problem,
            "The installation settings file is invalid: the value of \"OptionalFiles\" is longer "
            "than 2047 characters");
  EXPECT_TRUE(cut.OptionalFiles.empty());
  EXPECT_TRUE(cut.LicenseFile.empty());  // read after it: not read at all
}

TEST(ReadScript, UnknownTokensAndLoneHashesBecomeErrors) {
  TScript s;
  s.AppName = "A";
  s.ProgramFiles = "/p#x";
  EXPECT_EQ(s.ExpandPlaceholders("# x"), "<error> x");
  EXPECT_EQ(s.ExpandPlaceholders("#FOO#APP_NAME#"), "<error>A<error>");
  EXPECT_EQ(s.ExpandPlaceholders("#app_name1"), "A1");
  EXPECT_EQ(s.ExpandPlaceholders("##"), "<error><error>");
  // A value holding "#" is taken as it is.
  EXPECT_EQ(s.ExpandPlaceholders("#PROGRAM_FILES/#COMPANY"), "/p#x/");
  EXPECT_EQ(Read(std::string("[Settings]\nName=a# b\n") + "Directory=d\nExename=e\nShortCuts=s\n")
                .AppName,
            "a<error> b");
}

TEST(ReadScript, RequiredKeysMakeTheScriptValid) {
  bool ok = true;
  Read(std::string("[Settings]\n") + kRequired, &ok);
  EXPECT_TRUE(ok);
  Read("[Settings]\nName=App\nDirectory=/d\nExename=app\nFiles=a b\n", &ok);
  EXPECT_FALSE(ok);  // no ShortCuts
  Read("[Other]\nName=App\nDirectory=/d\nExename=app\nShortCuts=a b\n", &ok);
  EXPECT_FALSE(ok);
  TScript none;
  TempDir empty;
  EXPECT_FALSE(none.ReadScript(empty.Path() + "/"));
}

TEST(ReadScript, AnInvalidScriptStopsReadingButKeepsTheSwitches) {
  bool ok = true;
  const TScript s = Read(
      "[Settings]\nName=\nDirectory=/d\nExename=app\nShortCuts=a b\n"
      "Files=f\nUninstall=no\nAddToStartup=yes\nStartNow=Yes\nUrl=u\n",
      &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(s.Directory, "");
  EXPECT_EQ(s.Files, "");
  EXPECT_EQ(s.Url, "");
  EXPECT_FALSE(s.RegisterUninstall);
  EXPECT_TRUE(s.AddToStartup);
  EXPECT_TRUE(s.StartNow);
}

TEST(ReadScript, SwitchesAreYesOnlyForYes) {
  EXPECT_TRUE(Read(std::string("[Settings]\n") + kRequired).RegisterUninstall);  // default
  EXPECT_FALSE(Read(std::string("[Settings]\n") + kRequired).AddToStartup);
  EXPECT_TRUE(Read(std::string("[Settings]\nUninstall=yes\n") + kRequired).RegisterUninstall);
  EXPECT_FALSE(Read(std::string("[Settings]\nUninstall=Y\n") + kRequired).RegisterUninstall);
  EXPECT_FALSE(Read(std::string("[Settings]\nUninstall=1\n") + kRequired).RegisterUninstall);
  EXPECT_FALSE(Read(std::string("[Settings]\nStartNow=TRUE\n") + kRequired).StartNow);
  EXPECT_TRUE(Read(std::string("[Settings]\nStartNow='YES'\n") + kRequired).StartNow);
}

TEST(ReadScript, QuotesAndLicenceName) {
  const TScript s = Read(std::string("[Settings]\n") + kRequired +
                         "Files=\"a b.txt\" c.txt\nOptionalFiles='x'\n"
                         "LicenseFile=\"docs\\license.txt\"\n");
  EXPECT_EQ(s.Files, "\"a b.txt\" c.txt");  // only a pair around the whole value goes
  EXPECT_EQ(s.OptionalFiles, "x");
  EXPECT_EQ(s.LicenseFile, "license.txt");
}

TEST(NextWord, TakesWordsAndQuotedWords) {
  std::string list = "a.txt \"b c.txt\"  d.txt";
  EXPECT_EQ(NextWord(list), "a.txt");
  EXPECT_EQ(list, "\"b c.txt\"  d.txt");
  EXPECT_EQ(NextWord(list), "b c.txt");
  EXPECT_EQ(list, "d.txt");
  EXPECT_EQ(NextWord(list), "d.txt");
  EXPECT_EQ(list, "");
  EXPECT_EQ(NextWord(list), "");
}

TEST(NextWord, EdgesYieldEmptyWords) {
  std::string list = " a";
  EXPECT_EQ(NextWord(list), "");
  EXPECT_EQ(list, "a");
  list = "\"\" b";
  EXPECT_EQ(NextWord(list), "");
  EXPECT_EQ(list, "b");
  list = "\"open quote";
  EXPECT_EQ(NextWord(list), "open quote");
  EXPECT_EQ(list, "");
  list = "x\"y z";
  EXPECT_EQ(NextWord(list), "x\"y");
  EXPECT_EQ(CountWords("a \"b c\"  d"), 3);
  EXPECT_EQ(CountWords("app \"\""), 2);
  EXPECT_EQ(CountWords(""), 0);
}

}  // namespace
