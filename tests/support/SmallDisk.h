// A small file system of the test's own, to fill up: a tmpfs mounted over a fresh folder in
// a mount namespace private to this test process, so nothing outside it ever sees it.
#pragma once
#include <cstddef>
#include <string>

namespace ombrix::testing {

class SmallDisk {
 public:
  // Needs root and a process without other threads yet; Ready() tells whether it worked
  // and Reason() why not.
  explicit SmallDisk(std::size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Ready() const { return mounted_; }
  const std::string& Reason() const { return reason_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string reason_;
  bool mounted_ = false;
};

}  // namespace ombrix::testing
