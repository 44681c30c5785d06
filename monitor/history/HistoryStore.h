// The history file: an SQLite database of samples, their top consumers and the names those
// use. Written by one recorder at a time, read by any number of views; not thread-safe, each
// thread opens its own store.
#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "monitor/history/HistorySample.h"
#include "monitor/history/Sqlite.h"

namespace ombrix {

// A database that is whole but not a history of this program (or of a later version of it):
// it is left as it is.
class EHistoryForeign : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The samples of one stretch of a chart: their mean, their peaks, where they lie.
struct TChartPoint {
  std::int64_t First = 0;  // time of the first sample in it
  std::int64_t Last = 0;   // time of the last
  std::int64_t Span = 0;   // the longest span among them
  TFigureSet Mean;
  TFigureSet Peak;
};

class THistoryStore {
 public:
  enum class TAccess { Read, Write };
  // Opens the file. For writing, a new (empty) file gets the tables and write-ahead logging;
  // reading never creates it. Raises ESqliteError (Damaged() for a damaged file) or
  // EHistoryForeign.
  THistoryStore(const std::string& path, TAccess access);

  // Writes one sample with its consumers, in one transaction.
  void Append(const THistorySample& sample);
  // Folds the ticks of whole minutes that end by `before` into one sample each, oldest first,
  // at most `minutes` of them (an earlier fold of the same minute is folded in). True when
  // more remain. Ticks stamped before 1970 stay as they are.
  bool Fold(std::int64_t before, int minutes);
  // Drops the samples from before `before`; true when any went.
  bool Drop(std::int64_t before);
  // Names no sample uses any more leave the file.
  void DropUnusedNames();
  // The thorough check of the file's pages (it reads them all).
  bool Healthy() const;

  // The figures from `from` up to `to`, in stretches of `bucket` milliseconds (empty
  // stretches left out), in time order.
  std::vector<TChartPoint> Chart(std::int64_t from, std::int64_t to, std::int64_t bucket) const;
  // The samples from `from` up to `to`, in time order (recording order among equal times),
  // with their consumers when asked for.
  std::vector<THistorySample> Samples(std::int64_t from, std::int64_t to, bool consumers) const;
  // The sample nearest to `time` among those from `from` up to `to`, with its consumers; a
  // folded minute is nearest to every moment it covers.
  std::optional<THistorySample> Nearest(std::int64_t time, std::int64_t from,
                                        std::int64_t to) const;
  std::int64_t SampleCount() const;

 private:
  void CreateTables();
  void CheckIdentity();
  void Insert(const THistorySample& sample);
  void InsertConsumers(std::int64_t sample, const std::vector<TConsumer>& consumers);
  void DeleteRange(std::int64_t from, std::int64_t to);
  std::int64_t NameId(const std::string& text);
  // The statement of one of this file's SQL texts, prepared at its first use.
  TSqliteStatement& Statement(const char* sql) const;
  void ReadConsumers(std::vector<THistorySample>& samples, const std::vector<std::int64_t>& ids,
                     std::int64_t from, std::int64_t to) const;

  TSqliteDatabase db_;
  bool empty_ = false;                                   // a reader's file without tables yet
  std::unordered_map<std::string, std::int64_t> names_;  // ids of names written lately
  mutable std::unordered_map<const char*, TSqliteStatement> statements_;
};

}  // namespace ombrix
