#include "platform/linux/ProcStat.h"

#include <charconv>

#include "platform/linux/Files.h"

namespace platform::os {
namespace {

constexpr std::size_t kCommLimit = 15;

// Field numbers of proc(5).
enum StatField : int {
  kParentId = 4,
  kFlags = 9,
  kUTime = 14,
  kSTime = 15,
  kNumThreads = 20,
  kStartTime = 22,
};

std::string_view NextField(std::string_view& rest) {
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  const std::size_t end = std::min(rest.find_first_of(" \n"), rest.size());
  const std::string_view field = rest.substr(0, end);
  rest.remove_prefix(end);
  return field;
}

// The field's value; false when it is not a plain number (its magnitude, or 0, is taken).
bool FieldValue(std::string_view field, std::uint64_t& value) {
  const bool negative = field.starts_with('-');
  if (negative) field.remove_prefix(1);
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  const bool number = error == std::errc() && end == field.data() + field.size();
  if (!number) value = 0;
  return number && !negative && !field.empty();
}

void Store(int field, std::uint64_t value, ProcStat& stat) {
  switch (field) {
    case kParentId:
      stat.ParentId = static_cast<std::uint32_t>(value);
      break;
    case kFlags:
      stat.Flags = value;
      break;
    case kUTime:
      stat.UTime = value;
      break;
    case kSTime:
      stat.STime = value;
      break;
    case kNumThreads:
      stat.NumThreads = value;
      break;
    case kStartTime:
      stat.StartTime = value;
      break;
    default:
      break;
  }
}

bool IsNamed(int field) {
  return field == kParentId || field == kFlags || field == kUTime || field == kSTime ||
         field == kNumThreads || field == kStartTime;
}

}  // namespace

std::optional<ProcStat> ParseProcStat(std::string_view text) {
  // The name may hold blanks and parentheses of its own.
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return std::nullopt;
  ProcStat stat;
  stat.Comm = std::string(text.substr(open + 1, close - open - 1));
  std::string_view rest = text.substr(close + 1);
  const std::string_view state = NextField(rest);
  if (state.empty()) return std::nullopt;
  stat.State = state.front();
  stat.Whole = state.size() == 1;
  for (int field = kParentId; field <= kStartTime; ++field) {
    const std::string_view token = NextField(rest);
    std::uint64_t value = 0;
    const bool number = FieldValue(token, value);
    stat.Whole = stat.Whole && !token.empty() && (number || !IsNamed(field));
    Store(field, value, stat);
  }
  return stat;
}

std::optional<ProcStat> ReadProcStat(std::uint32_t pid) {
  const auto text = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
  if (!text) return std::nullopt;
  auto stat = ParseProcStat(*text);
  if (!stat || !stat->Whole) return std::nullopt;
  return stat;
}

std::string CompleteComm(std::string_view comm, std::string_view executablePath) {
  if (comm.size() != kCommLimit) return std::string(comm);
  const std::size_t slash = executablePath.rfind('/');
  const std::string_view base =
      slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
  return std::string(base.starts_with(comm) ? base : comm);
}

}  // namespace platform::os
