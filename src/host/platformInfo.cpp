#include "host/platformInfo.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "host/ubString.h"
#include "hypervale/host.h"

namespace Hypervale {
namespace {

class ConfigStore {
 public:
  void set(const std::string& section, const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_[{section, key}] = value;
  }
  void remove(const std::string& section, const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.erase({section, key});
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.clear();
  }
  std::optional<std::string> find(const std::string& section, const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = values_.find({section, key});
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, std::string> values_;
};

ConfigStore& Store() {
  // Never destroyed: a facade the host keeps in a static object still reads its settings
  // while it ends its engine session at exit.
  static ConfigStore* const store = new ConfigStore;
  return *store;
}

std::optional<unsigned long> ParseUnsigned(std::string text) {
  TrimString(text, " \t");
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0') return std::nullopt;
  return value;
}

}  // namespace

void SetConfigValue(const std::string& section, const std::string& key, const std::string& value) {
  Store().set(section, key, value);
}

void RemoveConfigValue(const std::string& section, const std::string& key) {
  Store().remove(section, key);
}

void ClearConfig() { Store().clear(); }

bool LoadConfigFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) return false;
  std::string section;
  std::string line;
  while (std::getline(in, line)) {
    TrimString(line, " \t\r");
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      TrimString(section, " \t");
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    TrimString(key, " \t");
    TrimString(value, " \t");
    if (!key.empty()) Store().set(section, key, value);
  }
  return true;
}

bool TzPlatformInfo::getString(const std::string& section, const std::string& key,
                               std::string* out) const {
  const auto value = Store().find(section, key);
  if (!value || !out) return false;
  *out = *value;
  return true;
}

bool TzPlatformInfo::getNumber(const std::string& section, const std::string& key,
                               unsigned long* out) const {
  const auto value = Store().find(section, key);
  if (!value || !out) return false;
  const auto number = ParseUnsigned(*value);
  if (!number) return false;
  *out = *number;
  return true;
}

}  // namespace Hypervale
