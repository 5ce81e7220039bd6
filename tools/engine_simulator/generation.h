// Which engine release the simulator impersonates: its product version and the XML form and
// disk model that come with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hvsim {

struct Generation {
  unsigned major = 4;
  unsigned minor = 1;
  unsigned build = 0;
  unsigned revision = 0;

  // "3.6", "4.0.0", "4.0.1", "4.0.2", "4.1", "4.2.8", ... Major 3 or 4 only.
  static std::optional<Generation> parse(std::string_view text);

  // major * 1000000 + minor * 1000 + build, the number clients compare against.
  uint32_t code() const { return major * 1000000u + minor * 1000u + build; }
  // API v3 document forms (attributes, <status><state>, <type> of snapshots, creation status).
  bool v3() const { return major < 4; }
  // Below 4.0.2 a newly attached storage domain waits for an explicit "activate".
  bool attachActivatesDomain() const { return code() >= 4000002; }
  std::string label() const;        // "4.0.2"
  std::string fullVersion() const;  // "4.0.2.0-1.el7.centos"
};

}  // namespace hvsim
