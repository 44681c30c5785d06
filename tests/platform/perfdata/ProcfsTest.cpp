// Parsers of /proc text: fields that hold blanks and parentheses, missing keys, escapes.
#include <gtest/gtest.h>

#include "platform/perfdata/LinuxProcfs.h"

namespace platform::procfs {
namespace {

TEST(ProcStat, CommMayHoldParenthesesAndBlanks) {
  const std::string line =
      "4242 (my (odd) prog) ) S 1 4242 4242 0 -1 4194560 10 0 0 0 70 30 0 0 20 0 3 0 "
      "123456 1000 50 18446744073709551615\n";
  const ProcStat st = ParseProcStat(line);
  ASSERT_TRUE(st.Ok);
  EXPECT_EQ(st.Comm, "my (odd) prog) ");
  EXPECT_EQ(st.State, 'S');
  EXPECT_EQ(st.Flags, 4194560u);
  EXPECT_EQ(st.UTime, 70u);
  EXPECT_EQ(st.STime, 30u);
  EXPECT_EQ(st.NumThreads, 3u);
  EXPECT_EQ(st.StartTime, 123456u);
}

TEST(ProcStat, KernelThreadFlagAndDamagedLines) {
  const ProcStat k =
      ParseProcStat("2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0 0 5 0 0 20 0 1 0 3 0 0\n");
  ASSERT_TRUE(k.Ok);
  EXPECT_TRUE(k.Flags & PF_KTHREAD);
  EXPECT_EQ(k.STime, 5u);
  EXPECT_FALSE(ParseProcStat("").Ok);
  EXPECT_FALSE(ParseProcStat("12 no parentheses S 1").Ok);
  EXPECT_FALSE(ParseProcStat("12 (x)").Ok);
  const ProcStat cut = ParseProcStat("12 (x) R 1 2");  // missing fields read as 0
  EXPECT_TRUE(cut.Ok);
  EXPECT_EQ(cut.UTime, 0u);
}

TEST(KeyedValue, FindsWholeKeysOnly) {
  const std::string meminfo =
      "MemTotal:       24683772 kB\nMemFree:  100 kB\nMemAvailable:   24100000 kB\n";
  EXPECT_EQ(KeyedValue(meminfo, "MemTotal"), 24683772u);
  EXPECT_EQ(KeyedValue(meminfo, "MemAvailable"), 24100000u);
  EXPECT_EQ(KeyedValue(meminfo, "Mem"), 0u);
  EXPECT_EQ(KeyedValue(meminfo, "SwapTotal"), 0u);
  EXPECT_EQ(KeyedValue("pgmajfault 17\npgmajfault_s 3\n", "pgmajfault"), 17u);
  EXPECT_EQ(KeyedValue("rchar: 6976\nwchar: 12\n", "wchar"), 12u);
}

TEST(NextNumber, SkipsBlanksAndStopsAtNonDigits) {
  std::string_view s = "  12 x 34";
  EXPECT_EQ(NextNumber(s), 12u);
  EXPECT_EQ(NextNumber(s), 0u);  // "x" is skipped, not read twice
  EXPECT_EQ(NextNumber(s), 34u);
  EXPECT_EQ(NextNumber(s), 0u);
}

TEST(MountPath, OctalEscapesAreUndone) {
  EXPECT_EQ(UnescapeMountPath("/mnt/my\\040disk"), "/mnt/my disk");
  EXPECT_EQ(UnescapeMountPath("/a\\134b"), "/a\\b");
  EXPECT_EQ(UnescapeMountPath("/trailing\\04"), "/trailing\\04");
  EXPECT_EQ(UnescapeMountPath("/"), "/");
}

}  // namespace
}  // namespace platform::procfs
