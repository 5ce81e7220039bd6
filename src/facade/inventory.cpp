// Inventory retrieval: the facade's getters and the filling of details the detail mask asks for.
#include <unordered_map>
#include <unordered_set>

#include "facade/detailFlags.h"
#include "facade/guard.h"
#include "facade/rhevNameCache.h"
#include "host/platformInfo.h"
#include "hypervale/hypervale.h"
#include "operations/schemaVersions.h"
#include "queries/resourcePaths.h"
#include "queries/rhevQueries.h"
#include "transport/rhevConnection.h"
#include "xml/followedVm.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace {

// Fixed masks of the inner lookups; they bound how deep details nest.
constexpr UINT64 kDataCentersForHosts = detail::kDataCenterClusters | detail::kDataCenterDomains;
constexpr UINT64 kDataCentersForVms = detail::kDataCenterClusters;
constexpr UINT64 kVmsForStorageDomains = detail::kVmDisks;

// The record's link of that rel as a path; empty when it has none or it is not a plain path of
// the API.
std::string LinkOf(const SBaseResourceInfoLib& record, const std::string& rel) {
  const auto found = record.links.find(rel);
  return found == record.links.end() ? std::string() : paths::FromLink(found->second);
}

template <typename Record, typename Fill>
bool FillEach(std::vector<Record>& list, Fill&& fill) {
  for (Record& record : list) {
    if (!fill(record)) return false;
  }
  return true;
}

}  // namespace

// VMs of the list by the host they run on, in list order.
struct TzHypervale::HostIndex {
  explicit HostIndex(const std::vector<SVMInfoLib>& vms) : vms(vms) {
    for (size_t i = 0; i < vms.size(); ++i) {
      if (!vms[i].hostId.empty()) byHost[vms[i].hostId].push_back(i);
    }
  }
  const std::vector<SVMInfoLib>& vms;
  std::unordered_map<std::string, std::vector<size_t>> byHost;
};

// For each cluster id, the first data center (in list order) holding that cluster.
struct TzHypervale::DataCenterIndex {
  explicit DataCenterIndex(const std::vector<SDataCenterInfoLib>& dataCenters) {
    for (size_t i = 0; i < dataCenters.size(); ++i) {
      for (const auto& cluster : dataCenters[i].clusters) byCluster.emplace(cluster.id, i);
    }
  }
  const SDataCenterInfoLib* find(const std::vector<SDataCenterInfoLib>& dataCenters,
                                 const std::string& clusterId) const {
    const auto found = byCluster.find(clusterId);
    return found == byCluster.end() ? nullptr : &dataCenters[found->second];
  }
  std::unordered_map<std::string, size_t> byCluster;
};

// Getters.

bool TzHypervale::getDataCenterInfo(const std::string& name, const std::string& id,
                                    SDataCenterInfoLib& dc, UINT64 detailFlags) try {
  return queries->getDataCenterInfo(name, id, dc, detailFlags) &&
         FillDataCenterInfoDetails(dc, detailFlags);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getDataCenterInfoList(std::vector<SDataCenterInfoLib>& list,
                                        UINT64 detailFlags) try {
  return queries->getDataCenterInfoList(list, detailFlags) &&
         FillDataCenterInfoListDetails(list, detailFlags);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getClusterInfo(const std::string& name, const std::string& id,
                                 SClusterInfoLib& cluster, UINT64 detailFlags) try {
  return queries->getClusterInfo(name, id, cluster, detailFlags) &&
         FillClusterInfoDetails(cluster, detailFlags);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getClusterInfoList(std::vector<SClusterInfoLib>& list, UINT64 detailFlags) try {
  return queries->getClusterInfoList(list, detailFlags) &&
         FillClusterInfoListDetails(list, detailFlags);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getHostInfo(const std::string& name, const std::string& id, SHostInfoLib& host,
                              UINT64 detailFlags) try {
  return queries->getHostInfo(name, id, host, detailFlags) &&
         FillHostInfoDetails(host, detailFlags);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getHostInfoList(std::vector<SHostInfoLib>& list, UINT64 detailFlags) try {
  return queries->getHostInfoList(list, detailFlags) && FillHostInfoListDetails(list, detailFlags);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getVMInfo(const std::string& name, const std::string& id, SVMInfoLib& vm,
                            UINT64 detailFlags) try {
  const char* follow = FollowForVMs(detailFlags);
  if (follow) {
    // Read into a copy of the caller's record: readers fill a record without clearing it.
    FollowedVm followed{vm, {}};
    if (queries->getFollowedVMInfo(name, id, follow, followed)) {
      vm = std::move(followed.vm);
      std::vector<SDataCenterInfoLib> dataCenters;
      if (!_FillVMInfoDetailsSetup(detailFlags, dataCenters)) return false;
      return FillVMIndexed(vm, detailFlags, dataCenters, DataCenterIndex(dataCenters),
                           &followed.details);
    }
    if (!FollowRefused(follow, id.empty() ? name : id)) return false;
  }
  return queries->getVMInfo(name, id, vm, detailFlags) && FillVMInfoDetails(vm, detailFlags);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getVMInfoList(std::vector<SVMInfoLib>& list, UINT64 detailFlags) try {
  std::vector<FollowedDetails> inlined;
  return ReadVMList(paths::kVms, FollowForVMs(detailFlags), list, inlined) &&
         FillVMListDetails(list, detailFlags, inlined);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getStorageDomainInfo(const std::string& name, const std::string& id,
                                       SStorageDomainInfoLib& domain, UINT64 detailFlags) try {
  return queries->getStorageDomainInfo(name, id, domain, detailFlags) &&
         FillStorageDomainInfoDetails(domain, detailFlags);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getStorageDomainInfoList(std::vector<SStorageDomainInfoLib>& list,
                                           UINT64 detailFlags) try {
  return queries->getStorageDomainInfoList(list, detailFlags) &&
         FillStorageDomainInfoListDetails(list, detailFlags);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

// Data centers and clusters.

bool TzHypervale::FillDataCenterInfoListDetails(std::vector<SDataCenterInfoLib>& list,
                                                UINT64 detailFlags) try {
  return FillEach(
      list, [&](SDataCenterInfoLib& dc) { return FillDataCenterInfoDetails(dc, detailFlags); });
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::FillDataCenterInfoDetails(SDataCenterInfoLib& dc, UINT64 detailFlags) try {
  nameCache->CacheName(dc.id, dc.name);
  if (detailFlags & detail::kDataCenterDomains) {
    if (!queries->getStorageDomainInfoListFromLink(LinkOf(dc, paths::sub::kStorageDomains),
                                                   dc.storageDomains, detailFlags)) {
      return false;
    }
    FillStorageDomainInfoListDetails(dc.storageDomains, detailFlags);
  }
  if (detailFlags & detail::kDataCenterClusters) {
    if (!queries->getClusterInfoListFromLink(LinkOf(dc, paths::sub::kClusters), dc.clusters,
                                             detailFlags)) {
      return false;
    }
    FillClusterInfoListDetails(dc.clusters, detailFlags);
  }
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::FillClusterInfoListDetails(std::vector<SClusterInfoLib>& list,
                                             UINT64 detailFlags) try {
  return FillEach(
      list, [&](SClusterInfoLib& cluster) { return FillClusterInfoDetails(cluster, detailFlags); });
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::FillClusterInfoDetails(SClusterInfoLib& cluster, UINT64 detailFlags) try {
  nameCache->CacheName(cluster.id, cluster.name);
  if (detailFlags & detail::kClusterHosts) {
    if (!queries->getHostInfoListForCluster(cluster.name, cluster.hosts, detailFlags)) return false;
    FillHostInfoListDetails(cluster.hosts, detailFlags);
  }
  if (detailFlags & detail::kClusterVms) {
    std::vector<FollowedDetails> inlined;
    if (!ReadVMList(paths::Search(paths::kVms, "cluster", cluster.name), FollowForVMs(detailFlags),
                    cluster.vms, inlined)) {
      return false;
    }
    FillVMListDetails(cluster.vms, detailFlags, inlined);
  }
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

// Hosts.

bool TzHypervale::FillHostInfoListDetails(std::vector<SHostInfoLib>& list, UINT64 detailFlags) try {
  std::vector<SVMInfoLib> vms;
  std::vector<SDataCenterInfoLib> dataCenters;
  if (!_FillHostInfoDetailsSetup(detailFlags, vms, dataCenters)) return false;
  const HostIndex vmsByHost(vms);
  const DataCenterIndex dataCenterByCluster(dataCenters);
  return FillEach(list, [&](SHostInfoLib& host) {
    return FillHostIndexed(host, detailFlags, vmsByHost, dataCenters, dataCenterByCluster);
  });
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::FillHostInfoDetails(SHostInfoLib& host, UINT64 detailFlags) try {
  std::vector<SVMInfoLib> vms;
  std::vector<SDataCenterInfoLib> dataCenters;
  if (!_FillHostInfoDetailsSetup(detailFlags, vms, dataCenters)) return false;
  return _FillHostInfoDetails(host, detailFlags, vms, dataCenters);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::_FillHostInfoDetailsSetup(UINT64 detailFlags, std::vector<SVMInfoLib>& vms,
                                            std::vector<SDataCenterInfoLib>& dataCenters) try {
  if ((detailFlags & detail::kHostVms) && !getVMInfoList(vms, detailFlags)) return false;
  if (detailFlags & detail::kHostDataCenter) {
    if (!queries->getDataCenterInfoList(dataCenters, kDataCentersForHosts)) return false;
    if (!FillDataCenterInfoListDetails(dataCenters, kDataCentersForHosts)) return false;
  }
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::_FillHostInfoDetails(SHostInfoLib& host, UINT64 detailFlags,
                                       std::vector<SVMInfoLib>& vms,
                                       std::vector<SDataCenterInfoLib>& dataCenters) try {
  return FillHostIndexed(host, detailFlags, HostIndex(vms), dataCenters,
                         DataCenterIndex(dataCenters));
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::FillHostIndexed(SHostInfoLib& host, UINT64 detailFlags,
                                  const HostIndex& vmsByHost,
                                  const std::vector<SDataCenterInfoLib>& dataCenters,
                                  const DataCenterIndex& dataCenterByCluster) {
  nameCache->CacheName(host.id, host.name);
  if (!host.clusterId.empty() && host.clusterName.empty()) {
    host.clusterName = nameCache->GetClusterName(host.clusterId);
  }
  if (detailFlags & detail::kHostVms) {
    const auto found = vmsByHost.byHost.find(host.id);
    if (!host.id.empty() && found != vmsByHost.byHost.end()) {
      for (const size_t i : found->second) host.vms.push_back(vmsByHost.vms[i]);
    }
  }
  if (const SDataCenterInfoLib* dc = dataCenterByCluster.find(dataCenters, host.clusterId)) {
    host.storageDomains = dc->storageDomains;
    host.dataCenterId = dc->id;
    host.dataCenterName = dc->name;
  }
  if (detailFlags & detail::kHostVnicProfiles) {
    return _FillVnicProfileInfoDetails(host.dataCenterId, host.vnicProfiles, detailFlags);
  }
  return true;
}

bool TzHypervale::_FillVnicProfileInfoDetails(const std::string& dataCenterId,
                                              std::vector<SVnicProfileInfoLib>& profiles,
                                              UINT64 detailFlags) try {
  std::vector<SNetworkInfoLib> networks;
  if (!queries->getNetworkInfoList(dataCenterId, networks, detailFlags) || networks.empty()) {
    return false;
  }
  std::vector<SVnicProfileInfoLib> all;
  if (!queries->getVnicProfileInfoList(all, 0) || all.empty()) return false;
  std::unordered_set<std::string> networkIds;
  for (const auto& network : networks) networkIds.insert(network.id);
  for (const auto& profile : all) {
    if (networkIds.count(profile.networkId)) profiles.push_back(profile);
  }
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

// VMs and disks.

bool TzHypervale::FillVMInfoListDetails(std::vector<SVMInfoLib>& list, UINT64 detailFlags) try {
  std::vector<FollowedDetails> none;
  return FillVMListDetails(list, detailFlags, none);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::FillVMListDetails(std::vector<SVMInfoLib>& list, UINT64 detailFlags,
                                    std::vector<FollowedDetails>& inlined) {
  std::vector<SDataCenterInfoLib> dataCenters;
  if (!_FillVMInfoDetailsSetup(detailFlags, dataCenters)) return false;
  const DataCenterIndex dataCenterByCluster(dataCenters);
  const size_t firstInlined = list.size() - std::min(inlined.size(), list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    FollowedDetails* details = i >= firstInlined ? &inlined[i - firstInlined] : nullptr;
    if (!FillVMIndexed(list[i], detailFlags, dataCenters, dataCenterByCluster, details)) {
      return false;
    }
  }
  return true;
}

const char* TzHypervale::FollowForVMs(UINT64 detailFlags) const {
  const bool disks = (detailFlags & detail::kVmDisks) != 0;
  const bool snapshots = (detailFlags & detail::kVmSnapshots) != 0;
  if (!disks && !snapshots) return nullptr;
  if (parser->getSchemaVersion() < schema::kFollow || connection->getApiVersion() == "3") {
    return nullptr;
  }
  unsigned long enabled = 1;
  TzPlatformInfo().getNumber("VirtualServer", "nRhevFollowLinks", &enabled);
  if (enabled == 0) return nullptr;
  if (disks && snapshots) return "disk_attachments.disk,snapshots";
  return disks ? "disk_attachments.disk" : "snapshots";
}

bool TzHypervale::FollowRefused(const char* follow, const std::string& what) {
  // Told by the status of that very answer: a code left by an older failure proves nothing.
  if (connection->getLastStatus() != 400) return false;
  Error(HV_FUNC,
        "Warning: the engine refused to follow [%s] for [%s]; reading the details one request "
        "at a time",
        follow, what.c_str());
  return true;
}

bool TzHypervale::ReadVMList(const std::string& link, const char* follow,
                             std::vector<SVMInfoLib>& list, std::vector<FollowedDetails>& inlined) {
  if (follow) {
    std::vector<FollowedVm> followed;
    if (queries->getFollowedVMInfoListFromLink(link, follow, followed)) {
      list.reserve(list.size() + followed.size());
      inlined.reserve(followed.size());
      for (FollowedVm& each : followed) {
        list.push_back(std::move(each.vm));
        inlined.push_back(std::move(each.details));
      }
      return true;
    }
    if (!FollowRefused(follow, link)) return false;
  }
  return queries->getVMInfoListFromLink(link, list, 0);
}

bool TzHypervale::FillVMInfoDetails(SVMInfoLib& vm, UINT64 detailFlags) try {
  std::vector<SDataCenterInfoLib> dataCenters;
  if (!_FillVMInfoDetailsSetup(detailFlags, dataCenters)) return false;
  return _FillVMInfoDetails(vm, detailFlags, dataCenters);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::_FillVMInfoDetailsSetup(UINT64 detailFlags,
                                          std::vector<SDataCenterInfoLib>& dataCenters) try {
  if (!(detailFlags & detail::kVmDataCenter)) return true;
  return getDataCenterInfoList(dataCenters, kDataCentersForVms);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::_FillVMInfoDetails(SVMInfoLib& vm, UINT64 detailFlags,
                                     std::vector<SDataCenterInfoLib>& dataCenters) try {
  return FillVMIndexed(vm, detailFlags, dataCenters, DataCenterIndex(dataCenters));
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::FillVMIndexed(SVMInfoLib& vm, UINT64 detailFlags,
                                const std::vector<SDataCenterInfoLib>& dataCenters,
                                const DataCenterIndex& dataCenterByCluster,
                                FollowedDetails* inlined) {
  if (!vm.hostId.empty() && vm.hostName.empty()) vm.hostName = nameCache->GetHostName(vm.hostId);
  if (!vm.clusterId.empty() && vm.clusterName.empty()) {
    vm.clusterName = nameCache->GetClusterName(vm.clusterId);
  }
  if (const SDataCenterInfoLib* dc = dataCenterByCluster.find(dataCenters, vm.clusterId)) {
    vm.dataCenterId = dc->id;
    vm.dataCenterName = dc->name;
  }
  if (detailFlags & detail::kVmDisks) {
    const std::string disksLink = LinkOf(vm, paths::sub::kDisks);
    if (!disksLink.empty()) {
      // API v3: the VM lists its disks itself.
      if (!queries->getDiskInfoListFromLink(disksLink, vm.disks, detailFlags)) return false;
    } else if (inlined && inlined->hasAttachments) {
      AddAttachedDisks(vm, *inlined, detailFlags);
    } else {
      std::vector<SDiskAttachmentInfoLib> attachments;
      if (!queries->getDiskAttachmentInfoListFromLink(LinkOf(vm, paths::sub::kDiskAttachments),
                                                      attachments, detailFlags)) {
        return false;
      }
      FollowedDetails attached;
      for (auto& attachment : attachments)
        attached.disks.push_back({std::move(attachment), false, {}});
      AddAttachedDisks(vm, attached, detailFlags);
    }
    FillDiskInfoListDetails(vm.disks, detailFlags);
  }
  if (detailFlags & detail::kVmSnapshots) {
    if (inlined && inlined->hasSnapshots) {
      vm.snapshots.insert(vm.snapshots.end(), std::make_move_iterator(inlined->snapshots.begin()),
                          std::make_move_iterator(inlined->snapshots.end()));
      return true;
    }
    return queries->getSnapshotInfoListFromLink(LinkOf(vm, paths::sub::kSnapshots), vm.snapshots,
                                                detailFlags);
  }
  return true;
}

void TzHypervale::AddAttachedDisks(SVMInfoLib& vm, FollowedDetails& attached, UINT64 detailFlags) {
  for (FollowedDisk& each : attached.disks) {
    SDiskInfoLib disk;
    // A disk that cannot be read still counts, with what its attachment says.
    const std::string diskLink = paths::FromLink(each.attachment.diskHref);
    if (!diskLink.empty()) {
      if (each.diskInline) {
        disk = std::move(each.disk);
      } else {
        queries->getDiskInfoFromLink(diskLink, disk, detailFlags);
      }
    }
    CopyDiskAttachmentInfoToDiskInfo(disk, each.attachment);
    vm.disks.push_back(std::move(disk));
  }
}

void TzHypervale::CopyDiskAttachmentInfoToDiskInfo(SDiskInfoLib& disk,
                                                   SDiskAttachmentInfoLib& attachment) {
  disk.interface = attachment.interface;
  disk.bootable = attachment.bootable;
  disk.active = attachment.active;
}

bool TzHypervale::FillDiskInfoListDetails(std::vector<SDiskInfoLib>& list, UINT64 detailFlags) try {
  return FillEach(list, [&](SDiskInfoLib& disk) { return FillDiskInfoDetails(disk, detailFlags); });
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::FillDiskInfoDetails(SDiskInfoLib& disk, UINT64 /*detailFlags*/) try {
  if (!disk.storageDomainId.empty() && disk.storageDomainName.empty()) {
    disk.storageDomainName = nameCache->GetStorageDomainName(disk.storageDomainId);
  }
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

// Storage domains.

bool TzHypervale::FillStorageDomainInfoListDetails(std::vector<SStorageDomainInfoLib>& list,
                                                   UINT64 detailFlags) try {
  std::vector<SVMInfoLib> vms;
  if ((detailFlags & detail::kDomainUsers) && !getVMInfoList(vms, kVmsForStorageDomains))
    return false;
  return FillEach(list, [&](SStorageDomainInfoLib& domain) {
    return _FillStorageDomainInfoDetails(domain, detailFlags, vms);
  });
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::FillStorageDomainInfoDetails(SStorageDomainInfoLib& domain,
                                               UINT64 detailFlags) try {
  if (!(detailFlags & detail::kDomainUsers)) return true;
  std::vector<SVMInfoLib> vms;
  return _FillStorageDomainInfoDetails(domain, detailFlags, vms);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::_FillStorageDomainInfoDetails(SStorageDomainInfoLib& domain, UINT64 detailFlags,
                                                std::vector<SVMInfoLib>& vms) try {
  nameCache->CacheName(domain.id, domain.name);
  if (!(detailFlags & detail::kDomainUsers)) return true;
  if (domain.links.find(paths::sub::kDisks) == domain.links.end()) return true;
  if (!queries->getDiskInfoListFromLink(LinkOf(domain, paths::sub::kDisks), domain.disks,
                                        detailFlags)) {
    return false;
  }
  if (vms.empty() && !getVMInfoList(vms, kVmsForStorageDomains)) return false;
  std::unordered_set<std::string> diskIds;
  for (const auto& disk : domain.disks) diskIds.insert(disk.id);
  for (const auto& vm : vms) {
    for (const auto& disk : vm.disks) {
      if (diskIds.count(disk.id)) {
        domain.vms.push_back(vm);
        break;
      }
    }
  }
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

// Jobs, snapshots and tags.

bool TzHypervale::getJobInfo(const std::string& jobId, SJobInfoLib& job, UINT64 detailFlags) try {
  return queries->getJobInfo(jobId, job, detailFlags);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getSnapshotInfo(const std::string& vmId, SSnapshotInfoLib& snapshot,
                                  UINT64 detailFlags) try {
  if (queries->getSnapshotInfo(vmId, snapshot, detailFlags)) return true;
  Error(HV_FUNC, "Failed to obtain snapshot info for VM Id [%s]", vmId.c_str());
  return false;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::checkTagsSupported() { return parser->getSchemaVersion() >= schema::kApiV4; }

bool TzHypervale::getTagInfoList(std::vector<STagInfoLib>& list) try {
  return queries->getTagInfoList(list);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getVMInfoListForTag(const std::string& tagName, const std::string& tagId,
                                      std::vector<SVMInfoLib>& vms, UINT64 detailFlags) try {
  STagInfoLib tag;
  tag.name = tagName;
  tag.id = tagId;
  if (tagName.empty() && !tagId.empty() && !queries->getTagInfo(tagId, tag)) return false;
  std::vector<FollowedDetails> inlined;
  const bool vmsFound = ReadVMList(paths::Search(paths::kVms, "tag", tag.name),
                                   FollowForVMs(detailFlags), vms, inlined);
  std::vector<SHostInfoLib> hosts;
  const bool hostsFound = queries->getHostInfoListForTag(tag, hosts, detailFlags);
  if (!vmsFound && !hostsFound) return false;
  if (!vms.empty()) FillVMListDetails(vms, detailFlags, inlined);
  if (!hosts.empty()) {
    FillHostInfoListDetails(hosts, detailFlags | detail::kHostVms);
    for (const auto& host : hosts) vms.insert(vms.end(), host.vms.begin(), host.vms.end());
  }
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

}  // namespace Hypervale
