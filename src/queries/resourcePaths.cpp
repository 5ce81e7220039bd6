#include "queries/resourcePaths.h"

#include <algorithm>

#include "host/kwDebug.h"
#include "host/logText.h"
#include "transport/urlEscape.h"

namespace Hypervale {
namespace paths {
namespace {

bool IsDotSegment(const std::string& segment) { return segment == "." || segment == ".."; }

// Segments of the engine's own links: names of collections and actions, and ids.
bool IsPlainSegment(const std::string& segment) {
  if (segment.empty() || IsDotSegment(segment)) return false;
  for (const char c : segment) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    if (!plain) return false;
  }
  return true;
}

}  // namespace

std::string Item(const std::string& collection, const std::string& id) {
  if (collection.empty()) return std::string();
  if (id.empty() || IsDotSegment(id)) {
    KwDebug(nullptr).Error(HV_FUNC, "Refusing the id [%s] below [%s]: it names no resource",
                           host::Cut(id, 64).c_str(), collection.c_str());
    return std::string();
  }
  // Query-value encoding leaves only letters, digits and "-._~": one segment, whatever the id.
  return collection + "/" + EncodeQueryValue(id);
}

std::string FromLink(const std::string& href) {
  if (href.empty()) return std::string();
  static const std::string kRoots[] = {"/ovirt-engine/api/", "/api/"};
  bool below = false;
  for (const std::string& root : kRoots) below = below || href.compare(0, root.size(), root) == 0;
  bool plain = below;
  for (size_t start = 1; plain && start <= href.size();) {
    const size_t end = std::min(href.find('/', start), href.size());
    plain = IsPlainSegment(href.substr(start, end - start));
    start = end + 1;
  }
  if (!plain) {
    KwDebug(nullptr).Error(HV_FUNC, "Refusing the engine link [%s]: not a plain path of the API",
                           host::Cut(href, 256).c_str());
    return std::string();
  }
  return href.substr(1);
}

std::string Search(const std::string& collection, const std::string& field,
                   const std::string& value) {
  if (collection.empty()) return std::string();
  return collection + SearchQuery(field, value);
}

std::string Follow(const std::string& link, const char* links) {
  if (link.empty()) return link;
  return link + (link.find('?') == std::string::npos ? "?follow=" : "&follow=") + links;
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
  const std::string snapshots = VmSnapshots(vmId);
  if (snapshots.empty()) return std::string();
  return snapshots + "?correlation_id=" + EncodeQueryValue(correlationId);
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
  const std::string domain = StorageDomain(domainId);
  if (domain.empty()) return std::string();
  return domain + "?host=" + EncodeQueryValue(hostName) + "&destroy=true";
}

}  // namespace paths
}  // namespace Hypervale
