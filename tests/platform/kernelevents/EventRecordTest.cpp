// Records must carry their fields at the published offsets, in the published byte orders.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/kernelevents/EventRecord.h"
#include "tests/support/EventRecordBuilder.h"

namespace {

using namespace platform;

std::uint32_t U32At(const EventRecord& r, std::size_t at) {
  return r.Data.at(at) | r.Data.at(at + 1) << 8 | r.Data.at(at + 2) << 16 |
         std::uint32_t{r.Data.at(at + 3)} << 24;
}
std::uint16_t U16At(const EventRecord& r, std::size_t at) {
  return static_cast<std::uint16_t>(r.Data.at(at) | r.Data.at(at + 1) << 8);
}
const std::uint8_t* HeaderBytes(const EVENT_TRACE& e) {
  return reinterpret_cast<const std::uint8_t*>(&e.Header);
}

TEST(EventRecord, HeaderCarriesTypeAndProcessAtPublishedOffsets) {
  const EventRecord r = DiskIoRecord(EVENT_TYPE_DISK_WRITE, 4321, 0, 1, 0, 0, 7);
  const EVENT_TRACE e = r.View();
  EXPECT_EQ(HeaderBytes(e)[4], EVENT_TYPE_DISK_WRITE);
  std::uint32_t pid = 0;
  std::memcpy(&pid, HeaderBytes(e) + 12, 4);
  EXPECT_EQ(pid, 4321u);
  EXPECT_EQ(e.Header.Guid, DiskIoGuid);
  EXPECT_EQ(e.MofData, r.Data.data());
  EXPECT_EQ(e.MofLength, 32u);
}

TEST(EventRecord, DiskIoFields) {
  const EventRecord r =
      DiskIoRecord(EVENT_TYPE_DISK_READ, 9, 3, 65536, 1500, 0x1'0000'0200ull, 0xABCDEF);
  EXPECT_EQ(U32At(r, 0), 3u);
  EXPECT_EQ(U32At(r, 4), 0u);
  EXPECT_EQ(U32At(r, 8), 65536u);
  EXPECT_EQ(U32At(r, 12), 1500u);
  EXPECT_EQ(U32At(r, 16), 0x200u);
  EXPECT_EQ(U32At(r, 20), 1u);
  EXPECT_EQ(U32At(r, 24), 0xABCDEFu);
  EXPECT_EQ(U32At(r, 28), 0u);
}

TEST(EventRecord, NetworkFieldsInNetworkByteOrder) {
  const std::uint32_t peer = ombrix::testing::Ip(192, 168, 1, 20);
  const std::uint32_t local = ombrix::testing::Ip(10, 0, 0, 5);
  const EventRecord r =
      NetworkRecord(TcpIpGuid, EVENT_TYPE_NET_SEND, 77, 1460, peer, local, 443, 50000);
  ASSERT_EQ(r.Data.size(), 20u);
  EXPECT_EQ(U32At(r, 0), 77u);
  EXPECT_EQ(U32At(r, 4), 1460u);
  EXPECT_EQ((std::vector<std::uint8_t>(r.Data.begin() + 8, r.Data.begin() + 12)),
            (std::vector<std::uint8_t>{192, 168, 1, 20}));
  EXPECT_EQ((std::vector<std::uint8_t>(r.Data.begin() + 12, r.Data.begin() + 16)),
            (std::vector<std::uint8_t>{10, 0, 0, 5}));
  EXPECT_EQ(r.Data[16], 443 >> 8);
  EXPECT_EQ(r.Data[17], 443 & 0xFF);
  EXPECT_EQ(U16At(r, 18), __builtin_bswap16(50000));
}

TEST(EventRecord, ProcessStartSidAndImageOffsets) {
  const EventRecord r = ProcessStartRecord(1234, 99, 1000, "bash");
  EXPECT_EQ(U32At(r, 4), 1234u);
  EXPECT_EQ(U32At(r, 8), 99u);
  EXPECT_EQ(U32At(r, 20), 1u) << "the SID pointer is never empty";
  EXPECT_EQ(U32At(r, 24), 0u);
  // S-1-22-1-uid: revision 1, two sub-authorities, authority 22.
  EXPECT_EQ(r.Data[28], 1);
  EXPECT_EQ(r.Data[29], 2);
  EXPECT_EQ((std::vector<std::uint8_t>(r.Data.begin() + 30, r.Data.begin() + 36)),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 22}));
  EXPECT_EQ(U32At(r, 36), 1u);
  EXPECT_EQ(U32At(r, 40), 1000u);
  // The handler finds the name at 28 + 8 + 4 * count.
  const std::size_t nameAt = 28 + 8 + 4 * r.Data[29];
  EXPECT_EQ(nameAt, 44u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.Data.data() + nameAt)), "bash");
  EXPECT_EQ(r.Data.back(), 0);
  EXPECT_EQ(r.Header.Class.Type, EVENT_TYPE_PROCESS_START);
}

std::u16string NameOf(const EventRecord& r) {
  std::u16string name;
  for (std::size_t at = 4; at + 1 < r.Data.size(); at += 2) {
    const char16_t unit = static_cast<char16_t>(U16At(r, at));
    if (unit == 0) return name;
    name.push_back(unit);
  }
  ADD_FAILURE() << "name not terminated";
  return name;
}

TEST(EventRecord, FileNameIsUtf16LittleEndianTerminated) {
  const EventRecord r =
      FileNameRecord(5, 42, "/home/ana/caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80.txt");
  EXPECT_EQ(U32At(r, 0), 42u);
  EXPECT_EQ(r.Header.Class.Type, EVENT_TYPE_FILE_NAME);
  EXPECT_EQ(r.Data.size() % 2, 0u);
  EXPECT_EQ(NameOf(r), u"/home/ana/caf\u00E9 \u20AC \U0001F600.txt");
}

TEST(EventRecord, MalformedUtf8BecomesReplacementCharacters) {
  // A stray continuation byte, an overlong slash, a cut-off sequence at the end.
  EXPECT_EQ(NameOf(FileNameRecord(0, 1, "a\x80z")), u"a\uFFFDz");
  EXPECT_EQ(NameOf(FileNameRecord(0, 1, "\xC0\xAF")), u"\uFFFD\uFFFD");
  EXPECT_EQ(NameOf(FileNameRecord(0, 1, "ok\xE2\x82")), u"ok\uFFFD\uFFFD");
  EXPECT_EQ(NameOf(FileNameRecord(0, 1, "\xED\xA0\x80")), u"\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(NameOf(FileNameRecord(0, 1, "")), u"");
}

TEST(EventRecordBuilder, SidVariantsPlaceTheImageWhereTheSidEnds) {
  using namespace ombrix::testing;
  const EventRecord common = ProcessStartWithSid(8, "svc", 5);
  EXPECT_EQ(common.Data[29], 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(common.Data.data() + 56)), "svc");
  const EventRecord empty = ProcessStartWithSid(8, "svc", 0, true);
  EXPECT_EQ(U32At(empty, 20), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(empty.Data.data() + 28)), "svc");
  EXPECT_EQ(Truncated(common, 30).Data.size(), 30u);
  const EventRecord units = FileNameUnits(3, u"ab", false);
  EXPECT_EQ(units.Data.size(), 8u);
}

}  // namespace
