// Line writers: the diagnostic trace file and the process log.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock/LocalTime.h"
#include "platform/linux/Handle.h"

namespace ombrix {

class TBaseTrace {
 public:
  TBaseTrace() = default;
  virtual ~TBaseTrace() = default;
  TBaseTrace(const TBaseTrace&) = delete;
  TBaseTrace& operator=(const TBaseTrace&) = delete;

  virtual bool IsOpen() const { return false; }
  // Writes the text and a line end; does nothing unless the writer is active and open.
  void WriteLine(std::string_view text);
  virtual void Flush();
  virtual void Close() { active_ = false; }

 protected:
  virtual void WriteRaw(const char* data, std::size_t size) = 0;

  std::recursive_mutex lock_;
  // Read before the lock is taken, so another thread may be closing the writer meanwhile.
  std::atomic<bool> active_{false};
};

class TTextFile : public TBaseTrace {
 public:
  TTextFile() = default;
  ~TTextFile() override;

  bool IsOpen() const override { return handle_ >= 0; }
  void Flush() override;
  void Close() override;

  // Opens the named file at its end; false when it is missing or not accessible.
  bool OpenExisting();
  // Empties (or creates) the file and opens it.
  bool Rewrite(const std::string& newName = {});
  // Opens the file at its end, creating it when it does not exist.
  bool OpenAppend(const std::string& newName = {});

  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name) { fileName_ = name; }

 protected:
  void WriteRaw(const char* data, std::size_t size) override;

 private:
  platform::os::Fd file_;        // under lock_
  std::atomic<int> handle_{-1};  // file_'s descriptor, for a look without the lock; -1: none
  std::string fileName_ = "trace.txt";
};

// The diagnostic trace file, process-wide; named at start-up, opened by its first dump.
extern TTextFile TraceFile;

// "hh:mm:ss.zzz" of the local time.
std::string TimeStampText();
std::string TimeStampText(const platform::LocalTime& t);
// The memory manager's figures on one line, for the internal memory report.
std::string HeapStatusLine();

}  // namespace ombrix
