#include "monitor/network/AddressTable.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>

#include "monitor/settings/Settings.h"
#include "tests/support/ScopedSettings.h"

namespace {

using ombrix::Settings;
using ombrix::TAddressEntry;
using ombrix::TAddressTable;
using platform::LookupTask;

// Lookups that the test answers by hand.
class FakeLookup : public platform::HostLookup {
 public:
  void SetCompletion(Completion c) override { completion = std::move(c); }
  LookupTask Start(std::uint32_t address) override {
    if (failStart) return 0;
    pending[++last] = address;
    return last;
  }
  void Cancel(LookupTask task) override {
    if (cancelLog) cancelLog->push_back(task);
  }

  // Completes the lookup of an address as the platform would, on this thread.
  void Answer(std::uint32_t address, int error, const std::string& name) {
    for (auto it = pending.begin(); it != pending.end(); ++it) {
      if (it->second == address) {
        const LookupTask task = it->first;
        pending.erase(it);
        completion(task, error, name);
        return;
      }
    }
    ADD_FAILURE() << "no lookup pending for " << address;
  }

  Completion completion;
  std::map<LookupTask, std::uint32_t> pending;
  std::shared_ptr<std::vector<LookupTask>> cancelLog;  // outlives the fake
  LookupTask last = 0;
  bool failStart = false;
};

class AddressTable : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings.GetHostNames = true;
    auto owned = std::make_unique<FakeLookup>();
    lookup = owned.get();
    table = std::make_unique<TAddressTable>(std::move(owned), lock);
  }
  void TearDown() override { table.reset(); }
  const TAddressEntry& Entry(std::uint32_t address) {
    return *table->Entries()[table->IndexOf(address)];
  }

  ombrix::testing::ScopedSettings settings_;
  std::recursive_mutex lock;
  FakeLookup* lookup = nullptr;
  std::unique_ptr<TAddressTable> table;
};

constexpr std::uint32_t Private = 0xC0A80101;  // 192.168.1.1

TEST(DottedName, MostSignificantByteFirst) {
  EXPECT_EQ(ombrix::DottedName(0xC0A80101), "192.168.1.1");
  EXPECT_EQ(ombrix::DottedName(0), "0.0.0.0");
  EXPECT_EQ(ombrix::DottedName(0xFFFFFFFF), "255.255.255.255");
}

TEST_F(AddressTable, EntriesStaySortedUnsignedAndAreFoundAgain) {
  for (std::uint32_t a : {0xC0000001U, 0x0A000001U, 0xFFFFFFFEU, 0x7F000001U}) table->IndexOf(a);
  EXPECT_EQ(table->IndexOf(0x7F000001), 1U);
  ASSERT_EQ(table->Entries().size(), 4U);
  EXPECT_EQ(table->Entries()[3]->Address, 0xFFFFFFFEU);
  EXPECT_EQ(lookup->pending.size(), 4U);  // one lookup per new address, none for a repeat
}

TEST_F(AddressTable, SuccessShowsTheHostNameAndIsNeverRepeated) {
  EXPECT_EQ(table->HostNameOf(Private), "192.168.1.1");
  EXPECT_NE(Entry(Private).LookupTask, 0U);
  EXPECT_NE(Entry(Private).LookupBuffer, nullptr);
  lookup->Answer(Private, 0, "router.lan");
  EXPECT_EQ(table->HostNameOf(Private), "router.lan");
  EXPECT_TRUE(Entry(Private).Resolved);
  EXPECT_EQ(Entry(Private).LookupTask, 0U);
  EXPECT_EQ(Entry(Private).LookupBuffer, nullptr);
  table->StartAllLookups();
  EXPECT_TRUE(lookup->pending.empty());
}

TEST_F(AddressTable, FailureKeepsTheDottedNameAndIsRetriedByStartAll) {
  table->IndexOf(Private);
  lookup->Answer(Private, 11004, "");
  EXPECT_EQ(Entry(Private).HostName, "192.168.1.1");
  EXPECT_FALSE(Entry(Private).Resolved);
  EXPECT_EQ(Entry(Private).LookupBuffer, nullptr);
  table->StartAllLookups();
  ASSERT_EQ(lookup->pending.size(), 1U);
  lookup->Answer(Private, 0, "router.lan");
  EXPECT_EQ(Entry(Private).HostName, "router.lan");
}

TEST_F(AddressTable, AnEmptyAnswerResolvesButKeepsTheDottedName) {
  table->IndexOf(Private);
  lookup->Answer(Private, 0, "");
  EXPECT_TRUE(Entry(Private).Resolved);
  EXPECT_EQ(Entry(Private).HostName, "192.168.1.1");
}

TEST_F(AddressTable, LongNamesAreCutToTheBuffer) {
  table->IndexOf(Private);
  lookup->Answer(Private, 0, std::string(5000, 'h'));
  EXPECT_EQ(Entry(Private).HostName.size(), TAddressEntry::LookupBufferSize - 1);
}

TEST_F(AddressTable, LookupsOffLeaveNewEntriesDotted) {
  Settings.GetHostNames = false;
  EXPECT_EQ(table->HostNameOf(Private), "192.168.1.1");
  EXPECT_TRUE(lookup->pending.empty());
  EXPECT_EQ(Entry(Private).LookupBuffer, nullptr);
  Settings.GetHostNames = true;  // the dialog's OK then starts them all
  table->StartAllLookups();
  EXPECT_EQ(lookup->pending.size(), 1U);
}

TEST_F(AddressTable, UnknownAndStaleCompletionsAreIgnored) {
  table->IndexOf(Private);
  const LookupTask task = Entry(Private).LookupTask;
  lookup->completion(task + 100, 0, "stranger");
  lookup->completion(0, 0, "none");
  EXPECT_EQ(Entry(Private).HostName, "192.168.1.1");
  lookup->completion(task, 0, "first");
  lookup->completion(task, 0, "again");  // the task is gone once answered
  EXPECT_EQ(Entry(Private).HostName, "first");
}

TEST_F(AddressTable, ALookupThatCannotStartKeepsItsBufferAndIsNotRetried) {
  lookup->failStart = true;
  table->IndexOf(Private);
  EXPECT_EQ(Entry(Private).LookupTask, 0U);
  EXPECT_NE(Entry(Private).LookupBuffer, nullptr);
  lookup->failStart = false;
  table->StartAllLookups();
  EXPECT_TRUE(lookup->pending.empty());
}

TEST_F(AddressTable, MemoryCountsNamesAndBuffers) {
  const std::int64_t empty = table->MemoryUsed();
  table->IndexOf(0x01020304);  // "1.2.3.4", lookup pending
  EXPECT_EQ(table->MemoryUsed(), empty + 24 + 7 + 1024);
  lookup->Answer(0x01020304, 0, "ab");
  EXPECT_EQ(table->MemoryUsed(), empty + 24 + 2);
}

TEST_F(AddressTable, DestroyingCancelsPendingLookups) {
  auto cancelled = std::make_shared<std::vector<LookupTask>>();
  lookup->cancelLog = cancelled;
  table->IndexOf(1);
  table->IndexOf(2);
  lookup->Answer(1, 0, "one");
  const LookupTask pending = lookup->pending.begin()->first;
  table.reset();  // the fake goes with the table
  EXPECT_EQ(*cancelled, std::vector<LookupTask>{pending});
}

TEST_F(AddressTable, CompletionTakesTheModelLock) {
  table->IndexOf(Private);
  std::unique_lock held(lock);
  std::thread other([&] {
    // Runs the completion from another thread while this one holds the lock; it may only
    // finish once the lock is released.
    lookup->Answer(Private, 0, "late");
  });
  EXPECT_EQ(Entry(Private).HostName, "192.168.1.1");
  held.unlock();
  other.join();
  EXPECT_EQ(Entry(Private).HostName, "late");
}

}  // namespace
