#include "monitor/diagnostics/TextFile.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace {

using ombrix::TTextFile;

TEST(TextFile, AppendsAcrossRunsAndRewriteEmpties) {
  ombrix::testing::TempDir dir;
  const std::string log = dir.File("Ombrix.log");
  {
    TTextFile first;
    ASSERT_TRUE(first.OpenAppend(log));  // created when missing
    first.WriteLine("one");
  }
  {
    TTextFile second;
    ASSERT_TRUE(second.OpenAppend(log));
    second.WriteLine("two");
    second.Flush();
    EXPECT_EQ(dir.Read("Ombrix.log"), "one\r\ntwo\r\n");
    EXPECT_TRUE(second.Rewrite());
    second.WriteLine("three");
  }
  EXPECT_EQ(dir.Read("Ombrix.log"), "three\r\n");
}

TEST(TextFile, ClosedWriterWritesNothing) {
  ombrix::testing::TempDir dir;
  TTextFile f;
  EXPECT_EQ(f.FileName(), "trace.txt");
  EXPECT_FALSE(f.IsOpen());
  f.WriteLine("lost");  // never opened: nothing, no error
  f.SetFileName(dir.File("t.txt"));
  EXPECT_FALSE(f.OpenExisting());  // no file yet
  ASSERT_TRUE(f.Rewrite());
  f.WriteLine("kept");
  f.Close();
  EXPECT_FALSE(f.IsOpen());
  f.WriteLine("after close");
  EXPECT_EQ(dir.Read("t.txt"), "kept\r\n");
  EXPECT_FALSE(f.Rewrite(dir.File("no/such/folder.txt")));
  EXPECT_FALSE(f.IsOpen());
}

TEST(TextFile, SecondWriterIsKeptOut) {
  ombrix::testing::TempDir dir;
  TTextFile a, b;
  ASSERT_TRUE(a.Rewrite(dir.File("x.txt")));
  EXPECT_FALSE(b.OpenAppend(dir.File("x.txt")));
  a.WriteLine("only a");
  a.Close();
  EXPECT_TRUE(b.OpenAppend(dir.File("x.txt")));
  EXPECT_EQ(dir.Read("x.txt"), "only a\r\n");
}

TEST(TextFile, LinesFromSeveralThreadsNeverInterleave) {
  ombrix::testing::TempDir dir;
  TTextFile f;
  ASSERT_TRUE(f.Rewrite(dir.File("t.txt")));
  std::vector<std::thread> threads;
  for (char c : {'a', 'b', 'c', 'd'})
    threads.emplace_back([&f, c] {
      for (int i = 0; i < 200; ++i) f.WriteLine(std::string(100, c));
    });
  for (auto& t : threads) t.join();
  f.Close();
  const std::string text = dir.Read("t.txt");
  EXPECT_EQ(text.size(), 4u * 200u * 102u);
  for (std::size_t at = 0; at < text.size(); at += 102)
    EXPECT_EQ(text.substr(at, 102), std::string(100, text[at]) + "\r\n");
}

TEST(TimeStamp, PadsEveryField) {
  platform::LocalTime t;
  t.Hour = 9;
  t.Minute = 5;
  t.Second = 3;
  t.Millisecond = 7;
  EXPECT_EQ(ombrix::TimeStampText(t), "09:05:03.007");
  t.Hour = 23;
  t.Minute = 59;
  t.Second = 59;
  t.Millisecond = 999;
  EXPECT_EQ(ombrix::TimeStampText(t), "23:59:59.999");
  EXPECT_TRUE(std::regex_match(ombrix::TimeStampText(), std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d)")));
}

TEST(HeapStatus, LineNamesEveryFigure) {
  std::vector<char> hold(1 << 20, 'x');  // make sure the allocator has something to report
  const std::string line = ombrix::HeapStatusLine();
  const std::regex shape(
      R"( AddrSpace=(\d+), Uncommited=0, Commited=(\d+), Allocated=(\d+), Free=\d+ \[Small=\d+, Big=\d+\], Unused=\d+, Overhead=0, Code=0)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
  EXPECT_EQ(m[1], m[2]);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Sanitizers bring their own allocator, which the C library's figures do not see.
  EXPECT_GE(std::stoull(m[3]), hold.size());
#endif
}

}  // namespace
