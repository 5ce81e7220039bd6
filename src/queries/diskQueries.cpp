// Disk, disk attachment, snapshot, job, tag, network and vNIC profile queries.
#include <utility>

#include "host/ubSleep.h"
#include "queries/fetchAndParse.h"
#include "queries/resourcePaths.h"
#include "queries/rhevQueries.h"

namespace Hypervale {
namespace {

const char kAllContentHeader[] = "All-Content: true";
const int kLogicalNameTries = 15;

}  // namespace

bool TzRhevQueries::getDiskInfo(const std::string& diskId, SDiskInfoLib& disk, UINT64 detailFlags) {
  if (diskId.empty()) {
    Error(HV_FUNC, "Must pass diskId");
    return false;
  }
  if (!getDiskInfoFromLink(paths::Disk(diskId), disk, detailFlags)) {
    Error(HV_FUNC, "Failed to getDiskInfoFromLink");
    return false;
  }
  return true;
}

bool TzRhevQueries::getDiskInfoListForVM(const std::string& vmId, std::vector<SDiskInfoLib>& list,
                                         UINT64 detailFlags) {
  return getDiskInfoListFromLink(paths::VmDisks(vmId), list, detailFlags);
}

bool TzRhevQueries::getDiskInfoListForSnapshot(const std::string& vmId,
                                               const std::string& snapshotId,
                                               std::vector<SDiskInfoLib>& list,
                                               UINT64 detailFlags) {
  return getDiskInfoListFromLink(paths::VmSnapshotDisks(vmId, snapshotId), list, detailFlags);
}

bool TzRhevQueries::getDiskInfoListFromLink(const std::string& link,
                                            std::vector<SDiskInfoLib>& list,
                                            UINT64 /*detailFlags*/) {
  return FetchAndParse(link, list, &TzRhevParser::parseDiskInfoList);
}

bool TzRhevQueries::getDiskInfoFromLink(const std::string& link, SDiskInfoLib& disk,
                                        UINT64 /*detailFlags*/) {
  return FetchAndParse(link, disk, &TzRhevParser::parseDiskInfo);
}

bool TzRhevQueries::getDiskAttachmentInfoListForVM(const std::string& vmId,
                                                   std::vector<SDiskAttachmentInfoLib>& list,
                                                   UINT64 detailFlags) {
  return getDiskAttachmentInfoListFromLink(paths::VmDiskAttachments(vmId), list, detailFlags);
}

bool TzRhevQueries::getDiskAttachmentInfoForVM(const std::string& vmId, const std::string& diskId,
                                               SDiskAttachmentInfoLib& attachment,
                                               UINT64 detailFlags) {
  return getDiskAttachmentInfoFromLink(paths::VmDiskAttachment(vmId, diskId), attachment,
                                       detailFlags);
}

bool TzRhevQueries::getDiskAttachmentInfoFromLink(const std::string& link,
                                                  SDiskAttachmentInfoLib& attachment,
                                                  UINT64 /*detailFlags*/) {
  return FetchAndParse(link, attachment, &TzRhevParser::parseDiskAttachmentInfo);
}

bool TzRhevQueries::getDiskAttachmentInfoListFromLink(const std::string& link,
                                                      std::vector<SDiskAttachmentInfoLib>& list,
                                                      UINT64 /*detailFlags*/) {
  return FetchAndParse(link, list, &TzRhevParser::parseDiskAttachmentInfoList);
}

bool TzRhevQueries::getSnapshotInfoList(const std::string& vmId,
                                        std::vector<SSnapshotInfoLib>& list, UINT64 detailFlags) {
  if (vmId.empty()) {
    Error(HV_FUNC, "Must pass vm id");
    return false;
  }
  return getSnapshotInfoListFromLink(paths::VmSnapshots(vmId), list, detailFlags);
}

bool TzRhevQueries::getSnapshotInfoListFromLink(const std::string& link,
                                                std::vector<SSnapshotInfoLib>& list,
                                                UINT64 /*detailFlags*/) {
  return FetchAndParse(link, list, &TzRhevParser::parseSnapshotInfoList);
}

bool TzRhevQueries::getAllContentFromLink(const std::string& link, std::string& response,
                                          bool reportErrors) {
  return FetchLink(link, response, reportErrors, kAllContentHeader) == Lookup::kFound;
}

bool TzRhevQueries::getSnapshotInfo(const std::string& vmId, SSnapshotInfoLib& snapshot,
                                    UINT64 /*detailFlags*/) {
  const std::string link = paths::VmSnapshot(vmId, snapshot.id);
  // Asked with all content: without it the answer lacks the OVF that a backup keeps.
  std::string response;
  return getAllContentFromLink(link, response, true) &&
         parser->parseSnapshotInfo(response, snapshot);
}

bool TzRhevQueries::ReadDiskOfVM(const std::string& vmId, const std::string& diskId,
                                 bool& viaAttachment, SDiskInfoLib& disk) {
  std::string body;
  if (!viaAttachment) {
    const Lookup read =
        FetchRecord(paths::VmDisk(vmId, diskId), body, disk, &TzRhevParser::parseDiskInfo, true);
    if (read != Lookup::kNotFound) return read == Lookup::kFound;
  }
  // Engines from 4.1 on serve no "disks" sub-collection under a VM; the VM's attachment of
  // the disk carries the device name, the interface and the flags under the disk's names.
  const std::string link = paths::VmDiskAttachment(vmId, diskId);
  if (!getFromLink(link, body, true)) return false;
  if (!viaAttachment) {
    Debug(HV_FUNC, "VM [%s] has no disks sub-collection; reading disk [%s] through [%s]",
          vmId.c_str(), diskId.c_str(), link.c_str());
    viaAttachment = true;
  }
  return parser->ParseObject(body, "disk_attachment", disk, true);
}

bool TzRhevQueries::getDiskInfoFromVMInfo(const std::string& vmId, const std::string& diskId,
                                          SDiskInfoLib& disk, UINT64 /*detailFlags*/) {
  if (vmId.empty()) {
    Error(HV_FUNC, "Must pass VMId");
    return false;
  }
  if (diskId.empty()) {
    Error(HV_FUNC, "Must pass diskId");
    return false;
  }
  Debug(HV_FUNC, "getDiskInfoFromVMInfo url: [%s]", paths::VmDisk(vmId, diskId).c_str());
  bool viaAttachment = false;
  for (int attempt = 1; attempt <= kLogicalNameTries; ++attempt) {
    // Only a name read now counts: the caller's record may hold the name the disk has in
    // another VM (the source VM's "/dev/vda" is the proxy's own boot disk).
    SDiskInfoLib read = disk;
    read.logicalName.clear();
    if (ReadDiskOfVM(vmId, diskId, viaAttachment, read) && !read.logicalName.empty()) {
      disk = std::move(read);
      Debug(HV_FUNC, "Got logical name [%s] for disk ID [%s]", disk.logicalName.c_str(),
            diskId.c_str());
      return true;
    }
    // The guest agent reports device names late; back off 2 s, 4 s, ... 128 s, then 1 s again.
    UBSLEEP(1000UL << (attempt % 8), __FILE__, __LINE__);
  }
  Error(HV_FUNC, "Failed to getDiskInfoFromLink");
  return false;
}

bool TzRhevQueries::getJobInfo(const std::string& jobId, SJobInfoLib& job, UINT64 /*detailFlags*/) {
  return FetchAndParse(paths::Job(jobId), job, &TzRhevParser::parseJobInfo);
}

bool TzRhevQueries::getTagInfo(const std::string& tagId, STagInfoLib& tag) {
  return FetchAndParse(paths::Tag(tagId), tag, &TzRhevParser::parseTagInfo);
}

bool TzRhevQueries::getTagInfoList(std::vector<STagInfoLib>& list) {
  return FetchAndParse(paths::kTags, list, &TzRhevParser::parseTagInfoList);
}

bool TzRhevQueries::getNetworkInfoList(const std::string& dataCenterId,
                                       std::vector<SNetworkInfoLib>& list, UINT64 detailFlags) {
  const std::string link = dataCenterId.empty() ? std::string(paths::kNetworks)
                                                : paths::DataCenterNetworks(dataCenterId);
  return getNetworkInfoListFromLink(link, list, detailFlags);
}

bool TzRhevQueries::getNetworkInfoListFromLink(const std::string& link,
                                               std::vector<SNetworkInfoLib>& list,
                                               UINT64 /*detailFlags*/) {
  return FetchAndParse(link, list, &TzRhevParser::parseNetworkInfoList);
}

bool TzRhevQueries::getVnicProfileInfoList(std::vector<SVnicProfileInfoLib>& list,
                                           UINT64 /*detailFlags*/) {
  return getVnicProfileInfoListFromLink(paths::kVnicProfiles, list);
}

bool TzRhevQueries::getVnicProfileInfoListFromLink(const std::string& link,
                                                   std::vector<SVnicProfileInfoLib>& list) {
  return FetchAndParse(link, list, &TzRhevParser::parseVnicProfileInfoList);
}

}  // namespace Hypervale
