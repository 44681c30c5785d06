#include "platform/network/HostLookup.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <map>
#include <mutex>
#include <string>

#include "monitor/network/AddressTable.h"
#include "monitor/settings/Settings.h"
#include "tests/support/ScopedSettings.h"

namespace {

using platform::LookupTask;

constexpr std::uint32_t Loopback = 0x7F000001;
constexpr std::uint32_t Documentation = 0xC0000202;  // 192.0.2.2, nobody's name

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "host_lookup_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

// Runs the event loop until `done` holds; a generous guard keeps a broken resolver from
// hanging the suite (it fails the test, it does not measure anything).
template <typename Done>
bool RunUntil(Done done) {
  QElapsedTimer guard;
  guard.start();
  while (!done() && guard.elapsed() < 60000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return done();
}

TEST(ReverseLookup, LoopbackHasANameAndNumbersAreNotNames) {
  int error = -1;
  EXPECT_EQ(platform::ReverseLookup(Loopback, error), "localhost");
  EXPECT_EQ(error, 0);
  const std::string none = platform::ReverseLookup(Documentation, error);
  if (error == 0) GTEST_SKIP() << "this resolver names 192.0.2.2: " << none;
  EXPECT_EQ(none, "");
}

TEST(HostLookup, CompletesOnTheCreatingThread) {
  App();
  auto lookup = platform::CreateHostLookup();
  std::map<LookupTask, std::pair<int, std::string>> answers;
  bool onMainThread = true;
  lookup->SetCompletion([&](LookupTask task, int error, const std::string& name) {
    onMainThread = onMainThread && QThread::currentThread() == App().thread();
    answers[task] = {error, name};
  });
  const LookupTask local = lookup->Start(Loopback);
  const LookupTask other = lookup->Start(Documentation);
  ASSERT_NE(local, 0U);
  ASSERT_NE(other, local);
  ASSERT_TRUE(RunUntil([&] { return answers.size() == 2; }));
  EXPECT_TRUE(onMainThread);
  EXPECT_EQ(answers[local], std::make_pair(0, std::string("localhost")));
  EXPECT_NE(answers[other].first, 0);
  EXPECT_EQ(answers[other].second, "");
}

TEST(HostLookup, CancelledLookupsAreNotAnswered) {
  App();
  auto lookup = platform::CreateHostLookup();
  std::map<LookupTask, std::string> answers;
  lookup->SetCompletion(
      [&](LookupTask task, int, const std::string& name) { answers[task] = name; });
  std::vector<LookupTask> cancelled;
  for (int i = 0; i < 20; ++i) cancelled.push_back(lookup->Start(Loopback));
  for (LookupTask t : cancelled) lookup->Cancel(t);
  const LookupTask kept = lookup->Start(Loopback);
  ASSERT_TRUE(RunUntil([&] { return answers.count(kept) == 1; }));
  // Anything still queued behind it would have been answered by now, in order.
  for (LookupTask t : cancelled) EXPECT_EQ(answers.count(t), 0U) << t;
}

TEST(HostLookup, DestroyingWithLookupsPendingReturnsAndDropsTheAnswers) {
  App();
  int answered = 0;
  {
    auto lookup = platform::CreateHostLookup();
    lookup->SetCompletion([&](LookupTask, int, const std::string&) { ++answered; });
    for (int i = 0; i < 8; ++i) lookup->Start(Loopback + static_cast<std::uint32_t>(i));
  }
  // Whatever the workers still finish must not reach a completion that is gone.
  auto probe = platform::CreateHostLookup();
  bool probed = false;
  probe->SetCompletion([&](LookupTask, int, const std::string&) { probed = true; });
  probe->Start(Loopback);
  ASSERT_TRUE(RunUntil([&] { return probed; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(answered, 0);
}

}  // namespace

namespace {

// The address table over the real service: the name arrives through the event loop and is
// stored under the table's lock.
TEST(HostLookup, AddressTableLearnsTheLoopbackName) {
  App();
  const ombrix::testing::ScopedSettings settings;
  ombrix::Settings.GetHostNames = true;
  std::recursive_mutex lock;
  ombrix::TAddressTable table(platform::CreateHostLookup(), lock);
  const auto hostName = [&] {
    std::lock_guard guard(lock);
    return table.HostNameOf(Loopback);
  };
  EXPECT_EQ(hostName(), "127.0.0.1");
  ASSERT_TRUE(RunUntil([&] { return hostName() != "127.0.0.1"; }));
  EXPECT_EQ(hostName(), "localhost");
  std::lock_guard guard(lock);
  EXPECT_TRUE(table.Entries()[0]->Resolved);
  EXPECT_EQ(table.Entries()[0]->LookupBuffer, nullptr);
}

}  // namespace
