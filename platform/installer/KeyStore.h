// A small store of keys with named string and 32-bit number values, kept in files: one
// file per key, in the folder of its root. Key and value names match without regard to
// case, as the keys the installer writes expect.
//
// A key's file is named by a hash of the key's name, so that names of any length and
// script fit, and holds the full name on its first line. Keys written by the earlier layout
// (the whole name in the file name) are read, rewritten in the new layout, and removed.
#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace platform {

enum class KeyRoot { CurrentUser, LocalMachine };

// The folder of a root: the machine's keys in /var/lib/ombrix/keys when that can be
// written (or made), else in the user's data folder ($XDG_DATA_HOME/ombrix/keys/machine);
// the user's keys always in $XDG_DATA_HOME/ombrix/keys/user. Empty when no folder can be
// had. Nothing is created: the folder is made when the first value is written.
std::string KeyRootFolder(KeyRoot root);
// The same with another folder in place of /var/lib/ombrix/keys.
std::string KeyRootFolder(KeyRoot root, const std::string& systemFolder);

using KeyValue = std::variant<std::string, std::uint32_t>;

struct KeyEntry {
  std::string Name;
  KeyValue Value;
};

class KeyStore {
 public:
  explicit KeyStore(std::string folder) : folder_(std::move(folder)) {}

  // Creates the key when needed; false when its file cannot be written. The file is
  // replaced in one step, never written through a link.
  bool SetValue(const std::string& key, const std::string& name, const KeyValue& value);
  // The values of a key, in the order they were first written; nothing when the key is absent.
  std::optional<std::vector<KeyEntry>> ReadKey(const std::string& key) const;
  std::optional<KeyValue> ReadValue(const std::string& key, const std::string& name) const;
  // Removes the key with every key below it; false when nothing was removed.
  bool DeleteKeyTree(const std::string& key);

  // The file name a key is kept in: "k", a hash of its normal name in 16 hexadecimal
  // digits, ".key". Short and plain whatever the key holds.
  static std::string FileNameOf(const std::string& key);
  // The file name of the earlier layout: the normal name with every character but letters,
  // digits, "-" and "_" written as "%XX".
  static std::string LegacyFileNameOf(const std::string& key);
  // The key's name lower-cased, "/" taken for "\", no trailing separator.
  static std::string NormalKey(const std::string& key);

 private:
  std::optional<std::vector<KeyEntry>> ReadEntries(const std::string& normal, bool& foreign) const;
  std::string folder_;
};

}  // namespace platform
