#include "platform/installer/KeyStore.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "platform/inifile/IniFile.h"
#include "platform/installer/FileOps.h"
#include "platform/linux/Files.h"
#include "platform/linux/Handle.h"
#include "platform/paths/Paths.h"

namespace platform {

namespace {

constexpr const char* kSuffix = ".key";

bool IsPlain(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

std::string Encode(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsPlain(c)) {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> Decode(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return std::nullopt;
    const int hi = HexDigit(s[i + 1]);
    const int lo = HexDigit(s[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

std::string ToLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// One value per line: encoded name, a tab, "s" or "d", a tab, the encoded value.
std::vector<KeyEntry> ParseValues(const std::string& text) {
  std::vector<KeyEntry> entries;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const auto t1 = line.find('\t');
    const auto t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string::npos || t2 != t1 + 2) continue;
    const auto name = Decode(line.substr(0, t1));
    const auto value = Decode(line.substr(t2 + 1));
    if (!name || !value) continue;
    if (line[t1 + 1] == 's') {
      entries.push_back({*name, *value});
    } else if (line[t1 + 1] == 'd') {
      char* end = nullptr;
      const unsigned long n = std::strtoul(value->c_str(), &end, 10);
      if (value->empty() || *end != '\0' || n > 0xFFFFFFFFul) continue;
      entries.push_back({*name, static_cast<std::uint32_t>(n)});
    }
  }
  return entries;
}

std::string FormatValues(const std::vector<KeyEntry>& entries) {
  std::string text;
  for (const auto& e : entries) {
    text += Encode(e.Name);
    if (const auto* s = std::get_if<std::string>(&e.Value)) {
      text += "\ts\t" + Encode(*s);
    } else {
      text += "\td\t" + std::to_string(std::get<std::uint32_t>(e.Value));
    }
    text += '\n';
  }
  return text;
}

// FNV-1a, 64 bits: spreads key names over short file names. Each file holds its key's full
// name, so two names that share a hash are told apart, never mixed up.
std::uint64_t NameHash(const std::string& s) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (const char c : s) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ull;
  }
  return h;
}

std::string HeaderLine(const std::string& normal) {
  return "[" + Encode(normal) + "]\n";
}

// The key a file of the hashed layout names on its first line; nothing without one.
std::optional<std::string> HeaderKey(const std::string& text) {
  const auto end = text.find('\n');
  if (text.empty() || text.front() != '[' || end == std::string::npos || text[end - 1] != ']')
    return std::nullopt;
  return Decode(text.substr(1, end - 2));
}

// The key a file in the folder holds: from its first line, or from the name of a file of
// the earlier layout.
std::optional<std::string> KeyOfFile(const std::string& folder, const std::string& file) {
  const std::size_t suffix = std::char_traits<char>::length(kSuffix);
  if (file.size() <= suffix || file.compare(file.size() - suffix, suffix, kSuffix) != 0)
    return std::nullopt;
  if (!IsRegularFile(folder + "/" + file)) return std::nullopt;
  const auto text = os::ReadWholeFile(folder + "/" + file);
  if (!text) return std::nullopt;
  if (const auto key = HeaderKey(*text)) return key;
  return Decode(file.substr(0, file.size() - suffix));
}

std::string DataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/share";
  return {};
}

}  // namespace

std::string KeyRootFolder(KeyRoot root) {
  return KeyRootFolder(root, "/var/lib/ombrix/keys");
}

std::string KeyRootFolder(KeyRoot root, const std::string& systemFolder) {
  const std::string data = DataHome();
  if (root == KeyRoot::LocalMachine) {
    if (FolderObtainable(systemFolder)) return systemFolder;
    return data.empty() ? data : data + "/ombrix/keys/machine";
  }
  return data.empty() ? data : data + "/ombrix/keys/user";
}

std::string KeyStore::NormalKey(const std::string& key) {
  std::string k = ToLower(key);
  for (char& c : k)
    if (c == '/') c = '\\';
  while (!k.empty() && k.back() == '\\') k.pop_back();
  return k;
}

std::string KeyStore::FileNameOf(const std::string& key) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx",
                static_cast<unsigned long long>(NameHash(NormalKey(key))));
  return std::string("k") + hash + kSuffix;
}

std::string KeyStore::LegacyFileNameOf(const std::string& key) {
  return Encode(NormalKey(key)) + kSuffix;
}

// The values of the key from its file, or from a file of the earlier layout; foreign is set
// when the key's file belongs to another key whose name shares the hash.
std::optional<std::vector<KeyEntry>> KeyStore::ReadEntries(const std::string& normal,
                                                           bool& foreign) const {
  foreign = false;
  if (const auto text = os::ReadWholeFile(folder_ + "/" + FileNameOf(normal))) {
    foreign = HeaderKey(*text) != normal;
    if (foreign) return std::nullopt;
    return ParseValues(*text);
  }
  const auto legacy = os::ReadWholeFile(folder_ + "/" + LegacyFileNameOf(normal));
  if (!legacy) return std::nullopt;
  return ParseValues(*legacy);
}

bool KeyStore::SetValue(const std::string& key, const std::string& name, const KeyValue& value) {
  const std::string normal = NormalKey(key);
  if (folder_.empty() || normal.empty() || !ForceDirectories(folder_)) return false;
  bool foreign = false;
  std::vector<KeyEntry> entries = ReadEntries(normal, foreign).value_or(std::vector<KeyEntry>{});
  if (foreign) return false;
  bool replaced = false;
  for (auto& e : entries) {
    if (EqualsIgnoreCase(e.Name, name)) {
      e.Value = value;
      replaced = true;
      break;
    }
  }
  if (!replaced) entries.push_back({name, value});
  const std::string text = HeaderLine(normal) + FormatValues(entries);
  if (!ReplaceFile(folder_, FileNameOf(normal), text, 0666)) return false;
  unlink((folder_ + "/" + LegacyFileNameOf(normal)).c_str());  // now kept in the new layout
  return true;
}

std::optional<std::vector<KeyEntry>> KeyStore::ReadKey(const std::string& key) const {
  const std::string normal = NormalKey(key);
  if (folder_.empty() || normal.empty()) return std::nullopt;
  bool foreign = false;
  return ReadEntries(normal, foreign);
}

std::optional<KeyValue> KeyStore::ReadValue(const std::string& key, const std::string& name) const {
  const auto entries = ReadKey(key);
  if (!entries) return std::nullopt;
  for (const auto& e : *entries)
    if (EqualsIgnoreCase(e.Name, name)) return e.Value;
  return std::nullopt;
}

bool KeyStore::DeleteKeyTree(const std::string& key) {
  const std::string top = NormalKey(key);
  if (folder_.empty() || top.empty()) return false;
  os::DirStream dir(folder_);
  if (!dir.Valid()) return false;
  std::vector<std::string> doomed;
  while (const dirent* entry = dir.Next()) {
    const auto name = KeyOfFile(folder_, entry->d_name);
    if (name && (*name == top || name->rfind(top + "\\", 0) == 0))
      doomed.emplace_back(entry->d_name);
  }
  bool removed = false;
  for (const auto& file : doomed) removed |= unlink((folder_ + "/" + file).c_str()) == 0;
  return removed;
}

}  // namespace platform
