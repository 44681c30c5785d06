// A smoothed figure: a ring of the latest per-interval samples whose mean is shown.
#pragma once
#include <cstdint>
#include <vector>

#include "monitor/model/CompareResult.h"

namespace ombrix {

class TAverage {
 public:
  // Registers in AverageRegistry and takes its window from the live settings.
  TAverage();
  ~TAverage();
  TAverage(const TAverage&) = delete;
  TAverage& operator=(const TAverage&) = delete;

  void Reset();
  void SetWindow(std::int32_t n);
  void Add(double value);

  std::int32_t SampleCount() const { return Count; }
  std::int32_t WindowSize() const { return Window; }
  double LastValue() const { return Last; }
  double Sum() const;
  double Mean() const;
  double Minimum() const;
  static CompareResult Compare(const TAverage& a, const TAverage& b);
  static std::int64_t MemoryUsed();

 private:
  std::vector<double> Samples;
  double Last = 0;
  std::int32_t Position = 0;
  std::int32_t Count = 0;
  std::int32_t Window = 0;
  mutable double CachedMean = 0;  // Mean is asked for many times per repaint and sort
  mutable bool MeanValid = false;
  friend class TAverageRegistry;
  std::size_t RegistryIndex = 0;  // where the registry keeps this average
};

// Every live average; it does not own them. Used under ModelLock. Each average knows its
// slot, so leaving costs the same however many averages live (a sweep frees thousands).
class TAverageRegistry {
 public:
  void Add(TAverage* a);
  void Remove(TAverage* a);
  std::size_t Count() const { return Items.size(); }
  bool Contains(const TAverage* a) const;
  const std::vector<TAverage*>& List() const { return Items; }

 private:
  std::vector<TAverage*> Items;
};

extern TAverageRegistry AverageRegistry;

// The averaging window the settings ask for: SmoothCount when Smooth is on, else 1.
std::int32_t SmoothingWindow();
// Gives every registered average the current window; each restarts empty.
void ApplySmoothing();

}  // namespace ombrix
