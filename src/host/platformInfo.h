// Read access to the host's configuration values.
#pragma once

#include <string>

namespace Hypervale {

// A caller creates a local instance, reads and drops it. An absent key (or, for numbers,
// a value that is not a whole decimal number) leaves the output unchanged.
class TzPlatformInfo {
 public:
  bool getString(const std::string& section, const std::string& key, std::string* out) const;
  bool getNumber(const std::string& section, const std::string& key, unsigned long* out) const;
};

}  // namespace Hypervale
