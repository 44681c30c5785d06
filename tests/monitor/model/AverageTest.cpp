#include "monitor/model/Average.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "monitor/settings/Settings.h"
#include "tests/support/ScopedSettings.h"

namespace {

using ombrix::AverageRegistry;
using ombrix::Settings;
using ombrix::TAverage;

class Averages : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings.Smooth = true;
    Settings.SmoothCount = 5;
  }
  ombrix::testing::ScopedSettings settings_;
};

TEST_F(Averages, WindowFollowsTheSmoothingSettings) {
  TAverage smooth;
  EXPECT_EQ(smooth.WindowSize(), 5);
  Settings.Smooth = false;
  TAverage plain;
  EXPECT_EQ(plain.WindowSize(), 1);
  for (double v : {3.0, 8.0}) plain.Add(v);
  EXPECT_EQ(plain.Mean(), 8.0);  // a window of one shows the latest value
  EXPECT_EQ(plain.Mean(), plain.LastValue());
}

TEST_F(Averages, RingMeanAndMinimum) {
  TAverage a;
  EXPECT_EQ(a.Mean(), 0.0);
  EXPECT_EQ(a.Minimum(), 0.0);
  for (double v : {1.0, 2.0, 3.0}) a.Add(v);
  EXPECT_EQ(a.SampleCount(), 3);
  EXPECT_DOUBLE_EQ(a.Mean(), 2.0);
  EXPECT_EQ(a.Minimum(), 1.0);
  for (double v : {4.0, 5.0, 6.0}) a.Add(v);  // 6 replaces the oldest: 6 2 3 4 5
  EXPECT_EQ(a.SampleCount(), 5);
  EXPECT_DOUBLE_EQ(a.Sum(), 20.0);
  EXPECT_DOUBLE_EQ(a.Mean(), 4.0);
  EXPECT_EQ(a.Minimum(), 2.0);
  a.Reset();
  EXPECT_EQ(a.SampleCount(), 0);
  EXPECT_EQ(a.Mean(), 0.0);  // the cached mean does not outlive a reset
  EXPECT_EQ(a.LastValue(), 0.0);
}

TEST_F(Averages, CompareByMean) {
  TAverage a, b;
  EXPECT_EQ(TAverage::Compare(a, b), ombrix::crEqual);
  a.Add(1);
  b.Add(2);
  EXPECT_EQ(TAverage::Compare(a, b), ombrix::crLess);
  EXPECT_EQ(TAverage::Compare(b, a), ombrix::crGreater);
  EXPECT_GT(TAverage::MemoryUsed(), static_cast<std::int64_t>(sizeof(TAverage)));
}

TEST_F(Averages, RegistryFollowsLifetime) {
  const std::size_t before = AverageRegistry.Count();
  auto a = std::make_unique<TAverage>();
  auto b = std::make_unique<TAverage>();
  EXPECT_EQ(AverageRegistry.Count(), before + 2);
  EXPECT_TRUE(AverageRegistry.Contains(a.get()));
  const TAverage* gone = a.get();
  a.reset();
  EXPECT_FALSE(AverageRegistry.Contains(gone));
  EXPECT_TRUE(AverageRegistry.Contains(b.get()));
  EXPECT_EQ(AverageRegistry.Count(), before + 1);

  // Leaving from the middle keeps every other average findable.
  std::vector<std::unique_ptr<TAverage>> many;
  for (int i = 0; i < 10; ++i) many.push_back(std::make_unique<TAverage>());
  many.erase(many.begin() + 3);
  many.erase(many.begin());
  for (const auto& x : many) EXPECT_TRUE(AverageRegistry.Contains(x.get()));
  EXPECT_EQ(AverageRegistry.Count(), before + 1 + many.size());
}

TEST_F(Averages, ApplySmoothingEmptiesEveryAverage) {
  TAverage a, b;
  for (double v : {1.0, 2.0}) {
    a.Add(v);
    b.Add(v * 10);
  }
  Settings.SmoothCount = 3;
  ombrix::ApplySmoothing();
  for (TAverage* x : {&a, &b}) {
    EXPECT_EQ(x->SampleCount(), 0);
    EXPECT_EQ(x->Mean(), 0.0);
    EXPECT_EQ(x->WindowSize(), 3);
  }
  a.Add(7);  // the first sample after the change shows unsmoothed
  EXPECT_EQ(a.Mean(), 7.0);
  Settings.Smooth = false;
  ombrix::ApplySmoothing();
  EXPECT_EQ(a.WindowSize(), 1);
}

}  // namespace
