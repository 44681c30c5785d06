#include "monitor/network/PortNames.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/TempDir.h"

namespace {

using ombrix::LoadPortNamesFrom;
using ombrix::ParsePortLine;
using ombrix::PortNames;

class PortNamesFile : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() { PortNames.Clear(); }
  void Load(const std::string& text) {
    dir.Write("ports.txt", text);
    LoadPortNamesFrom(dir.File("ports.txt"));
  }
  ombrix::testing::TempDir dir;
};

TEST_F(PortNamesFile, KeywordPortAndDescriptionStoreTheDescription) {
  Load(
      "www-http 80/tcp World Wide  Web HTTP\n"
      "www-http 80/udp Something else\n");
  EXPECT_EQ(PortNames[80], "World Wide  Web HTTP");  // inner spacing kept; first line wins
  EXPECT_EQ(PortNames[0], "Non-TCP Packets");
}

TEST_F(PortNamesFile, PortFirstStoresTheRestAndABarePortStoresNothing) {
  Load(
      "22/tcp ssh\n"
      "7/tcp\n"
      "7/udp echo\n");  // the empty entry is still free for a later line
  EXPECT_EQ(PortNames[22], "ssh");
  EXPECT_EQ(PortNames[7], "echo");
}

TEST_F(PortNamesFile, CommentsBlanksAndControlCharactersAreTrimmed) {
  Load(
      "# 21/tcp ftp\n"
      "   # 23/tcp telnet\n"
      "\n"
      "  \t 25/tcp   smtp  \t\r\n"
      "\x01"
      "53/udp domain\x02\n");
  EXPECT_EQ(PortNames[21], "");
  EXPECT_EQ(PortNames[23], "");
  EXPECT_EQ(PortNames[25], "smtp");
  EXPECT_EQ(PortNames[53], "domain");
}

TEST_F(PortNamesFile, OnlyTheSpaceSeparatesTokens) {
  Load(
      "http\t81/tcp\tweb\n"      // one token that does not end in a suffix
      "x 82/tcp\tname here\n");  // the port token ends at the space after "\tname"
  EXPECT_EQ(PortNames[81], "");
  EXPECT_EQ(PortNames[82], "");
  std::uint16_t port = 0;
  std::string name;
  ASSERT_TRUE(ParsePortLine("x y 83/udp a 84/tcp b", port, name));
  EXPECT_EQ(port, 83);
  EXPECT_EQ(name, "a 84/tcp b");  // no further port tokens are looked for
}

TEST_F(PortNamesFile, BadPortTokensStoreNothing) {
  std::uint16_t port = 0;
  std::string name;
  for (const char* line : {"99999/tcp big", "65536/tcp big", "-1/udp minus", "0/tcp zero",
                           "80/TCP upper", "eighty/tcp word", "/tcp empty", "8O/tcp letter",
                           "0x50/tcp hex", "80/tcpx suffix", "#80/tcp comment", ""}) {
    EXPECT_FALSE(ParsePortLine(line, port, name)) << line;
  }
  ASSERT_TRUE(ParsePortLine("65535/udp top", port, name));
  EXPECT_EQ(port, 65535);
  // A bad port token ends the search: a later good one on the line is not taken.
  EXPECT_FALSE(ParsePortLine("99999/tcp 8080/tcp alt", port, name));
}

TEST_F(PortNamesFile, BinaryBytesAndHugeLinesDoNotHurt) {
  std::string text = "110/tcp pop3\n";
  text += std::string(1 << 20, 'x') + " 111/tcp " + std::string(1 << 20, 'y') + "\n";
  text += std::string("\0\xFF\xFE 112/tcp n\0ul\n", 17);
  text += "113/udp ident";  // no line end at the end of the file
  Load(text);
  EXPECT_EQ(PortNames[110], "pop3");
  EXPECT_EQ(PortNames[111].size(), 1U << 20);
  EXPECT_EQ(PortNames[112], std::string("n\0ul", 4));
  EXPECT_EQ(PortNames[113], "ident");
}

TEST_F(PortNamesFile, MissingFileLeavesOnlyPortZero) {
  LoadPortNamesFrom(dir.File("absent.txt"));
  EXPECT_EQ(PortNames[0], "Non-TCP Packets");
  EXPECT_EQ(PortNames[80], "");
}

TEST_F(PortNamesFile, TheShippedFileParses) {
  // ports.txt is made beside the programs at build time from the machine's service list.
  LoadPortNamesFrom(OMBRIX_PORTS_FILE);
  std::size_t named = 0;
  for (std::size_t port = 1; port < ombrix::PortCount; ++port)
    named += !PortNames.Name(static_cast<std::uint16_t>(port)).empty();
  if (named == 0) GTEST_SKIP() << "no service list on this machine";
  EXPECT_EQ(PortNames[22], "ssh");
}

}  // namespace
