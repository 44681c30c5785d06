// Initialisation files: "[Section]" header lines and "key=value" lines.
//
// Reading follows the private-profile rules the settings and the installer script rely on:
// section and key names match without regard to case, the first matching section and key
// win, values are trimmed, a value wrapped in a pair of double or single quotes loses them,
// and a value is cut at MaxValueLength characters. Writing keeps every line it does not
// touch exactly as it was, line endings included.
#pragma once
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class IniWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class IniReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class IniFile {
 public:
  static constexpr std::size_t MaxValueLength = 2047;

  IniFile() = default;
  static IniFile Parse(std::string_view text);
  // A missing file gives an empty one; a file that is there but cannot be read whole (no
  // permission, not a regular file, an input error) raises IniReadError.
  static IniFile Open(const std::string& path);
  // The same for callers that only read: an unreadable file gives an empty one too.
  static IniFile Load(const std::string& path);

  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  // True when the key's value is longer than MaxValueLength, so that Read gives only its
  // start: a reader for whom a cut value is wrong can refuse it.
  bool IsCut(std::string_view section, std::string_view key) const;
  bool HasSection(std::string_view section) const;
  // Keys of the first matching section, in file order, without duplicates.
  std::vector<std::string> Keys(std::string_view section) const;

  // Replaces the first matching key's line, or adds the key at the end of the section,
  // or adds the section at the end of the file.
  void Write(std::string_view section, std::string_view key, std::string_view value);
  // Removes every section of that name with all its lines, in one pass over the file.
  void EraseSection(std::string_view section);
  // Lines looked at or moved by EraseSection so far: its work, which tests and benchmarks
  // hold to a multiple of the file's length.
  std::size_t EraseSteps() const { return eraseSteps_; }

  std::string Text() const;
  // Replaces the file in one step (temporary file in the same folder, then rename), so a
  // failed save leaves the previous file as it was. The file keeps its owner, group and
  // mode; where the new file cannot be given them (another user's file that we may write),
  // the file is rewritten in place instead, and put back as it was when that fails. A new
  // file goes to the folder's owner when we may do that (a root run in a user's folder).
  // Raises IniWriteError on failure.
  void Save(const std::string& path) const;

 private:
  struct Line {
    std::string Raw;     // the line without its terminator
    std::string Ending;  // "\n", "\r\n" or "" for a last line without one
  };
  struct Span {
    std::size_t Header;  // index of the header line
    std::size_t End;     // one past the section's last line
  };

  std::optional<Span> FindSection(std::string_view section) const;
  std::optional<std::size_t> FindKey(const Span& span, std::string_view key) const;
  std::optional<std::string> ReadWhole(std::string_view section, std::string_view key) const;
  std::string NewLineEnding() const;

  std::vector<Line> lines_;
  std::size_t eraseSteps_ = 0;
};

// Helpers shared by readers of initialisation values.
std::string TrimBlanks(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace platform
