#include "platform/installer/LzExpand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/platform/installer/SzddBuilder.h"
#include "tests/support/TempDir.h"

namespace {

using ombrix::testing::SzddHeader;
using ombrix::testing::SzddLiterals;
using ombrix::testing::TempDir;

std::int64_t CopyFile(const TempDir& dir, const std::string& from, const std::string& to) {
  const auto folder = platform::Folder::Open(dir.Path(), true);
  auto in = platform::LzOpenRead(dir.File(from));
  auto out = in ? platform::LzCreate(folder, to, in->Executable()) : nullptr;
  if (!in || !out) return -100;
  std::int64_t result = platform::LzCopy(*in, *out);
  platform::LzClose(in);
  if (!platform::LzClose(out) && result >= 0) result = -200;
  return result;
}

unsigned Mode(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFFu;
}

TEST(LzExpand, CopiesPlainFilesByteForByte) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 200000; ++i) data += static_cast<char>(i * 7);
  dir.Write("plain.bin", data);
  dir.Write("SZD", "SZD");  // shorter than a signature: plain too
  EXPECT_EQ(CopyFile(dir, "plain.bin", "copy.bin"), static_cast<std::int64_t>(data.size()));
  EXPECT_EQ(dir.Read("copy.bin"), data);
  EXPECT_EQ(CopyFile(dir, "SZD", "copy2"), 3);
  EXPECT_EQ(dir.Read("copy2"), "SZD");
  dir.Write("empty", "");
  EXPECT_EQ(CopyFile(dir, "empty", "copy3"), 0);
  EXPECT_TRUE(platform::LzOpenRead(dir.File("copy3")) != nullptr);
}

TEST(LzExpand, CopiesTakeTheUsualModeOfANewFile) {
  TempDir dir;
  const mode_t old = umask(022);
  dir.Write("prog", "#!/bin/sh\n");
  chmod(dir.File("prog").c_str(), 0750);
  dir.Write("prog.sh_", SzddLiterals("#!/bin/sh\nexit 0\n"));
  chmod(dir.File("prog.sh_").c_str(), 0777);
  dir.Write("data", "d");
  chmod(dir.File("data").c_str(), 0666);
  ASSERT_GE(CopyFile(dir, "prog", "copy"), 0);
  ASSERT_GE(CopyFile(dir, "prog.sh_", "prog.sh"), 0);
  ASSERT_GE(CopyFile(dir, "data", "data2"), 0);
  umask(old);
  // Programs stay programs; nothing becomes writable by others.
  EXPECT_EQ(Mode(dir.File("copy")), 0755u);
  EXPECT_EQ(Mode(dir.File("prog.sh")), 0755u);
  EXPECT_EQ(Mode(dir.File("data2")), 0644u);
}

TEST(LzExpand, ExpandsLiteralsAndBackReferences) {
  TempDir dir;
  dir.Write("lit.tx_", SzddLiterals("The quick brown fox jumps over the lazy dog."));
  ASSERT_TRUE(platform::LzOpenRead(dir.File("lit.tx_"))->Compressed());
  EXPECT_EQ(CopyFile(dir, "lit.tx_", "lit.txt"), 44);
  EXPECT_EQ(dir.Read("lit.txt"), "The quick brown fox jumps over the lazy dog.");

  // Eight literals land at window position 4080; a match of 8 from there repeats them and a
  // match of 3 from position 0 yields the window's initial blanks.
  std::string packed = SzddHeader(19);
  packed += '\xFF';
  packed += "abcdefgh";
  packed += '\x00';
  packed += "\xF0\xF5";                  // position 0xFF0, length 5 + 3
  packed += std::string("\x00\x00", 2);  // position 0, length 0 + 3
  dir.Write("ref.bi_", packed);
  EXPECT_EQ(CopyFile(dir, "ref.bi_", "ref.bin"), 19);
  EXPECT_EQ(dir.Read("ref.bin"), "abcdefghabcdefgh   ");
}

TEST(LzExpand, RefusesWhatCannotBeOpenedOrWritten) {
  TempDir dir;
  EXPECT_EQ(platform::LzOpenRead(dir.File("missing")), nullptr);
  EXPECT_EQ(platform::LzOpenRead(dir.Path()), nullptr);  // a folder
  EXPECT_EQ(platform::LzOpenRead(dir.Path() + "/"), nullptr);
  const auto folder = platform::Folder::Open(dir.Path(), true);
  for (const std::string name : {"", ".", "..", "a/b"})
    EXPECT_EQ(platform::LzCreate(folder, name, false), nullptr) << name;
  std::filesystem::create_directory(dir.File("sub"));
  EXPECT_EQ(platform::LzCreate(folder, "sub", false), nullptr);  // a folder has the name
  EXPECT_EQ(platform::LzCreate(platform::Folder(), "file", false), nullptr);
}

TEST(LzExpand, ADestinationTakesItsNameOnlyAfterACopySucceeded) {
  TempDir dir;
  dir.Write("old", "old content");
  dir.Write("new", "new content");
  const auto folder = platform::Folder::Open(dir.Path(), true);
  auto in = platform::LzOpenRead(dir.File("new"));
  auto out = platform::LzCreate(folder, "old", false);
  ASSERT_TRUE(in && out);
  platform::LzClose(out);  // no copy: dropped
  EXPECT_EQ(dir.Read("old"), "old content");
  out = platform::LzCreate(folder, "old", false);
  ASSERT_GE(platform::LzCopy(*in, *out), 0);
  EXPECT_EQ(dir.Read("old"), "old content");  // not before it is closed
  EXPECT_TRUE(platform::LzClose(out));
  EXPECT_EQ(dir.Read("old"), "new content");
  // Nothing of the attempts is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            2);
}

TEST(LzExpand, DamagedCompressedFilesGiveAnErrorCode) {
  TempDir dir;
  // A header cut short is not a usable compressed file.
  dir.Write("cut.tx_", SzddHeader(10).substr(0, 11));
  const std::int64_t result = CopyFile(dir, "cut.tx_", "cut.txt");
  EXPECT_LT(result, 0);
  EXPECT_NE(result, -100);
  // Data that ends before the length the header promises is no copy.
  dir.Write("short.tx_", SzddHeader(100) +
                             "\x07"
                             "abc");
  EXPECT_EQ(CopyFile(dir, "short.tx_", "short.txt"), platform::LzErrorShort);
  EXPECT_FALSE(std::filesystem::exists(dir.File("short.txt")));
  dir.Write("exact.tx_", SzddHeader(3) +
                             "\x07"
                             "abc");
  EXPECT_EQ(CopyFile(dir, "exact.tx_", "exact.txt"), 3);
}

}  // namespace
