#include "monitor/diagnostics/TextFile.h"

#include <cstdio>

#include "platform/heap/HeapStatus.h"
#include "platform/textfile/TextFileHandle.h"

namespace ombrix {

TTextFile TraceFile;

void TBaseTrace::WriteLine(std::string_view text) {
  if (!active_ || !IsOpen()) return;
  std::lock_guard guard(lock_);
  WriteRaw(text.data(), text.size());
}

void TBaseTrace::Flush() {
  std::lock_guard guard(lock_);
}

TTextFile::~TTextFile() {
  Close();
}

void TTextFile::WriteRaw(const char* data, std::size_t size) {
  if (handle_ < 0) return;
  std::string line(data, size);
  line += "\r\n";
  platform::WriteBytes(handle_, line.data(), line.size());
}

void TTextFile::Flush() {
  TBaseTrace::Flush();
  std::lock_guard guard(lock_);
  if (handle_ >= 0) platform::FlushToDisk(handle_);
}

void TTextFile::Close() {
  TBaseTrace::Close();
  std::lock_guard guard(lock_);
  handle_ = -1;
  file_.Reset();
}

bool TTextFile::OpenExisting() {
  Close();
  platform::os::Fd file = platform::OpenForAppend(fileName_);
  if (!file) return false;
  std::lock_guard guard(lock_);
  handle_ = file.Get();
  file_ = std::move(file);
  active_ = true;
  return true;
}

bool TTextFile::Rewrite(const std::string& newName) {
  if (!newName.empty()) fileName_ = newName;
  Close();
  if (!platform::CreateEmpty(fileName_)) return false;
  return OpenExisting();
}

bool TTextFile::OpenAppend(const std::string& newName) {
  if (!newName.empty()) fileName_ = newName;
  return OpenExisting() || Rewrite();
}

std::string TimeStampText(const platform::LocalTime& t) {
  char text[24];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", t.Hour % 100, t.Minute % 100,
                t.Second % 100, t.Millisecond % 1000);
  return text;
}

std::string TimeStampText() {
  return TimeStampText(platform::LocalTimeNow());
}

std::string HeapStatusLine() {
  const platform::HeapStatus h = platform::GetHeapStatus();
  return " AddrSpace=" + std::to_string(h.TotalAddrSpace) +
         ", Uncommited=" + std::to_string(h.TotalUncommitted) +
         ", Commited=" + std::to_string(h.TotalCommitted) +
         ", Allocated=" + std::to_string(h.TotalAllocated) +
         ", Free=" + std::to_string(h.TotalFree) + " [Small=" + std::to_string(h.FreeSmall) +
         ", Big=" + std::to_string(h.FreeBig) + "], Unused=" + std::to_string(h.Unused) +
         ", Overhead=" + std::to_string(h.Overhead) + ", Code=" + std::to_string(h.HeapErrorCode);
}

}  // namespace ombrix
