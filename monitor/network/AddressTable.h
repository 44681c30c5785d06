// Remote IPv4 addresses with their host names, found by reverse lookups that complete on
// the main thread. Every operation, the completion included, runs with the model lock held.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/network/HostLookup.h"

namespace ombrix {

// The address as four decimal bytes, most significant first.
std::string DottedName(std::uint32_t address);

struct TAddressEntry {
  static constexpr std::size_t LookupBufferSize = 1024;

  std::uint32_t Address = 0;  // host byte order
  platform::LookupTask LookupTask = 0;
  std::string HostName;  // dotted form until a lookup gives a name
  bool Resolved = false;
  std::unique_ptr<char[]> LookupBuffer;  // held while a lookup is under way
};

class TAddressTable {
 public:
  // Owns the lookup service; its completions are taken under `lock`.
  TAddressTable(std::unique_ptr<platform::HostLookup> lookup, std::recursive_mutex& lock);
  ~TAddressTable();
  TAddressTable(const TAddressTable&) = delete;
  TAddressTable& operator=(const TAddressTable&) = delete;

  // Index of the address's entry, created (and looked up when GetHostNames is on) when new.
  std::size_t IndexOf(std::uint32_t address);
  std::string HostNameOf(std::uint32_t address);
  void StartLookup(std::size_t index);
  void StartAllLookups();
  // The end of a lookup: error 0 with the name, or a failure.
  void LookupDone(platform::LookupTask task, int error, const std::string& name);
  std::int64_t MemoryUsed() const;

  const std::vector<std::unique_ptr<TAddressEntry>>& Entries() const { return entries_; }

 private:
  std::unique_ptr<platform::HostLookup> lookup_;
  std::recursive_mutex& lock_;
  std::vector<std::unique_ptr<TAddressEntry>> entries_;  // ascending address
};

}  // namespace ombrix
