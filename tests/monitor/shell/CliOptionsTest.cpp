// The text front end's command line: each option, column names and numbers per view, and
// the mistakes it refuses.
#include <gtest/gtest.h>

#include "monitor/cli/CliOptions.h"

namespace ombrix {
namespace {

bool Parse(std::vector<std::string> args, TCliOptions& o, std::string& error) {
  o = TCliOptions{};
  error.clear();
  return ParseCliOptions(args, o, error);
}

TEST(CliOptions, EveryOptionTakesEffect) {
  TCliOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--view", "Sockets", "--interval", "250", "--samples", "3", "--sort", "1",
                     "--descending", "--overall", "--stats"},
                    o, error))
      << error;
  EXPECT_EQ(o.View, 4);
  EXPECT_EQ(o.Interval, 250);
  EXPECT_EQ(o.Samples, 3);
  EXPECT_EQ(o.SortColumn, "1");
  EXPECT_TRUE(o.Descending && o.Overall && o.Stats);
  EXPECT_FALSE(o.Help);

  ASSERT_TRUE(Parse({}, o, error));
  EXPECT_EQ(o.View, 0);
  EXPECT_EQ(o.Samples, 0);   // until interrupted
  EXPECT_EQ(o.Interval, 0);  // the settings' interval
  ASSERT_TRUE(Parse({"--help"}, o, error));
  EXPECT_TRUE(o.Help);
  EXPECT_NE(CliUsage().find("--samples N"), std::string::npos);
}

TEST(CliOptions, HistoryTakesARangeOfMoments) {
  TCliOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--history", "--since", "2024-05-01 14:03", "--until", "-2h"}, o, error))
      << error;
  EXPECT_TRUE(o.History);
  EXPECT_EQ(o.Since, "2024-05-01 14:03");
  EXPECT_EQ(o.Until, "-2h");
  EXPECT_NE(CliUsage().find("--history [--since WHEN] [--until WHEN]"), std::string::npos);
}

TEST(CliOptions, SortColumnsByNumberOrTitle) {
  EXPECT_EQ(ResolveSortColumn("0", 0), 0);
  EXPECT_EQ(ResolveSortColumn("working set", 0), 3);
  EXPECT_EQ(ResolveSortColumn("Adapter Name", 3), 0);
  EXPECT_EQ(ResolveSortColumn("Working Set", 3), -1);  // not a column of that view
  EXPECT_EQ(ResolveSortColumn("99", 0), -1);
  EXPECT_EQ(ResolveSortColumn("-1", 0), -1);
}

TEST(CliOptions, MistakesAreRefusedWithAMessage) {
  TCliOptions o;
  std::string error;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--view", "threads"},
                                             {"--view"},
                                             {"--interval", "0"},
                                             {"--interval", "12x"},
                                             {"--interval", "99999999999999999999"},
                                             {"--samples", "-2"},
                                             {"--sort", "nonsense"},
                                             {"--history", "--since", "yesterday"},
                                             {"--history", "--until", "25:00"},
                                             {"--since", "-10m"},
                                             {"--bogus"}}) {
    EXPECT_FALSE(Parse(args, o, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

}  // namespace
}  // namespace ombrix
