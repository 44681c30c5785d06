// The Linux provider: genuine blocks in the published layout, the query text, the short
// buffer answer, the name table and the memory resource map.
#include <gtest/gtest.h>
#include <linux/nl80211.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>

#include "platform/linux/Handle.h"
#include "platform/perfdata/LinuxProvider.h"
#include "platform/perfdata/NameIndexes.h"
#include "platform/perfdata/NameTable.h"
#include "platform/perfdata/PerfBlockWriter.h"
#include "platform/perfdata/PerfDataKey.h"
#include "platform/perfdata/PerfLayout.h"
#include "platform/perfdata/WirelessBitrate.h"
#include "tests/support/PerfBlockReader.h"

namespace platform {
namespace {

template <typename T>
T At(const std::vector<std::uint8_t>& b, std::size_t at) {
  T v;
  EXPECT_LE(at + sizeof v, b.size());
  std::memcpy(&v, b.data() + std::min(at, b.size() - sizeof v), sizeof v);
  return v;
}

std::vector<std::uint8_t> Query(const std::string& text) {
  std::vector<std::uint8_t> buf(1 << 20);
  std::uint32_t bytes = 0;
  EXPECT_EQ(QueryPerformanceData(text, buf.data(), static_cast<std::uint32_t>(buf.size()), &bytes),
            ERROR_SUCCESS);
  buf.resize(bytes);
  return buf;
}

struct Counter {
  std::uint32_t Index, Type, Size, Offset;
};
struct Object {
  std::size_t At;
  std::uint32_t Index;
  std::int32_t Instances;
  std::vector<Counter> Counters;
};

// Walks the block by the published layout alone and checks its invariants on the way.
std::vector<Object> Objects(const std::vector<std::uint8_t>& b) {
  std::vector<Object> out;
  std::size_t at = At<std::uint32_t>(b, 24);
  for (std::uint32_t n = At<std::uint32_t>(b, 28); n > 0; --n) {
    Object o{at, At<std::uint32_t>(b, at + 12), At<std::int32_t>(b, at + 40), {}};
    EXPECT_EQ(At<std::uint32_t>(b, at + 8), 64u);
    EXPECT_EQ(At<std::uint32_t>(b, at + 28), 100u);  // NOVICE
    EXPECT_EQ(At<std::int64_t>(b, at + 48), At<std::int64_t>(b, 56));
    EXPECT_EQ(At<std::int64_t>(b, at + 56), 1'000'000'000);
    std::size_t def = at + 64;
    for (std::uint32_t k = At<std::uint32_t>(b, at + 32); k > 0; --k) {
      Counter c{At<std::uint32_t>(b, def + 4), At<std::uint32_t>(b, def + 28),
                At<std::uint32_t>(b, def + 32), At<std::uint32_t>(b, def + 36)};
      EXPECT_EQ(c.Size, (c.Type & PERF_SIZE_MASK) == PERF_SIZE_LARGE ? 8u : 4u);
      EXPECT_GE(c.Offset, 8u);           // after ByteLength and its padding
      EXPECT_EQ(c.Offset % c.Size, 0u);  // 64-bit counters 8-aligned
      o.Counters.push_back(c);
      def += At<std::uint32_t>(b, def);
    }
    EXPECT_EQ(def, at + At<std::uint32_t>(b, at + 4));
    std::size_t inst = def;
    for (std::int32_t i = 0; i < o.Instances; ++i) {
      const std::uint32_t length = At<std::uint32_t>(b, inst);
      EXPECT_EQ(length % 8, 0u);
      EXPECT_EQ(At<std::uint32_t>(b, inst + 16), 24u);
      const std::size_t block = inst + length;
      EXPECT_EQ(block % 8, 0u);
      inst = block + At<std::uint32_t>(b, block);
    }
    if (o.Instances > 0) {
      EXPECT_EQ(inst, at + At<std::uint32_t>(b, at));
    }
    out.push_back(o);
    at += At<std::uint32_t>(b, at);
  }
  EXPECT_EQ(at, b.size());
  return out;
}

TEST(LinuxProvider, GlobalBlockInThePublishedLayout) {
  const auto b = Query("Global ");
  ASSERT_GE(b.size(), 88u);
  EXPECT_EQ(std::memcmp(b.data(), u"PERF", 8), 0);
  EXPECT_EQ(At<std::uint32_t>(b, 8), 1u);
  EXPECT_EQ(At<std::uint32_t>(b, 12), 1u);
  EXPECT_EQ(At<std::uint32_t>(b, 16), 1u);
  EXPECT_EQ(At<std::uint32_t>(b, 20), b.size());
  EXPECT_EQ(At<std::uint32_t>(b, 24) % 8, 0u);
  EXPECT_EQ(At<std::int64_t>(b, 64), 1'000'000'000);
  timeval now{};
  gettimeofday(&now, nullptr);
  const std::int64_t fileTime = now.tv_sec * 10'000'000LL + 116444736000000000LL;
  EXPECT_NEAR(static_cast<double>(At<std::int64_t>(b, 72)), static_cast<double>(fileTime), 5e7);
  EXPECT_EQ(
      At<std::uint16_t>(b, 36), 1900 + [] {
        time_t t = time(nullptr);
        tm u{};
        gmtime_r(&t, &u);
        return u.tm_year;
      }());
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::uint32_t nameAt = At<std::uint32_t>(b, 84);
  EXPECT_EQ(At<std::uint32_t>(b, 80), 2 * (std::strlen(host) + 1));
  EXPECT_EQ(At<char16_t>(b, nameAt), static_cast<char16_t>(host[0]));

  const auto objects = Objects(b);
  std::vector<std::uint32_t> order;
  for (const Object& o : objects) order.push_back(o.Index);
  EXPECT_EQ(order, (std::vector<std::uint32_t>{2, 4, 238, 230, 232, 236, 510}));
  EXPECT_EQ(objects[0].Instances, PERF_NO_INSTANCES);
  EXPECT_EQ(objects[1].Instances, PERF_NO_INSTANCES);
  EXPECT_EQ(objects[2].Instances, sysconf(_SC_NPROCESSORS_ONLN) + 1);
  EXPECT_GE(objects[3].Instances, 2);  // "System" and this test at least
  EXPECT_GE(objects[5].Instances, 1);  // "_Total" at least
  // Every index the provider emits has an English name.
  for (const Object& o : objects) {
    EXPECT_NE(EnglishNameOf(o.Index), nullptr) << o.Index;
    for (const Counter& c : o.Counters) EXPECT_NE(EnglishNameOf(c.Index), nullptr) << c.Index;
  }
}

TEST(LinuxProvider, QueryTextSelectsObjectsAndKeepsTheirOrder) {
  auto indexes = [](const std::string& q) {
    std::vector<std::uint32_t> v;
    for (const Object& o : Objects(Query(q))) v.push_back(o.Index);
    return v;
  };
  EXPECT_EQ(indexes("238 "), (std::vector<std::uint32_t>{238}));
  EXPECT_EQ(indexes("510 2 999 "), (std::vector<std::uint32_t>{2, 510}));
  EXPECT_TRUE(indexes("").empty());
  EXPECT_EQ(indexes("2 4 238 230 232 236 510 ").size(), 7u);
}

TEST(LinuxProvider, ShortBufferGetsTheSizeAndThenTheSameBlock) {
  std::vector<std::uint8_t> small(100);
  std::uint32_t needed = 0;
  ASSERT_EQ(QueryPerformanceData("Global ", small.data(), 100, &needed), ERROR_MORE_DATA);
  EXPECT_GT(needed, 100u);
  std::vector<std::uint8_t> big(needed);
  std::uint32_t bytes = 0;
  ASSERT_EQ(QueryPerformanceData("Global ", big.data(), needed, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, needed);
  // The retry is answered with the snapshot that did not fit, not with a new one.
  const auto again = Query("Global ");
  EXPECT_NE(At<std::int64_t>(again, 56), At<std::int64_t>(big, 56));
  std::vector<std::uint8_t> one(100);
  ASSERT_EQ(QueryPerformanceData("238 ", one.data(), 100, &needed), ERROR_MORE_DATA);
  const auto other = Query("2 ");  // another query text gets a fresh block
  EXPECT_EQ(Objects(other).size(), 1u);
}

TEST(LinuxProvider, SystemProcessorTimeNeverFalls) {
  auto systemCpu = [] {
    const auto b = Query("230 ");
    const auto objects = Objects(b);
    const std::size_t first = objects[0].At + At<std::uint32_t>(b, objects[0].At + 4);
    return At<std::int64_t>(b, first + At<std::uint32_t>(b, first) + objects[0].Counters[0].Offset);
  };
  std::int64_t last = systemCpu();
  for (int i = 0; i < 5; ++i) {
    usleep(20'000);
    const std::int64_t now = systemCpu();
    EXPECT_GE(now, last);
    last = now;
  }
}

// Burns about ms of processor time whenever a byte comes in, and answers with one.
void BurnOnRequest(int in, int out, int ms) {
  char byte = 0;
  while (read(in, &byte, 1) == 1) {
    timespec start{}, now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    do clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    while ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 < ms);
    if (write(out, &byte, 1) != 1) break;
  }
  _exit(0);
}

// A process is read through a descriptor the provider keeps (above the quiet mark, where the
// open-file scans do not look): a child that ran between two blocks must show its new time.
TEST(LinuxProvider, AChildThatRanBetweenBlocksShowsItsNewTime) {
  int ask[2], answer[2];
  ASSERT_EQ(pipe(ask), 0);
  ASSERT_EQ(pipe(answer), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ask[1]);  // so that the parent's close ends it
    BurnOnRequest(ask[0], answer[1], 60);
  }
  close(ask[0]);
  close(answer[1]);
  LinuxPerfProvider provider;
  const auto childCpu = [&] {
    const auto block = ombrix::testing::ReadPerfBlock(provider.Build("Global "));
    for (const auto& p : block.at(kObjProcess))
      if (p.Values.at(kIdProcess) == child) return p.Values.at(kProcessorTime);
    return std::int64_t{-1};
  };
  std::vector<std::int64_t> seen{childCpu()};
  for (int round = 0; round < 3; ++round) {
    char byte = 1;
    ASSERT_EQ(write(ask[1], &byte, 1), 1);
    ASSERT_EQ(read(answer[0], &byte, 1), 1);
    seen.push_back(childCpu());
  }
  close(ask[1]);
  waitpid(child, nullptr, 0);
  close(answer[0]);
  for (std::size_t i = 1; i < seen.size(); ++i)
    EXPECT_GE(seen[i] - seen[i - 1], 40 * 10000) << "round " << i << " (100-ns units)";
  int quiet = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    quiet += std::stoi(entry.path().filename().string()) >= os::kQuietDescriptors;
  EXPECT_GT(quiet, 0) << "no descriptor kept above the quiet mark";
}

TEST(LinuxProvider, ProcessNamesFollowOneRule) {
  EXPECT_EQ(ProcessInstanceName(static_cast<std::uint32_t>(getpid())), "platform_perfdata_tests");
  EXPECT_EQ(ProcessInstanceName(0x7FFFFFF0), "");
}

TEST(WirelessRate, AWiredOrMissingInterfaceHasNone) {
  // The kernel answers (or refuses) at once; there is no link to report either way.
  EXPECT_EQ(WirelessBitrate("lo"), 0);
  EXPECT_EQ(WirelessBitrate("no-such-if9"), 0);
  EXPECT_EQ(WirelessBitrate(std::string(300, 'x')), 0);
}

// Netlink attributes and a station message of the nl80211 dump, laid out as the kernel does.
std::vector<std::uint8_t> Attribute(std::uint16_t type, const std::vector<std::uint8_t>& payload) {
  const auto length = static_cast<std::uint16_t>(4 + payload.size());
  std::vector<std::uint8_t> a(4);
  std::memcpy(a.data(), &length, 2);
  std::memcpy(a.data() + 2, &type, 2);
  a.insert(a.end(), payload.begin(), payload.end());
  a.resize((a.size() + 3) & ~std::size_t{3});
  return a;
}
template <typename T>
std::vector<std::uint8_t> Bytes(T value) {
  std::vector<std::uint8_t> b(sizeof value);
  std::memcpy(b.data(), &value, sizeof value);
  return b;
}
std::vector<std::uint8_t> Joined(std::vector<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
std::vector<std::uint8_t> StationMessage(const std::vector<std::uint8_t>& stationInfo) {
  const auto attributes = Joined({Attribute(NL80211_ATTR_IFINDEX, Bytes(std::uint32_t{3})),
                                  Attribute(NL80211_ATTR_STA_INFO, stationInfo)});
  const auto length = static_cast<std::uint32_t>(16 + 4 + attributes.size());
  return Joined({Bytes(length),
                 Bytes(std::uint16_t{30}),
                 Bytes(std::uint16_t{2}),
                 Bytes(std::uint32_t{1}),
                 Bytes(std::uint32_t{0}),
                 {NL80211_CMD_NEW_STATION, 1, 0, 0},
                 attributes});
}

TEST(WirelessRate, TheFasterOfTheStationsSendAndReceiveRates) {
  // 866.7 Mbit/s sending (in the 32-bit field), 130 Mbit/s receiving (in the 16-bit one).
  const auto tx = Attribute(NL80211_STA_INFO_TX_BITRATE,
                            Attribute(NL80211_RATE_INFO_BITRATE32, Bytes(std::uint32_t{8667})));
  const auto rx = Attribute(NL80211_STA_INFO_RX_BITRATE,
                            Attribute(NL80211_RATE_INFO_BITRATE, Bytes(std::uint16_t{1300})));
  auto message = StationMessage(Joined({rx, tx}));
  EXPECT_EQ(StationRate(message.data(), message.size()), 866'700'000);
  message = StationMessage(rx);
  EXPECT_EQ(StationRate(message.data(), message.size()), 130'000'000);
  message = StationMessage(Attribute(NL80211_STA_INFO_SIGNAL, {0xC4}));
  EXPECT_EQ(StationRate(message.data(), message.size()), 0) << "associated, but no rate yet";
}

TEST(WirelessRate, DamagedMessagesGiveNoRate) {
  const auto rate = Attribute(NL80211_STA_INFO_TX_BITRATE,
                              Attribute(NL80211_RATE_INFO_BITRATE32, Bytes(std::uint32_t{8667})));
  const auto good = StationMessage(rate);
  ASSERT_EQ(StationRate(good.data(), good.size()), 866'700'000);
  EXPECT_EQ(StationRate(good.data(), good.size() - 1), 0) << "claims more than was received";
  EXPECT_EQ(StationRate(good.data(), 19), 0) << "shorter than its headers";
  auto bad = good;
  bad[good.size() - 8] = 200;  // the rate field claims 200 bytes
  EXPECT_EQ(StationRate(bad.data(), bad.size()), 0);
  bad = StationMessage(
      Attribute(NL80211_STA_INFO_TX_BITRATE, Attribute(NL80211_RATE_INFO_BITRATE32, {0x1B})));
  EXPECT_EQ(StationRate(bad.data(), bad.size()), 0) << "a 32-bit field of one byte";
}

TEST(NameTable, PairsEndedByAnEmptyString) {
  std::vector<char> buf(65536);
  std::uint32_t bytes = 0;
  ASSERT_EQ(OpenNameTable(), 0u);
  ASSERT_EQ(QueryNameTable("Counters", buf.data(), 65536, &bytes), 0u);
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at < bytes && buf[at] != '\0') {
    parts.emplace_back(&buf[at]);
    at += parts.back().size() + 1;
  }
  EXPECT_EQ(at, bytes - 1);  // the empty string ends the table
  ASSERT_EQ(parts.size() % 2, 0u);
  std::set<std::string> names;
  for (std::size_t i = 0; i < parts.size(); i += 2) names.insert(parts[i] + "=" + parts[i + 1]);
  for (const char* e : {"238=Processor", "230=Process", "232=Thread", "236=LogicalDisk",
                        "510=Network Interface", "6=% Processor Time", "784=ID Process",
                        "804=ID Thread", "2=System", "4=Memory", "44=Processor Queue Length"})
    EXPECT_TRUE(names.count(e)) << e;
  ASSERT_EQ(QueryNameTable("Help", buf.data(), 65536, &bytes), 0u);
  EXPECT_EQ(std::string(buf.data()), "3");  // help indexes follow their names' indexes
  EXPECT_EQ(QueryNameTable("Counters", buf.data(), 10, &bytes), ERROR_MORE_DATA);
  EXPECT_EQ(QueryNameTable("Other", buf.data(), 65536, &bytes), ERROR_FILE_NOT_FOUND);
}

TEST(ResourceMap, RangesFitTheirLengthFieldsAndAddUp) {
  const std::uint64_t total = 25'276'157'952;
  const std::string list = MemoryResourceList(total);
  std::uint32_t count;
  std::memcpy(&count, list.data() + 16, 4);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(list.size(), 20u + 16u * count);
  std::uint64_t sum = 0, expectedStart = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    EXPECT_EQ(list[20 + 16 * i], CmResourceTypeMemory);
    std::uint64_t start;
    std::uint32_t length;
    std::memcpy(&start, list.data() + 24 + 16 * i, 8);
    std::memcpy(&length, list.data() + 32 + 16 * i, 4);
    EXPECT_EQ(start, expectedStart);
    expectedStart += length;
    sum += length;
  }
  EXPECT_EQ(sum, total);
  EXPECT_EQ(MemoryResourceList(0).size(), 20u);
  std::vector<std::uint8_t> buf(1024);
  std::uint32_t bytes = 0;
  ASSERT_EQ(QueryResourceMap(".Translated", buf.data(), 1024, &bytes), 0u);
  EXPECT_GT(PhysicalMemoryTotal(), 0u);
  EXPECT_EQ(bytes, MemoryResourceList(PhysicalMemoryTotal()).size());
}

TEST(Connect, OnlyThisMachineUnderAnyOfItsNames) {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::string upper(host);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(ConnectPerformanceData(""), 0u);
  EXPECT_EQ(ConnectPerformanceData("LocalHost"), 0u);
  EXPECT_EQ(ConnectPerformanceData(upper), 0u);
  EXPECT_EQ(ConnectPerformanceData("elsewhere.example"), ERROR_BAD_NETPATH);
}

TEST(PerfBlockWriter, ObjectWithoutInstancesAddedHasZero) {
  PerfBlockWriter w;
  PerfBlockTimes times;
  times.PerfFreq = 1'000'000'000;
  w.BeginBlock(times, "h");
  w.BeginObject(kObjLogicalDisk);
  w.AddCounter(kDiskQueueLength, PERF_COUNTER_BULK_COUNT);
  w.EndObject();
  const auto& b = w.EndBlock();
  const auto objects = Objects(b);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].Instances, 0);
  std::u16string s;
  PerfBlockWriter::Utf16Of("a\xC3\xA9\xF0\x9F\x98\x80\xFF", s);
  EXPECT_EQ(s, (std::u16string{u'a', u'\u00E9', 0xD83D, 0xDE00, 0xFFFD, 0}));
}

}  // namespace
}  // namespace platform
