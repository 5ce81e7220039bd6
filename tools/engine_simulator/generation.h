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

  // "3.6", "4.0.0", "4.0.1", "4.0.2", "4.1", "4.2", "4.2.8", ... Major 3 or 4 only.
  static std::optional<Generation> parse(std::string_view text);

  // major * 1000000 + minor * 1000 + build, the number clients compare against.
  uint32_t code() const { return major * 1000000u + minor * 1000u + build; }
  // API v3 document forms (attributes, <status><state>, <type> of snapshots).
  bool v3() const { return major < 4; }
  // Below 4.0.2 a newly attached storage domain waits for an explicit "activate".
  bool attachActivatesDomain() const { return code() >= 4000002; }
  // From 4.1 the v4 VM service offers its disks as disk attachments only.
  bool servesVmDisks() const { return v3() || code() < 4001000; }
  // Disks report the bytes they use ("total_size") from 4.1 on.
  bool reportsTotalSize() const { return !v3() && code() >= 4001000; }
  // Jobs can be searched (by correlation id) from 4.2 on.
  bool searchesJobs() const { return code() >= 4002000; }
  // The "follow" parameter (linked objects inline) from 4.2 on.
  bool follows() const { return code() >= 4002000; }
  // 4.4 removed API v3: a request for it is refused, never answered in v3 form.
  bool droppedApiV3() const { return code() >= 4004000; }
  // From 4.5.0.6 a VM created from an OVF is answered only once its disks are copied (201);
  // before, the answer comes while they still are (202).
  bool waitsForOvfImport() const {
    return code() > 4005000 || (code() == 4005000 && revision >= 6);
  }
  // Up to 4.4.1 the answer to adding a disk attachment names the VM "null" in its href.
  bool nullVmInAddedAttachment() const { return v4() && code() < 4004002; }
  // The v4 API: single sign-on, the all_content parameter, the "Version" header.
  bool v4() const { return !v3(); }
  std::string label() const;        // "4.0.2"
  std::string fullVersion() const;  // "4.0.2.0-1.el7.centos", "4.5.1.0-1.el8"
};

}  // namespace hvsim
