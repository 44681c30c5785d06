// A small store of keys with named string and 32-bit number values, kept in files: one
// file per key, in the folder of its root. Key and value names match without regard to
// case, as the keys the installer writes expect.
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
// written, else in the user's data folder ($XDG_DATA_HOME/ombrix/keys/machine); the user's
// keys always in $XDG_DATA_HOME/ombrix/keys/user. Empty when no folder can be had.
std::string KeyRootFolder(KeyRoot root);

using KeyValue = std::variant<std::string, std::uint32_t>;

struct KeyEntry {
  std::string Name;
  KeyValue Value;
};

class TKeyStore {
 public:
  explicit TKeyStore(std::string folder) : folder_(std::move(folder)) {}

  // Creates the key when needed; false when its file cannot be written.
  bool SetValue(const std::string& key, const std::string& name, const KeyValue& value);
  // The values of a key, in the order they were first written; nothing when the key is absent.
  std::optional<std::vector<KeyEntry>> ReadKey(const std::string& key) const;
  std::optional<KeyValue> ReadValue(const std::string& key, const std::string& name) const;
  // Removes the key with every key below it; false when nothing was removed.
  bool DeleteKeyTree(const std::string& key);

  // The file name a key is kept in: the key's name, lower-cased and with "\" and "/" taken
  // as the same separator, with every character but letters, digits, "-" and "_" written
  // as "%XX". The result is one plain file name, whatever the key holds.
  static std::string FileNameOf(const std::string& key);
  static std::string NormalKey(const std::string& key);

 private:
  std::string folder_;
};

}  // namespace platform
