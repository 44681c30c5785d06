#include "setup/Lines.h"

#include <gtest/gtest.h>

namespace {

using namespace ombrix::setup;

TEST(ConfirmLines, AllOptionsOnGiveSixLinesAndAllOffFour) {
  const auto on = ConfirmLines("/opt/App", {true, true, true}, true);
  ASSERT_EQ(on.size(), 6u);
  EXPECT_EQ(on[0], TLine("Installation Directory:", lkNormal));
  EXPECT_EQ(on[1], TLine("  /opt/App", lkNote));
  EXPECT_EQ(on[2], TLine("Start Menu Shortcuts:", lkNormal));
  EXPECT_EQ(on[3], TLine("  Will be added for all users of this computer", lkNote));
  EXPECT_EQ(on[4], TLine("  Will also be added to the current user's Startup folder", lkNote));
  EXPECT_EQ(on[5], TLine("The application will be started when the install completes", lkNormal));
  const auto off = ConfirmLines("/opt/App", {false, false, false}, false);
  ASSERT_EQ(off.size(), 4u);
  EXPECT_EQ(off[3], TLine("  Will not be added", lkNote));
  EXPECT_EQ(ConfirmLines("d", {true, false, false}, false)[3],
            TLine("  Will be created for the current user only", lkNote));
}

// One unit per character keeps the arithmetic visible.
int Width(const std::string& s) {
  return static_cast<int>(s.size());
}

TEST(WrapText, BreaksAtSpacesAndKeepsRunsOfSpaces) {
  EXPECT_EQ(WrapText("short", 10, Width), std::vector<std::string>{"short"});
  EXPECT_EQ(WrapText("  /opt/My Company/My Application", 16, Width),
            (std::vector<std::string>{"  /opt/My", "Company/My", "Application"}));
  EXPECT_EQ(WrapText("aaaa  bbbb", 6, Width), (std::vector<std::string>{"aaaa ", "bbbb"}));
  EXPECT_EQ(WrapText("/a/path/without/any/spaces/at/all", 10, Width),
            std::vector<std::string>{"/a/path/without/any/spaces/at/all"});
  // The indentation of a note line stays with a path that has no spaces.
  EXPECT_EQ(WrapText("  /a/path/without/any/spaces", 10, Width),
            std::vector<std::string>{"  /a/path/without/any/spaces"});
  EXPECT_EQ(WrapText("", 0, Width), std::vector<std::string>{""});
}

TEST(ErrorTexts, ComposeTitleAndText) {
  const auto install = ErrorTexts("The installation was canceled", "App", true, false);
  EXPECT_EQ(install.Title, "Installation Canceled");
  EXPECT_EQ(install.Text,
            "The installation was canceled.\n\nApp was not successfully installed.  You must "
            "run this setup program again to complete the installation.\n\nClick Exit to exit "
            "this program.");
  const auto uninstall = ErrorTexts("Broken", "App", false, true);
  EXPECT_EQ(uninstall.Title, "Uninstall Error");
  EXPECT_EQ(uninstall.Text, "Broken.\n\nClick Exit to exit this program.");
}

TEST(TicksSince, SurvivesTheCounterWrapping) {
  EXPECT_EQ(TicksSince(0xFFFFFFF0u, 0x10u), 0x20u);
  EXPECT_EQ(TicksSince(100, 300), 200u);
}

}  // namespace
