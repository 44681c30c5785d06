// The internal memory report: what the monitor's own objects and strings hold, table by
// table, written after a sample's dump.
#include <string>

#include "monitor/diagnostics/TextFile.h"
#include "monitor/model/FileNames.h"
#include "monitor/network/AddressTable.h"
#include "monitor/network/PortNames.h"
#include "monitor/perfdata/Statistics.h"
#include "monitor/shell/MonitorCore.h"
#include "platform/checked/Checked.h"

namespace ombrix {

namespace {

using platform::CheckedAdd;
using platform::CheckedCast;

template <typename List>
std::int32_t ListCost(const List& list) {
  return CheckedCast<std::int32_t>(sizeof(list) + list.capacity() * sizeof(void*));
}

class TReport {
 public:
  explicit TReport(TBaseTrace& out) : out_(out) {}

  void Line(const std::string& text) { out_.WriteLine(text); }
  // Adds the count to the running total and gives it as text.
  std::string Counted(std::int64_t bytes) {
    const auto n = CheckedCast<std::int32_t>(bytes);
    total_ = CheckedAdd(total_, n);
    return std::to_string(n);
  }
  template <typename Table>
  void TableLine(const Table& table, const char* word) {
    std::int64_t bytes = ListCost(table);
    for (const auto& entity : table) bytes += entity->MemoryUsed();
    Line(std::to_string(table.size()) + " " + word + " objects; " + Counted(bytes) +
         " total bytes");
  }
  std::int32_t Total() const { return total_; }

 private:
  TBaseTrace& out_;
  std::int32_t total_ = 0;
};

}  // namespace

void TMonitorCore::WriteMemoryReport() {
  TReport r(TraceFile);
  const TEntityTables& t = *tables_;
  r.Line("**** Internal Memory Info ****");
  const std::int64_t addressBytes = addressTable_ ? addressTable_->MemoryUsed() : 0;
  r.Line("1 address table object; " + r.Counted(addressBytes) + " total bytes");
  r.Line("1 memory object; " + r.Counted(memory_->MemoryUsed()) + " total bytes");
  r.TableLine(t.Files, "file");
  std::int64_t nameBytes = 0;
  for (std::size_t i = 0; i < FileNames.Count(); ++i)
    nameBytes += static_cast<std::int64_t>(FileNames.Entry(i).first.size()) + 4;
  r.Line(std::to_string(FileNames.Count()) + " file names; " + r.Counted(nameBytes) +
         " total bytes");
  r.TableLine(t.Disks, "disk");
  r.TableLine(t.Sockets, "socket");
  r.TableLine(t.Adapters, "adapter");
  r.TableLine(t.Processes, "process");
  r.Line("Sorted list is " + r.Counted(ListCost(t.Rows)) + " total bytes");
  r.Line(r.Counted(5 * TAverage::MemoryUsed()) + " additional bytes used by average objects");
  const std::uint64_t footprint = performanceData_ ? performanceData_->MemoryFootprint() : 0;
  r.Line(r.Counted(CheckedCast<std::int32_t>(footprint)) +
         " bytes used by statistics objects and buffers");
  r.Line(r.Counted(PortNames.Bytes()) + " bytes used by TCP/IP port names");
  r.Line(std::to_string(r.Total()) + " total bytes used by objects and strings");
  r.Line("Heap Info: " + HeapStatusLine());
  r.Line("**** end Internal Memory Info ****");
}

}  // namespace ombrix
