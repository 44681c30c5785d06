#include "monitor/history/HistoryStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>

#include "monitor/history/HistoryFold.h"

namespace ombrix {

namespace {

// "Ombx": marks the file as this program's history.
constexpr std::int64_t ApplicationId = 0x4F6D6278;
constexpr std::int64_t SchemaVersion = 1;
constexpr std::int64_t MostTicks = 1000000;

// Figures and processor shares are kept in hundredths of a percent, bytes and rates whole:
// integers take a fraction of the room of floating-point values in the file.
constexpr double PercentScale = 100;

constexpr const char* Schema = R"(
CREATE TABLE names(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE);
-- time: milliseconds since 1970 (UTC), a tick's end or a folded minute's start; span: the
-- milliseconds it covers; figures in hundredths of a percent, the peaks of a folded minute
-- beside its means (none for a tick, whose peak is its figure).
CREATE TABLE samples(
  id INTEGER PRIMARY KEY, time INTEGER NOT NULL, span INTEGER NOT NULL,
  ticks INTEGER NOT NULL, folded INTEGER NOT NULL,
  cpu INTEGER NOT NULL, memory INTEGER NOT NULL, disk INTEGER NOT NULL, network INTEGER NOT NULL,
  cpu_peak INTEGER, memory_peak INTEGER, disk_peak INTEGER, network_peak INTEGER);
CREATE INDEX samples_by_time ON samples(time);
CREATE INDEX ticks_by_time ON samples(time) WHERE folded = 0;
-- kind: 0 processor, 1 working set, 2 disk I/O, 3 network, 4 file, 5 socket; rank from 0;
-- value: hundredths of a percent (processor), bytes (working set), else bytes per second.
CREATE TABLE consumers(
  sample INTEGER NOT NULL, kind INTEGER NOT NULL, rank INTEGER NOT NULL,
  pid INTEGER NOT NULL, name INTEGER NOT NULL, process INTEGER, value INTEGER NOT NULL,
  PRIMARY KEY(sample, kind, rank)) WITHOUT ROWID;
)";

constexpr const char* SampleColumns =
    "id, time, span, ticks, folded, cpu, memory, disk, network, "
    "coalesce(cpu_peak, cpu), coalesce(memory_peak, memory), coalesce(disk_peak, disk), "
    "coalesce(network_peak, network)";

std::int64_t Stored(double value, double scale) {
  const double scaled = value * scale;
  if (!std::isfinite(scaled)) return 0;
  return std::llround(std::clamp(scaled, -9e15, 9e15));
}

double ConsumerScale(TConsumerKind kind) {
  return kind == TConsumerKind::Processor ? PercentScale : 1;
}

// Opens a transaction and rolls it back unless committed, on every path.
class TTransaction {
 public:
  explicit TTransaction(TSqliteDatabase& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }
  ~TTransaction() {
    if (db_.InTransaction()) sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;
  void Commit() { db_.Exec("COMMIT"); }

 private:
  TSqliteDatabase& db_;
};

TFigureSet ReadFigures(const TSqliteStatement& row, int first) {
  return {row.Int(first) / PercentScale, row.Int(first + 1) / PercentScale,
          row.Int(first + 2) / PercentScale, row.Int(first + 3) / PercentScale};
}

// Reads a row of SampleColumns; the id goes to id.
THistorySample ReadSample(const TSqliteStatement& row, std::int64_t& id) {
  id = row.Int(0);
  THistorySample s;
  s.Time = row.Int(1);
  // Bounded as this program writes them, whatever a damaged or altered file says: the times
  // reckoned from them must not overflow.
  s.Span = std::clamp<std::int64_t>(row.Int(2), 0, DayMs);
  s.Ticks = std::clamp<std::int64_t>(row.Int(3), 1, MostTicks);
  s.Folded = row.Int(4) != 0;
  s.Mean = ReadFigures(row, 5);
  s.Peak = ReadFigures(row, 9);
  return s;
}

// A consumer row (sample, kind, rank, pid, name, process, value). Rows that do not fit what
// a sample keeps (a kind or rank out of range, from a damaged or altered file) read as none;
// a name that is missing reads as empty.
std::optional<TConsumer> ReadConsumer(const TSqliteStatement& row) {
  const std::int64_t kind = row.Int(1);
  if (kind < 0 || kind >= ConsumerKindCount) return std::nullopt;
  const auto k = static_cast<TConsumerKind>(kind);
  if (row.Int(2) < 0 || row.Int(2) >= KeptOf(k)) return std::nullopt;
  const std::int64_t pid = row.Int(3);
  return TConsumer{k, pid >= 0 && pid <= UINT32_MAX ? static_cast<std::uint32_t>(pid) : 0,
                   row.Text(4), row.Text(5), static_cast<double>(row.Int(6)) / ConsumerScale(k)};
}

// How far a sample is from a moment: a folded minute covers its whole minute.
std::int64_t Distance(const THistorySample& s, std::int64_t time) {
  if (time < s.Time) return s.Time - time;
  const std::int64_t end = s.Folded ? s.Time + s.Span : s.Time;
  return time < end ? 0 : time - end;
}

}  // namespace

THistoryStore::THistoryStore(const std::string& path, TAccess access)
    : db_(path, access == TAccess::Write ? TSqliteDatabase::TAccess::ReadWrite
                                         : TSqliteDatabase::TAccess::ReadOnly) {
  const bool fresh = db_.QueryInt("SELECT count(*) FROM sqlite_schema").value_or(0) == 0;
  if (access == TAccess::Write) {
    // Outside any transaction, as SQLite wants; kept in the file from then on.
    db_.Exec("PRAGMA journal_mode=WAL");
    db_.Exec("PRAGMA synchronous=NORMAL");
    if (fresh) CreateTables();
  }
  empty_ = fresh && access == TAccess::Read;
  if (!empty_) CheckIdentity();
}

void THistoryStore::CreateTables() {
  TTransaction transaction(db_);
  db_.Exec(Schema);
  db_.Exec("PRAGMA application_id=" + std::to_string(ApplicationId));
  db_.Exec("PRAGMA user_version=" + std::to_string(SchemaVersion));
  transaction.Commit();
}

void THistoryStore::CheckIdentity() {
  if (db_.QueryInt("PRAGMA application_id") != ApplicationId ||
      db_.QueryInt("PRAGMA user_version") != SchemaVersion)
    throw EHistoryForeign("not a history of this version of Ombrix");
}

TSqliteStatement& THistoryStore::Statement(const char* sql) const {
  auto found = statements_.find(sql);
  if (found == statements_.end()) found = statements_.emplace(sql, db_.Prepare(sql)).first;
  found->second.Reset();
  return found->second;
}

void THistoryStore::Append(const THistorySample& sample) {
  try {
    TTransaction transaction(db_);
    Insert(sample);
    transaction.Commit();
  } catch (...) {
    names_.clear();  // ids given out in the transaction that failed are gone again
    throw;
  }
}

void THistoryStore::Insert(const THistorySample& s) {
  TSqliteStatement& insert = Statement(
      "INSERT INTO samples(time, span, ticks, folded, cpu, memory, disk, network, cpu_peak, "
      "memory_peak, disk_peak, network_peak) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert.Bind(1, s.Time).Bind(2, s.Span).Bind(3, s.Ticks).Bind(4, std::int64_t{s.Folded});
  const double means[] = {s.Mean.Processor, s.Mean.Memory, s.Mean.Disk, s.Mean.Network};
  const double peaks[] = {s.Peak.Processor, s.Peak.Memory, s.Peak.Disk, s.Peak.Network};
  for (int i = 0; i < 4; ++i) {
    insert.Bind(5 + i, Stored(means[i], PercentScale));
    if (s.Folded) insert.Bind(9 + i, Stored(peaks[i], PercentScale));
  }
  insert.Run();
  InsertConsumers(db_.LastInsertId(), s.Consumers);
}

void THistoryStore::InsertConsumers(std::int64_t id, const std::vector<TConsumer>& consumers) {
  TSqliteStatement& consumer = Statement(
      "INSERT INTO consumers(sample, kind, rank, pid, name, process, value) "
      "VALUES(?, ?, ?, ?, ?, ?, ?)");
  std::array<int, ConsumerKindCount> ranks{};
  for (const TConsumer& c : consumers) {
    int& rank = ranks[static_cast<std::size_t>(c.Kind)];
    if (rank >= KeptOf(c.Kind)) continue;
    consumer.Bind(1, id)
        .Bind(2, std::int64_t{static_cast<int>(c.Kind)})
        .Bind(3, std::int64_t{rank++});
    consumer.Bind(4, std::int64_t{c.ProcessId}).Bind(5, NameId(c.Name));
    if (!c.Process.empty()) consumer.Bind(6, NameId(c.Process));
    consumer.Bind(7, Stored(c.Value, ConsumerScale(c.Kind)));
    consumer.Run();
  }
}

std::int64_t THistoryStore::NameId(const std::string& text) {
  if (const auto known = names_.find(text); known != names_.end()) return known->second;
  // The busiest processes, files and sockets recur from tick to tick; the ids of those
  // written lately are kept, within bounds.
  if (names_.size() >= 4096) names_.clear();
  TSqliteStatement& find = Statement("SELECT id FROM names WHERE text = ?");
  find.Bind(1, text);
  std::int64_t id = 0;
  if (find.Step()) {
    id = find.Int(0);
  } else {
    Statement("INSERT INTO names(text) VALUES(?)").Bind(1, text).Run();
    id = db_.LastInsertId();
  }
  find.Reset();
  names_.emplace(text, id);
  return id;
}

bool THistoryStore::Fold(std::int64_t before, int minutes) {
  for (int done = 0; done < minutes; ++done) {
    TSqliteStatement& oldest =
        Statement("SELECT min(time) FROM samples WHERE folded = 0 AND time >= 0 AND time < ?");
    oldest.Bind(1, before);
    if (!oldest.Step() || oldest.IsNull(0)) return false;
    const std::int64_t minute = MinuteOf(oldest.Int(0));
    oldest.Reset();
    if (minute > before - MinuteMs) return false;  // not yet whole before the cut
    const THistorySample folded = FoldSamples(Samples(minute, minute + MinuteMs, true), minute);
    try {
      TTransaction transaction(db_);
      DeleteRange(minute, minute + MinuteMs);
      Insert(folded);
      transaction.Commit();
    } catch (...) {
      names_.clear();
      throw;
    }
  }
  return true;
}

void THistoryStore::DeleteRange(std::int64_t from, std::int64_t to) {
  Statement(
      "DELETE FROM consumers WHERE sample IN "
      "(SELECT id FROM samples WHERE time >= ? AND time < ?)")
      .Bind(1, from)
      .Bind(2, to)
      .Run();
  Statement("DELETE FROM samples WHERE time >= ? AND time < ?").Bind(1, from).Bind(2, to).Run();
}

bool THistoryStore::Drop(std::int64_t before) {
  TTransaction transaction(db_);
  DeleteRange(INT64_MIN, before);
  const bool any = sqlite3_changes(db_.Handle()) > 0;
  transaction.Commit();
  return any;
}

void THistoryStore::DropUnusedNames() {
  TTransaction transaction(db_);
  db_.Exec(
      "DELETE FROM names WHERE id NOT IN (SELECT name FROM consumers UNION "
      "SELECT process FROM consumers WHERE process IS NOT NULL)");
  transaction.Commit();
  names_.clear();
}

bool THistoryStore::Healthy() const {
  TSqliteStatement check = db_.Prepare("PRAGMA quick_check");
  return check.Step() && check.Text(0) == "ok";
}

std::vector<TChartPoint> THistoryStore::Chart(std::int64_t from, std::int64_t to,
                                              std::int64_t bucket) const {
  std::vector<TChartPoint> points;
  if (empty_ || to <= from) return points;
  TSqliteStatement& query = Statement(
      "SELECT (time - ?1) / ?3 AS bucket, min(time), max(time), max(span), "
      "sum(cpu * ticks) * 1.0 / sum(ticks), sum(memory * ticks) * 1.0 / sum(ticks), "
      "sum(disk * ticks) * 1.0 / sum(ticks), sum(network * ticks) * 1.0 / sum(ticks), "
      "max(coalesce(cpu_peak, cpu)), max(coalesce(memory_peak, memory)), "
      "max(coalesce(disk_peak, disk)), max(coalesce(network_peak, network)) "
      "FROM samples WHERE time >= ?1 AND time < ?2 GROUP BY bucket ORDER BY bucket");
  query.Bind(1, from).Bind(2, to).Bind(3, std::max<std::int64_t>(bucket, 1));
  while (query.Step()) {
    TChartPoint p{query.Int(1),
                  query.Int(2),
                  std::clamp<std::int64_t>(query.Int(3), 0, DayMs),
                  {},
                  ReadFigures(query, 8)};
    p.Mean = {query.Real(4) / PercentScale, query.Real(5) / PercentScale,
              query.Real(6) / PercentScale, query.Real(7) / PercentScale};
    points.push_back(p);
  }
  return points;
}

std::vector<THistorySample> THistoryStore::Samples(std::int64_t from, std::int64_t to,
                                                   bool consumers) const {
  std::vector<THistorySample> samples;
  if (empty_ || to <= from) return samples;
  static const std::string sql = std::string("SELECT ") + SampleColumns +
                                 " FROM samples WHERE time >= ? AND time < ? ORDER BY time, id";
  TSqliteStatement& query = Statement(sql.c_str());
  query.Bind(1, from).Bind(2, to);
  std::vector<std::int64_t> ids;
  while (query.Step()) {
    ids.push_back(0);
    samples.push_back(ReadSample(query, ids.back()));
  }
  if (consumers) ReadConsumers(samples, ids, from, to);
  return samples;
}

void THistoryStore::ReadConsumers(std::vector<THistorySample>& samples,
                                  const std::vector<std::int64_t>& ids, std::int64_t from,
                                  std::int64_t to) const {
  std::unordered_map<std::int64_t, std::size_t> index;
  for (std::size_t i = 0; i < ids.size(); ++i) index.emplace(ids[i], i);
  TSqliteStatement& query = Statement(
      "SELECT c.sample, c.kind, c.rank, c.pid, n.text, p.text, c.value FROM samples s "
      "JOIN consumers c ON c.sample = s.id LEFT JOIN names n ON n.id = c.name "
      "LEFT JOIN names p ON p.id = c.process WHERE s.time >= ? AND s.time < ? "
      "ORDER BY c.sample, c.kind, c.rank");
  query.Bind(1, from).Bind(2, to);
  while (query.Step()) {
    const auto at = index.find(query.Int(0));
    std::optional<TConsumer> consumer = ReadConsumer(query);
    if (at != index.end() && consumer) samples[at->second].Consumers.push_back(*consumer);
  }
}

std::optional<THistorySample> THistoryStore::Nearest(std::int64_t time, std::int64_t from,
                                                     std::int64_t to) const {
  if (empty_ || to <= from) return std::nullopt;
  static const std::string before = std::string("SELECT ") + SampleColumns +
                                    " FROM samples WHERE time >= ?1 AND time <= ?2 AND time < ?3"
                                    " ORDER BY time DESC, id DESC LIMIT 1";
  static const std::string after = std::string("SELECT ") + SampleColumns +
                                   " FROM samples WHERE time >= ?1 AND time > ?2 AND time < ?3"
                                   " ORDER BY time, id LIMIT 1";
  std::optional<THistorySample> best;
  std::int64_t bestId = 0;
  for (const std::string* sql : {&before, &after}) {
    TSqliteStatement& query = Statement(sql->c_str());
    query.Bind(1, from).Bind(2, time).Bind(3, to);
    if (!query.Step()) continue;
    std::int64_t id = 0;
    THistorySample s = ReadSample(query, id);
    if (best && Distance(s, time) >= Distance(*best, time)) continue;
    best = std::move(s);
    bestId = id;
  }
  if (!best) return std::nullopt;
  TSqliteStatement& query = Statement(
      "SELECT c.sample, c.kind, c.rank, c.pid, n.text, p.text, c.value FROM consumers c "
      "LEFT JOIN names n ON n.id = c.name LEFT JOIN names p ON p.id = c.process "
      "WHERE c.sample = ? ORDER BY c.kind, c.rank");
  query.Bind(1, bestId);
  while (query.Step())
    if (std::optional<TConsumer> consumer = ReadConsumer(query))
      best->Consumers.push_back(*consumer);
  return best;
}

std::int64_t THistoryStore::SampleCount() const {
  if (empty_) return 0;
  return db_.QueryInt("SELECT count(*) FROM samples").value_or(0);
}

}  // namespace ombrix
