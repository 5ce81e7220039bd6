// A loopback engine that serves real-engine-shaped v4 bodies (see ShapedBodies) and reports
// engine 4.5. It answers what an inventory read asks for: the VM list, one VM, a VM's disk
// attachments, one disk, and the cluster, host, data center and storage domain a name lookup
// reads; the VM reads and the attachments honour "follow" as an engine from 4.2 does (the
// linked objects inline, 400 for a link that cannot be followed). It keeps engine sessions as
// a real engine does, so the logins a client costs are counted.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine_simulator/sessions.h"
#include "shaped_bodies.h"
#include "test_engine/test_engine.h"

namespace hvbench {

class ShapedEngine {
 public:
  // Reads the samples from `fixtureDir` (tests/fixtures); throws when one is missing.
  ShapedEngine(const std::string& fixtureDir, const std::string& password);

  // The VM list from now on holds `count` VMs. Builds the plain list body now; a list with
  // followed links is built on its first request, once per count.
  void setVmCount(size_t count);
  // The plain list body as served now.
  std::shared_ptr<const std::string> listBody() const;
  // The body of a 2xx XML answer to `request` as it is served now; null for any other answer.
  std::shared_ptr<const std::string> bodyOf(const hvtest::Request& request) const;
  // Id of the i-th VM (0-based).
  static std::string vmId(size_t index) { return ShapedBodies::vmId(index); }

  hvtest::TestEngine& engine() { return *engine_; }
  uint64_t logins() const { return sessions_->stats().logins; }

 private:
  std::optional<hvtest::Answer> answer(const hvtest::Request& request) const;
  // The list body for `follow`, built and kept on first use.
  std::shared_ptr<const std::string> list(const hvsim::Follow& follow) const;

  const ShapedBodies bodies_;
  mutable std::mutex listMutex_;
  size_t count_ = 0;
  // By the followed links (a bit each); 0 is the plain list.
  mutable std::map<unsigned, std::shared_ptr<const std::string>> lists_;
  std::unique_ptr<hvsim::Sessions> sessions_;
  std::unique_ptr<hvtest::TestEngine> engine_;  // last: stops before the bodies go away
};

}  // namespace hvbench
