#include "queries/resourcePaths.h"

#include "transport/urlEscape.h"

namespace Hypervale {
namespace paths {

std::string Item(const std::string& collection, const std::string& id) {
  return collection + "/" + id;
}

std::string Search(const std::string& collection, const std::string& field,
                   const std::string& value) {
  return collection + SearchQuery(field, value);
}

std::string Vm(const std::string& vmId) { return Item(kVms, vmId); }

std::string VmAction(const std::string& vmId, const char* action) { return Item(Vm(vmId), action); }

std::string VmNics(const std::string& vmId) { return Item(Vm(vmId), sub::kNics); }

std::string VmNic(const std::string& vmId, const std::string& nicId) {
  return Item(VmNics(vmId), nicId);
}

std::string VmDisks(const std::string& vmId) { return Item(Vm(vmId), sub::kDisks); }

std::string VmDisk(const std::string& vmId, const std::string& diskId) {
  return Item(VmDisks(vmId), diskId);
}

std::string VmDiskAction(const std::string& vmId, const std::string& diskId,
                         const std::string& action) {
  return Item(VmDisk(vmId, diskId), action);
}

std::string VmDiskAttachments(const std::string& vmId) {
  return Item(Vm(vmId), sub::kDiskAttachments);
}

std::string VmDiskAttachment(const std::string& vmId, const std::string& diskId) {
  return Item(VmDiskAttachments(vmId), diskId);
}

std::string VmSnapshots(const std::string& vmId) { return Item(Vm(vmId), sub::kSnapshots); }

std::string VmSnapshotsCorrelated(const std::string& vmId, const std::string& correlationId) {
  return VmSnapshots(vmId) + "?correlation_id=" + EncodeQueryValue(correlationId);
}

std::string VmSnapshot(const std::string& vmId, const std::string& snapshotId) {
  return Item(VmSnapshots(vmId), snapshotId);
}

std::string VmSnapshotDisks(const std::string& vmId, const std::string& snapshotId) {
  return Item(VmSnapshot(vmId, snapshotId), sub::kDisks);
}

std::string VmSnapshotDisk(const std::string& vmId, const std::string& snapshotId,
                           const std::string& diskId) {
  return Item(VmSnapshotDisks(vmId, snapshotId), diskId);
}

std::string Disk(const std::string& diskId) { return Item(kDisks, diskId); }

std::string DiskMove(const std::string& diskId) { return Item(Disk(diskId), sub::kMove); }

std::string Job(const std::string& jobId) { return Item(kJobs, jobId); }

std::string JobsCorrelated(const std::string& correlationId) {
  return Search(kJobs, "correlation_id", correlationId);
}

std::string Tag(const std::string& tagId) { return Item(kTags, tagId); }

std::string DataCenterNetworks(const std::string& dataCenterId) {
  return Item(Item(kDataCenters, dataCenterId), sub::kNetworks);
}

std::string DataCenterStorageDomains(const std::string& dataCenterId) {
  return Item(Item(kDataCenters, dataCenterId), sub::kStorageDomains);
}

std::string DataCenterStorageDomain(const std::string& dataCenterId, const std::string& domainId) {
  return Item(DataCenterStorageDomains(dataCenterId), domainId);
}

std::string DataCenterStorageDomainAction(const std::string& dataCenterId,
                                          const std::string& domainId, const char* action) {
  return Item(DataCenterStorageDomain(dataCenterId, domainId), action);
}

std::string StorageDomain(const std::string& domainId) { return Item(kStorageDomains, domainId); }

std::string StorageDomainDestroy(const std::string& domainId, const std::string& hostName) {
  return StorageDomain(domainId) + "?host=" + EncodeQueryValue(hostName) + "&destroy=true";
}

}  // namespace paths
}  // namespace Hypervale
