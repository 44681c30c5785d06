#include "monitor/model/Average.h"

#include <algorithm>

#include "monitor/settings/Settings.h"

namespace ombrix {

TAverageRegistry AverageRegistry;

void TAverageRegistry::Add(TAverage* a) {
  a->RegistryIndex = Items.size();
  Items.push_back(a);
}

void TAverageRegistry::Remove(TAverage* a) {
  const std::size_t i = a->RegistryIndex;
  if (i >= Items.size() || Items[i] != a) return;  // not registered here
  Items[i] = Items.back();
  Items[i]->RegistryIndex = i;
  Items.pop_back();
}

// By address only: the average asked about may be gone already.
bool TAverageRegistry::Contains(const TAverage* a) const {
  return std::find(Items.begin(), Items.end(), a) != Items.end();
}

std::int32_t SmoothingWindow() {
  return Settings.Smooth ? Settings.SmoothCount : 1;
}

TAverage::TAverage() {
  AverageRegistry.Add(this);
  SetWindow(SmoothingWindow());
}

TAverage::~TAverage() {
  AverageRegistry.Remove(this);
}

void TAverage::Reset() {
  Count = 0;
  Position = 0;
  Last = 0;
  MeanValid = false;
}

void TAverage::SetWindow(std::int32_t n) {
  Reset();
  // A window below one would leave nowhere to put a sample; the settings never ask for it.
  Window = std::max<std::int32_t>(n, 1);
  Samples.resize(static_cast<std::size_t>(Window));
}

void TAverage::Add(double value) {
  MeanValid = false;
  Last = value;
  Samples[static_cast<std::size_t>(Position)] = value;
  if (++Position >= Window) Position = 0;
  if (Count < Window) ++Count;
}

double TAverage::Sum() const {
  double sum = 0;
  for (std::int32_t i = 0; i < Count; ++i) sum += Samples[static_cast<std::size_t>(i)];
  return sum;
}

double TAverage::Mean() const {
  if (!MeanValid) {
    MeanValid = true;
    CachedMean = Count > 0 ? Sum() / Count : 0;
  }
  return CachedMean;
}

double TAverage::Minimum() const {
  if (Count == 0) return 0;
  return *std::min_element(Samples.begin(), Samples.begin() + Count);
}

CompareResult TAverage::Compare(const TAverage& a, const TAverage& b) {
  return CompareValues(a.Mean(), b.Mean());
}

std::int64_t TAverage::MemoryUsed() {
  return static_cast<std::int64_t>(sizeof(TAverage)) + 4;
}

void ApplySmoothing() {
  const std::int32_t window = SmoothingWindow();
  for (TAverage* a : AverageRegistry.List()) a->SetWindow(window);
}

}  // namespace ombrix
