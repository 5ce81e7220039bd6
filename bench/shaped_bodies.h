// The bodies of the benchmark's engine, built from the recorded v4 samples in tests/fixtures:
// every VM is the recorded vm.xml (about 9.7 KB) under its own id and name, with two disks, each
// the recorded data disk of disks.xml under its own id. The API root is the recorded one,
// reporting engine 4.5.5 so that a client reads it as an engine that follows links.
#pragma once

#include <string>

#include "engine_simulator/follow.h"

namespace hvbench {

class ShapedBodies {
 public:
  // Reads the samples from `fixtureDir`; throws when one is missing or lacks what is used.
  explicit ShapedBodies(const std::string& fixtureDir);

  // Id of the i-th VM (0-based).
  static std::string vmId(size_t index);

  const std::string& api() const { return api_; }
  // Whole documents.
  std::string vm(const std::string& id, const hvsim::Follow& follow) const;
  std::string vmList(size_t count, const hvsim::Follow& follow) const;
  // The VM's two disk attachments; with `fullDisks` each holds its whole disk.
  std::string attachments(const std::string& vmId, bool fullDisks) const;
  std::string disk(const std::string& id) const;
  std::string cluster(const std::string& id) const;
  std::string host(const std::string& id) const;
  std::string dataCenter(const std::string& id) const;
  std::string storageDomain(const std::string& id) const;

 private:
  // The <vm> element with the followed links inline after its own children, as the engine
  // puts them.
  std::string vmElement(const std::string& id, const hvsim::Follow& follow) const;
  // The <disk_attachment> elements of the VM, indented by `indent`.
  std::string attachmentElements(const std::string& vmId, bool fullDisks,
                                 const std::string& indent) const;

  std::string api_;
  std::string vm_;       // vm.xml without its XML declaration
  std::string disk_;     // one data disk of disks.xml
  std::string cluster_;  // first cluster of clusters.xml
  std::string host_;
  std::string dataCenter_;
  std::string storageDomain_;
};

}  // namespace hvbench
