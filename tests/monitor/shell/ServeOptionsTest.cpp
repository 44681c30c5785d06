// ombrix-cli's --serve and --top: the addresses they take, the default that keeps the
// figures on this machine, and the combinations they refuse.
#include <gtest/gtest.h>

#include "monitor/cli/CliOptions.h"

namespace ombrix {
namespace {

bool Parse(std::vector<std::string> args, TCliOptions& o, std::string& error) {
  o = TCliOptions{};
  error.clear();
  return ParseCliOptions(args, o, error);
}

TEST(ServeOptions, TheAddressIsLoopbackUnlessOneIsGiven) {
  TCliOptions o;
  std::string error;
  const std::string loopback = "127.0.0.1:" + std::to_string(DefaultServePort);
  ASSERT_TRUE(Parse({"--serve"}, o, error)) << error;
  EXPECT_EQ(o.Serve, loopback);
  EXPECT_EQ(o.Top, 10);
  ASSERT_TRUE(Parse({"--serve", "--top", "3"}, o, error)) << error;
  EXPECT_EQ(o.Serve, loopback);
  EXPECT_EQ(o.Top, 3);
  ASSERT_TRUE(Parse({"--serve", "9999", "--interval", "500"}, o, error)) << error;
  EXPECT_EQ(o.Serve, "127.0.0.1:9999");
  ASSERT_TRUE(Parse({"--serve", "0.0.0.0:0", "--stats"}, o, error)) << error;
  EXPECT_EQ(o.Serve, "0.0.0.0:0");
  ASSERT_TRUE(Parse({"--serve", "192.168.1.20:65535"}, o, error)) << error;
  EXPECT_EQ(o.Serve, "192.168.1.20:65535");
  ASSERT_TRUE(Parse({}, o, error));
  EXPECT_TRUE(o.Serve.empty());
  EXPECT_NE(CliUsage().find("0.0.0.0:PORT"), std::string::npos);
}

TEST(ServeOptions, MistakesAreRefusedWithAMessage) {
  TCliOptions o;
  std::string error;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--serve", "65536"},
                                             {"--serve", "-1"},
                                             {"--serve", "http"},
                                             {"--serve", "127.0.0.1:"},
                                             {"--serve", "1.2.3:80"},
                                             {"--serve", "1.2.3.4.5:80"},
                                             {"--serve", "256.0.0.1:80"},
                                             {"--serve", "localhost:80"},
                                             {"--serve", "[::1]:80"},
                                             {"--serve", "--top", "0"},
                                             {"--serve", "--top", "1001"},
                                             {"--top", "5"},
                                             {"--serve", "--view", "files"},
                                             {"--serve", "--sort", "1"},
                                             {"--serve", "--overall"},
                                             {"--descending", "--serve"},
                                             {"--history", "--serve"}}) {
    EXPECT_FALSE(Parse(args, o, error)) << args[0] << " " << args[1];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace ombrix
