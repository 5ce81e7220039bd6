// A loopback engine that serves real-engine-shaped v4 bodies built from the recorded samples
// in tests/fixtures: every VM is the recorded vm.xml (about 9.7 KB) under its own id and name,
// with two disks. It answers what an inventory read asks for: the VM list, one VM, a VM's disk
// attachments, one disk, and the cluster, host, data center and storage domain a name lookup
// reads. It keeps engine sessions as a real engine does, so the logins a client costs are
// counted.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine_simulator/sessions.h"
#include "test_engine/test_engine.h"

namespace hvbench {

class ShapedEngine {
 public:
  // Reads the samples from `fixtureDir` (tests/fixtures); throws when one is missing.
  ShapedEngine(const std::string& fixtureDir, const std::string& password);

  // The VM list from now on holds `count` VMs. Builds the list body once.
  void setVmCount(size_t count);
  size_t listBodyBytes() const;
  // Id of the i-th VM (0-based).
  static std::string vmId(size_t index);

  hvtest::TestEngine& engine() { return *engine_; }
  uint64_t logins() const { return sessions_->stats().logins; }

 private:
  std::optional<hvtest::Answer> answer(const hvtest::Request& request) const;

  std::string api_;
  std::string vm_;       // vm.xml without its XML declaration
  std::string disk_;     // one data disk of disks.xml
  std::string cluster_;  // first cluster of clusters.xml
  std::string host_;
  std::string dataCenter_;
  std::string storageDomain_;

  mutable std::mutex listMutex_;
  std::shared_ptr<const std::string> list_;
  std::unique_ptr<hvsim::Sessions> sessions_;
  std::unique_ptr<hvtest::TestEngine> engine_;  // last: stops before the bodies go away
};

}  // namespace hvbench
