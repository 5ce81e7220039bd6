// Where the engine keeps each resource: its collections and the paths below them. Paths are
// relative to the engine root, without a leading slash; values put into a query are encoded.
//
// An id (the caller's or one the engine sent) goes into a path as exactly one segment: every
// byte but letters, digits and "-._~" is percent-encoded, so '/', '?', '#' and '%' reach the
// wire only as "%2F", "%3F", "%23" and "%25". An id that is empty, "." or ".." would name the
// collection or its parent (front ends decode "%2E" before folding dot segments), so it is
// refused: the builder logs an error and returns an empty path, which every path built on it
// keeps and the connection refuses before anything is sent.
#pragma once

#include <string>

namespace Hypervale {
namespace paths {

inline constexpr char kApi[] = "ovirt-engine/api";
inline constexpr char kDataCenters[] = "ovirt-engine/api/datacenters";
inline constexpr char kClusters[] = "ovirt-engine/api/clusters";
inline constexpr char kHosts[] = "ovirt-engine/api/hosts";
inline constexpr char kVms[] = "ovirt-engine/api/vms";
inline constexpr char kStorageDomains[] = "ovirt-engine/api/storagedomains";
inline constexpr char kDisks[] = "ovirt-engine/api/disks";
inline constexpr char kJobs[] = "ovirt-engine/api/jobs";
inline constexpr char kTags[] = "ovirt-engine/api/tags";
inline constexpr char kNetworks[] = "ovirt-engine/api/networks";
inline constexpr char kVnicProfiles[] = "ovirt-engine/api/vnicprofiles";

// Sub-resources and actions: the last step of a path below a resource, and the rel of the
// resource's link to it.
namespace sub {
inline constexpr char kClusters[] = "clusters";
inline constexpr char kStorageDomains[] = "storagedomains";
inline constexpr char kNetworks[] = "networks";
inline constexpr char kSnapshots[] = "snapshots";
inline constexpr char kDisks[] = "disks";
inline constexpr char kDiskAttachments[] = "diskattachments";
inline constexpr char kNics[] = "nics";
inline constexpr char kCreationStatus[] = "creation_status";
inline constexpr char kActivate[] = "activate";
inline constexpr char kDeactivate[] = "deactivate";
inline constexpr char kMove[] = "move";
inline constexpr char kStart[] = "start";
inline constexpr char kStop[] = "stop";
}  // namespace sub

// One member of a collection; empty when the id is refused or the collection path is empty.
std::string Item(const std::string& collection, const std::string& id);
// A link (href) from an engine answer as a path: only a plain path below the API
// ("/ovirt-engine/api/..." or, on old engines, "/api/...") whose segments are letters, digits,
// '-', '_' and '.' but not "." or "..", without a query or a fragment. Anything else is
// refused (logged) and gives an empty path, as a missing link does.
std::string FromLink(const std::string& href);
// The collection searched for `field` = `value`.
std::string Search(const std::string& collection, const std::string& field,
                   const std::string& value);

// `link` asking the engine to put the objects `links` names inline ("follow", from 4.2 on);
// `links` is the library's own, comma-separated. Empty when `link` is.
std::string Follow(const std::string& link, const char* links);

std::string Vm(const std::string& vmId);
std::string VmAction(const std::string& vmId, const char* action);
std::string VmNics(const std::string& vmId);
std::string VmNic(const std::string& vmId, const std::string& nicId);
std::string VmDisks(const std::string& vmId);
std::string VmDisk(const std::string& vmId, const std::string& diskId);
std::string VmDiskAction(const std::string& vmId, const std::string& diskId,
                         const std::string& action);
std::string VmDiskAttachments(const std::string& vmId);
std::string VmDiskAttachment(const std::string& vmId, const std::string& diskId);
std::string VmSnapshots(const std::string& vmId);
// The snapshots of a VM, for a new one whose engine job is to carry `correlationId`.
std::string VmSnapshotsCorrelated(const std::string& vmId, const std::string& correlationId);
std::string VmSnapshot(const std::string& vmId, const std::string& snapshotId);
std::string VmSnapshotDisks(const std::string& vmId, const std::string& snapshotId);
std::string VmSnapshotDisk(const std::string& vmId, const std::string& snapshotId,
                           const std::string& diskId);

std::string Disk(const std::string& diskId);
std::string DiskMove(const std::string& diskId);
std::string Job(const std::string& jobId);
// The jobs that carry `correlationId`.
std::string JobsCorrelated(const std::string& correlationId);
std::string Tag(const std::string& tagId);

std::string DataCenterNetworks(const std::string& dataCenterId);
std::string DataCenterStorageDomains(const std::string& dataCenterId);
std::string DataCenterStorageDomain(const std::string& dataCenterId, const std::string& domainId);
std::string DataCenterStorageDomainAction(const std::string& dataCenterId,
                                          const std::string& domainId, const char* action);
std::string StorageDomain(const std::string& domainId);
// The removal of a domain through a host that wipes it ("destroy").
std::string StorageDomainDestroy(const std::string& domainId, const std::string& hostName);

}  // namespace paths
}  // namespace Hypervale
