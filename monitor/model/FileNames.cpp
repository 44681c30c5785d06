#include "monitor/model/FileNames.h"

namespace ombrix {

TFileNameTable FileNames;

TFileNameTable::TFileNameTable() {
  Store(OtherObject, "<other>");
}

const std::string* TFileNameTable::Find(std::uint32_t fileObject) const {
  const auto it = index_.find(fileObject);
  return it == index_.end() ? nullptr : &entries_[it->second].first;
}

void TFileNameTable::Store(std::uint32_t fileObject, const std::string& name) {
  const auto [it, added] = index_.try_emplace(fileObject, entries_.size());
  if (added) {
    entries_.emplace_back(name, fileObject);
  } else {
    entries_[it->second].first = name;
  }
}

std::int64_t TFileNameTable::MemoryUsed() const {
  std::int64_t bytes = sizeof(*this);
  for (const auto& e : entries_) bytes += static_cast<std::int64_t>(sizeof(e) + e.first.size());
  return bytes;
}

}  // namespace ombrix
