#include "platform/linux/ProcStat.h"

#include <charconv>

#include "platform/linux/Files.h"
#include "platform/linux/ProcText.h"

namespace platform::os {
namespace {

constexpr std::size_t kCommLimit = 15;

// The fields taken after the parent's id, by their numbers in proc(5).
struct NamedField {
  int Number;
  std::uint64_t ProcStat::*Value;
};
constexpr NamedField kNamedFields[] = {{9, &ProcStat::Flags},
                                       {14, &ProcStat::UTime},
                                       {15, &ProcStat::STime},
                                       {20, &ProcStat::NumThreads},
                                       {22, &ProcStat::StartTime}};
constexpr int kParentIdField = 4;
constexpr int kLastField = 22;

// The field's value; false when it is not a plain number (its magnitude, or 0, is taken).
bool FieldValue(std::string_view field, std::uint64_t& value) {
  const bool negative = field.starts_with('-');
  if (negative) field.remove_prefix(1);
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  const bool number = error == std::errc() && end == field.data() + field.size();
  if (!number) value = 0;
  return number && !negative && !field.empty();
}

const NamedField* NamedAt(int number) {
  for (const NamedField& field : kNamedFields)
    if (field.Number == number) return &field;
  return nullptr;
}

// Fields 4 to 22; false when one is missing or a taken one is no plain number.
bool TakeFields(std::string_view rest, ProcStat& stat) {
  bool whole = true;
  for (int field = kParentIdField; field <= kLastField; ++field) {
    const std::string_view token = NextToken(rest);
    std::uint64_t value = 0;
    const bool number = FieldValue(token, value);
    const NamedField* named = NamedAt(field);
    if (named != nullptr) stat.*(named->Value) = value;
    if (field == kParentIdField) stat.ParentId = static_cast<std::uint32_t>(value);
    whole = whole && !token.empty() && (number || (named == nullptr && field != kParentIdField));
  }
  return whole;
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
  const std::string_view state = NextToken(rest);
  if (state.empty()) return std::nullopt;
  stat.State = state.front();
  const bool fields = TakeFields(rest, stat);
  stat.Whole = state.size() == 1 && fields;
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
