#include "platform/inifile/IniFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/InChild.h"
#include "tests/support/TempDir.h"

namespace {

using ombrix::testing::ChildUser;
using ombrix::testing::InChild;
using ombrix::testing::TempDir;
using platform::IniFile;

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st;
}

std::size_t EntriesIn(const TempDir& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) ++n;
  return n;
}

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

TEST(IniFileWrite, EraseSectionTakesOnePassHoweverManyCopiesThereAre) {
  std::string text, others;
  for (int i = 0; i < 20000; ++i) {
    text += "[Settings]\nk=1\n[Other]\nk=2\n";
    others += "[Other]\nk=2\n";
  }
  IniFile ini = IniFile::Parse(text);
  ini.EraseSection("SETTINGS");
  EXPECT_EQ(ini.Text(), others);
  // Each of the 80 000 lines is looked at once and moved at most once.
  EXPECT_LE(ini.EraseSteps(), 160000u);
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

TEST(IniFileOpen, AMissingFileIsEmptyAndOneThatCannotBeReadRaises) {
  TempDir dir;
  EXPECT_TRUE(IniFile::Open(dir.File("missing.ini")).Text().empty());
  EXPECT_TRUE(IniFile::Open(dir.File("missing/x.ini")).Text().empty());
  EXPECT_THROW(IniFile::Open(dir.Path()), platform::IniReadError);
  // A named pipe raises at once instead of waiting for a writer.
  ASSERT_EQ(mkfifo(dir.File("pipe.ini").c_str(), 0600), 0);
  EXPECT_THROW(IniFile::Open(dir.File("pipe.ini")), platform::IniReadError);
  EXPECT_TRUE(IniFile::Load(dir.File("pipe.ini")).Text().empty());

  dir.Write("locked.ini", "[S]\nk=v\n");
  chmod(dir.Path().c_str(), 0755);
  chmod(dir.File("locked.ini").c_str(), 0);
  const std::string locked = dir.File("locked.ini");
  EXPECT_EQ(InChild(
                [&]() -> std::string {
                  try {
                    IniFile::Open(locked);
                  } catch (const platform::IniReadError& e) {
                    return std::string(e.what()).starts_with(locked + ": ") ? "" : e.what();
                  }
                  return "opened";
                },
                ChildUser::Nobody),
            "");
}

TEST(IniFileSave, KeepsTheFilesOwnerGroupAndMode) {
  TempDir dir;
  const std::string file = dir.File("x.ini");
  dir.Write("x.ini", "[Old]\n");
  chmod(file.c_str(), 0600);
  const bool root = geteuid() == 0;
  const auto user = ombrix::testing::Nobody();
  if (root) {
    ASSERT_EQ(chown(file.c_str(), user.Uid, user.Gid), 0);
  }
  IniFile::Parse("[New]\n").Save(file);
  EXPECT_EQ(dir.Read("x.ini"), "[New]\n");
  const struct stat st = StatOf(file);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  if (!root) GTEST_SKIP() << "only root can save another user's file";
  EXPECT_EQ(st.st_uid, user.Uid);  // a root run leaves the user's file the user's
  EXPECT_EQ(st.st_gid, user.Gid);
}

TEST(IniFileSave, RewritesInPlaceWhereTheOwnerCannotBeKept) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a file of another user";
  TempDir dir;
  chmod(dir.Path().c_str(), 0777);
  const std::string file = dir.File("x.ini");
  dir.Write("x.ini", "[Old]\nk=1\n");
  chmod(file.c_str(), 0666);  // root's file, writable by all
  const ino_t inode = StatOf(file).st_ino;
  EXPECT_EQ(InChild(
                [&] {
                  IniFile::Parse("[New]\n").Save(file);
                  return std::string();
                },
                ChildUser::Nobody),
            "");
  EXPECT_EQ(dir.Read("x.ini"), "[New]\n");
  const struct stat st = StatOf(file);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_mode & 07777, 0666u);
  EXPECT_EQ(st.st_ino, inode);
  EXPECT_EQ(EntriesIn(dir), 1u);  // no temporary file left behind

  // Neither renamed over nor writable: the save fails and the file stays as it was.
  chmod(file.c_str(), 0644);
  EXPECT_EQ(InChild(
                [&]() -> std::string {
                  try {
                    IniFile::Parse("[Newer]\n").Save(file);
                  } catch (const platform::IniWriteError&) {
                    return "";
                  }
                  return "saved";
                },
                ChildUser::Nobody),
            "");
  EXPECT_EQ(dir.Read("x.ini"), "[New]\n");
  EXPECT_EQ(StatOf(file).st_uid, 0u);
  EXPECT_EQ(EntriesIn(dir), 1u);
}

TEST(IniFileSave, ANewFileSavedByRootInAUsersFolderIsTheUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "only root creates files for another user";
  TempDir dir;
  const auto user = ombrix::testing::Nobody();
  ASSERT_EQ(chown(dir.Path().c_str(), user.Uid, user.Gid), 0);
  IniFile::Parse("[S]\n").Save(dir.File("new.ini"));
  const struct stat st = StatOf(dir.File("new.ini"));
  EXPECT_EQ(st.st_uid, user.Uid);
  EXPECT_EQ(st.st_gid, user.Gid);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

}  // namespace
