// The internal memory report: its lines, the table lines with empty tables, and a
// total that is the sum of what the lines before it say.
#include <gtest/gtest.h>

#include <regex>

#include "monitor/diagnostics/TextFile.h"
#include "tests/monitor/shell/CoreFixture.h"
#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;

std::vector<std::string> ReportLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

TEST_F(CoreFixture, MemoryReportWithEmptyTables) {
  TempDir dir;
  Start();
  TraceFile.Rewrite(dir.File("trace.txt"));
  {
    std::lock_guard lock(ModelLock);
    core->WriteMemoryReport();
  }
  TraceFile.Close();
  const auto lines = ReportLines(dir.Read("trace.txt"));
  ASSERT_EQ(lines.size(), 16u);  // the table lines of step 6 are four
  EXPECT_EQ(lines[0], "**** Internal Memory Info ****");
  EXPECT_EQ(lines[15], "**** end Internal Memory Info ****");
  const std::string emptyList = std::to_string(sizeof(std::vector<void*>));
  EXPECT_EQ(lines[3], "0 file objects; " + emptyList + " total bytes");
  EXPECT_EQ(lines[4], "1 file names; 11 total bytes");  // "<other>" and its 4 bytes
  EXPECT_EQ(lines[5], "0 disk objects; " + emptyList + " total bytes");
  EXPECT_EQ(lines[6], "0 socket objects; " + emptyList + " total bytes");
  EXPECT_EQ(lines[7], "0 adapter objects; " + emptyList + " total bytes");
  EXPECT_EQ(lines[9], "Sorted list is " + emptyList + " total bytes");
  EXPECT_TRUE(lines[14].starts_with("Heap Info: "));

  const std::vector<std::regex> shapes = {
      std::regex("1 address table object; (\\d+) total bytes"),
      std::regex("1 memory object; (\\d+) total bytes"),
      std::regex("0 file objects; (\\d+) total bytes"),
      std::regex("1 file names; (\\d+) total bytes"),
      std::regex("0 disk objects; (\\d+) total bytes"),
      std::regex("0 socket objects; (\\d+) total bytes"),
      std::regex("0 adapter objects; (\\d+) total bytes"),
      std::regex("3 process objects; (\\d+) total bytes"),
      std::regex("Sorted list is (\\d+) total bytes"),
      std::regex("(\\d+) additional bytes used by average objects"),
      std::regex("(\\d+) bytes used by statistics objects and buffers"),
      std::regex("(\\d+) bytes used by TCP/IP port names"),
  };
  long long sum = 0;
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i + 1], m, shapes[i])) << lines[i + 1];
    sum += std::stoll(m[1]);
  }
  EXPECT_GT(sum, 0);
  EXPECT_EQ(lines[13], std::to_string(sum) + " total bytes used by objects and strings");
}

}  // namespace
}  // namespace ombrix
