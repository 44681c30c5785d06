// The kernel's file objects with the names it last gave them. Call with ModelLock held.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ombrix {

// Call every operation with ModelLock held.
class TFileNameTable {
 public:
  static constexpr std::uint32_t OtherObject = 0xFFFFFFFF;

  // Starts with the one entry "<other>" for OtherObject.
  TFileNameTable();

  // The name stored for the file object; nullptr when it was never named.
  const std::string* Find(std::uint32_t fileObject) const;
  // Replaces the name of a known file object, or appends a new entry. Entries never leave.
  void Store(std::uint32_t fileObject, const std::string& name);

  std::size_t Count() const { return entries_.size(); }
  const std::pair<std::string, std::uint32_t>& Entry(std::size_t i) const { return entries_.at(i); }
  std::int64_t MemoryUsed() const;

 private:
  // In order of first sight; the index spares every disk I/O a walk over the whole list.
  std::vector<std::pair<std::string, std::uint32_t>> entries_;
  std::unordered_map<std::uint32_t, std::size_t> index_;
};

extern TFileNameTable FileNames;

}  // namespace ombrix
