#include "platform/inifile/IniFile.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/TempDir.h"

namespace {

using platform::IniFile;

TEST(IniFileRead, MatchesNamesWithoutCaseAndTrimsValues) {
  const IniFile ini = IniFile::Parse("[settings]\r\n  InterVal =  1500  \r\n");
  EXPECT_EQ(ini.Read("SETTINGS", "interval"), "1500");
  EXPECT_FALSE(ini.Read("Settings", "Missing").has_value());
  EXPECT_FALSE(ini.Read("Other", "Interval").has_value());
  EXPECT_EQ(ini.ReadString("Settings", "Missing", "dflt"), "dflt");
}

TEST(IniFileRead, StripsOnlyAMatchingPairOfQuotes) {
  const IniFile ini = IniFile::Parse(
      "[S]\na=\"quoted value\"\nb='single'\nc=\"mixed'\nd=\"\ne= \" padded \" \nf=\"\"\n");
  EXPECT_EQ(ini.Read("S", "a"), "quoted value");
  EXPECT_EQ(ini.Read("S", "b"), "single");
  EXPECT_EQ(ini.Read("S", "c"), "\"mixed'");
  EXPECT_EQ(ini.Read("S", "d"), "\"");
  EXPECT_EQ(ini.Read("S", "e"), " padded ");
  EXPECT_EQ(ini.Read("S", "f"), "");
}

TEST(IniFileRead, FirstSectionAndFirstKeyWin) {
  const IniFile ini = IniFile::Parse("[S]\nk=1\nk=2\n[T]\nk=3\n[s]\nk=4\nx=5\n");
  EXPECT_EQ(ini.Read("S", "k"), "1");
  EXPECT_EQ(ini.Read("T", "k"), "3");
  EXPECT_FALSE(ini.Read("S", "x").has_value());
  EXPECT_EQ(ini.Keys("S"), (std::vector<std::string>{"k"}));
}

TEST(IniFileRead, CutsLongValuesAndSurvivesGarbage) {
  std::string text = "\x01\xff garbage\n=novalue\n[S]\nno equals sign\nlong=";
  text += std::string(100000, 'x');
  text.append("\nbin=a\0b\n", 9);
  const IniFile ini = IniFile::Parse(text);
  EXPECT_EQ(ini.Read("S", "long")->size(), IniFile::MaxValueLength);
  EXPECT_EQ(ini.Keys("S"), (std::vector<std::string>{"long", "bin"}));
  EXPECT_FALSE(ini.Read("S", "no equals sign").has_value());
  EXPECT_EQ(ini.Read("S", "bin"), std::string("a\0b", 3));
}

TEST(IniFileWrite, ReplacesAddsAndKeepsOtherLinesAsTheyWere) {
  IniFile ini = IniFile::Parse("; comment\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
  ini.Write("a", "X", "10");
  ini.Write("A", "z", "3");
  ini.Write("C", "w", "4");
  EXPECT_EQ(ini.Text(), "; comment\r\n[A]\r\nX=10\r\nz=3\r\n\r\n[B]\r\ny=2\r\n[C]\r\nw=4\r\n");
}

TEST(IniFileWrite, EraseSectionRemovesEveryCopyAndNothingElse) {
  IniFile ini = IniFile::Parse("top=1\n[Settings]\na=1\n[Other]\nb=2\n[SETTINGS]\nc=3\n");
  ini.EraseSection("settings");
  EXPECT_EQ(ini.Text(), "top=1\n[Other]\nb=2\n");
  EXPECT_FALSE(ini.HasSection("Settings"));
}

TEST(IniFileWrite, UntouchedTextRoundTripsByteForByte) {
  const std::string text = "a\r\n[S]\nk = v \r\n\n[T]\r\nlast";
  EXPECT_EQ(IniFile::Parse(text).Text(), text);
}

TEST(IniFileSave, ReplacesTheFileAndReportsFailure) {
  ombrix::testing::TempDir dir;
  dir.Write("x.ini", "[Keep]\nk=1\n");
  IniFile ini = IniFile::Load(dir.File("x.ini"));
  ini.Write("S", "a", "b");
  ini.Save(dir.File("x.ini"));
  EXPECT_EQ(dir.Read("x.ini"), "[Keep]\nk=1\n[S]\na=b\n");

  // A folder that does not exist cannot take the file.
  EXPECT_THROW(ini.Save(dir.File("missing/x.ini")), platform::IniWriteError);
  // Nor can a path that names a folder; the folder is left alone.
  EXPECT_THROW(ini.Save(dir.Path()), platform::IniWriteError);
  EXPECT_TRUE(IniFile::Load(dir.File("nothing-here")).Text().empty());
}

}  // namespace
