// The engine's XML answers, one writer per resource kind, each switching between the API v3
// and v4 forms inside. Hrefs are absolute paths under the API base, as the engine writes them.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "engine_simulator/failure.h"
#include "engine_simulator/follow.h"
#include "engine_simulator/generation.h"
#include "engine_simulator/inventory.h"
#include "engine_simulator/xml_out.h"

namespace hvsim {

// The answer to an action request (POST .../start) or a DELETE with a body.
struct ActionAnswer {
  std::string status = "complete";  // complete, failed
  std::string jobId;
  std::string faultReason, faultDetail;  // set for failed actions
};

std::string isoTime(WallClock::time_point when);

// What a disk attachment's representation carries besides the attachment itself.
struct AttachmentExtras {
  const Inventory* diskFrom = nullptr;  // the whole disk inline (followed)
  std::string self;                     // replaces the usual href
  std::string pendingCreation;          // id of the creation status of a disk still being made
};

// What a VM's representation carries besides the VM itself.
struct VmExtras {
  const Inventory* inventory = nullptr;  // for the followed disks
  Follow follow;
  bool creationPending = false;  // the answer to a create whose work still runs
};

class Renderer {
 public:
  static constexpr const char* kApiBase = "/ovirt-engine/api";

  explicit Renderer(Generation generation) : generation_(generation) {}

  const Generation& generation() const { return generation_; }
  bool v3() const { return generation_.v3(); }
  // kApiBase + "/" + tail
  std::string href(std::string_view tail) const;

  // A whole document with the XML declaration.
  std::string document(const std::function<void(XmlOut&)>& body) const;
  std::string apiRoot(const Inventory& inventory) const;
  std::string fault(std::string_view reason, std::string_view detail) const;
  std::string action(const ActionAnswer& answer) const;
  // A refused request in the form its kind takes in this API version; `path` is the request's.
  std::string failure(const Failure& failure, std::string_view path) const;
  // Creation status of what `ownerTail` ("disks/{id}", "vms/{id}") names: pending, complete or
  // failed.
  std::string creation(const std::string& ownerTail, const std::string& creationId,
                       std::string_view state) const;

  void dataCenter(XmlOut& x, const DataCenter& dc) const;
  void cluster(XmlOut& x, const Cluster& cluster) const;
  void host(XmlOut& x, const Host& host) const;
  void network(XmlOut& x, const Network& network) const;
  void vnicProfile(XmlOut& x, const VnicProfile& profile) const;
  void tag(XmlOut& x, const Tag& tag) const;
  void job(XmlOut& x, const Job& job) const;

  void vm(XmlOut& x, const Vm& vm, const VmExtras& extras = VmExtras()) const;
  void nic(XmlOut& x, const Vm& vm, const Nic& nic) const;
  // The OVF (initialization/configuration/data) only with `allContent`.
  void snapshot(XmlOut& x, const Vm& vm, const Snapshot& snapshot, bool allContent) const;

  // A storage domain on its own (context null) or as attached to a data center.
  void storageDomain(XmlOut& x, const StorageDomain& sd, const DataCenter* context) const;
  // A disk at the top level; `hrefBase` is "disks" or "storagedomains/{id}/disks". API v3 shows
  // the flags of the first VM that uses it (`firstUse`, may be null). With withCreationStatus
  // (the answer to a create whose work still runs) it links its creation status. `inventory`
  // supplies the bytes its snapshots hold.
  void disk(XmlOut& x, const Inventory& inventory, const Disk& disk, const std::string& hrefBase,
            const DiskAttachment* firstUse, bool withCreationStatus = false) const;
  // A disk as a VM sees it (the per-VM "disks" collection): attachment flags included. With
  // `creationId`, the answer to creating it while it is still being made.
  void vmDisk(XmlOut& x, const Inventory& inventory, const Vm& vm, const DiskAttachment& attachment,
              const std::string& creationId = "") const;
  // A disk as a snapshot holds it.
  void snapshotDisk(XmlOut& x, const Snapshot& snapshot, const SnapshotImage& image) const;
  void diskAttachment(XmlOut& x, const Vm& vm, const DiskAttachment& attachment,
                      const AttachmentExtras& extras = AttachmentExtras()) const;

  // The device name the guest reports, or "" while it reports none.
  static std::string visibleLogicalName(const Vm& vm, const DiskAttachment& attachment);

 private:
  void diskCommon(XmlOut& x, const Disk& disk, const std::string& imageId, uint64_t totalSize,
                  bool withVmFields, const DiskAttachment* attachment, const Vm* vm) const;
  void version(XmlOut& x, std::string_view name, unsigned major, unsigned minor) const;
  // <creation_status> and its link, in an answer to a create whose work still runs.
  void pendingCreation(XmlOut& x, const std::string& self, const std::string& creationId) const;

  Generation generation_;
};

}  // namespace hvsim
