// Backup and restore procedures: snapshots, the disks of a VM or a snapshot, attaching them
// to a proxy VM and detaching them again, VM and disk creation, power changes.
#include <algorithm>
#include <boost/regex.hpp>

#include "facade/detailFlags.h"
#include "facade/guard.h"
#include "hypervale/hypervale.h"
#include "operations/rhevOperations.h"
#include "operations/schemaVersions.h"
#include "queries/resourcePaths.h"
#include "queries/rhevQueries.h"
#include "xml/followedVm.h"
#include "xml/rhevParser.h"

namespace Hypervale {

enum class TzHypervale::DiskPresence { kAttached, kNotAttached, kUnknown };

bool TzHypervale::getLogicalDiskName(const std::string& vmId, const std::string& diskId,
                                     SDiskInfoLib& disk) try {
  if (!queries->getDiskInfoFromVMInfo(vmId, diskId, disk, detail::kAll)) {
    Error(HV_FUNC, "Failed to obtain disk Info after attaching [%s] to [%s]", diskId.c_str(),
          vmId.c_str());
    return false;
  }
  Debug(HV_FUNC, "disk [%s] and snapshot id [%s] to VM id [%s] with logical name [%s]",
        diskId.c_str(), disk.snapshotId.c_str(), vmId.c_str(), disk.logicalName.c_str());
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::getDiskInfo(const std::string& diskId, SDiskInfoLib& disk) try {
  if (!queries->getDiskInfo(diskId, disk, detail::kAll)) {
    Error(HV_FUNC, "Failed to obtain disk info for diskId [%s]", diskId.c_str());
    return false;
  }
  DebugLvl(HV_FUNC, 4, "Obtained diskInfo for id [%s] successfully", diskId.c_str());
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::ReadAttachmentInto(const std::string& vmId, const std::string& diskId,
                                     SDiskInfoLib& disk) {
  SDiskAttachmentInfoLib attachment;
  if (!queries->getDiskAttachmentInfoForVM(vmId, diskId, attachment, 0)) return false;
  CopyDiskAttachmentInfoToDiskInfo(disk, attachment);
  return true;
}

bool TzHypervale::getDiskInfoForVM(const std::string& vmId, const std::string& diskId,
                                   SDiskInfoLib& disk) try {
  const bool attachments = parser->getSchemaVersion() >= schema::kDiskAttachments;
  if (!disk.snapshotId.empty()) {
    const std::string link = paths::VmSnapshotDisk(vmId, disk.snapshotId, diskId);
    Debug(HV_FUNC, "getDiskInfoForVM from snapshot url: [%s]", link.c_str());
    if (!queries->getDiskInfoFromLink(link, disk, detail::kAll)) {
      Error(HV_FUNC, "Failed to obtain disk info for diskId [%s] of VM[%s]", diskId.c_str(),
            vmId.c_str());
      return false;
    }
    return !attachments || ReadAttachmentInto(vmId, diskId, disk);
  }
  if (attachments && FollowForVMs(detail::kVmDisks)) {
    // One request for the disk and its attachment; whatever goes wrong, the two reads below
    // decide and report as they always have.
    FollowedDisk attached{{}, false, disk};
    if (queries->getFollowedDiskAttachment(vmId, diskId, attached) && attached.diskInline &&
        attached.disk.id == diskId) {
      disk = std::move(attached.disk);
      CopyDiskAttachmentInfoToDiskInfo(disk, attached.attachment);
      return true;
    }
  }
  if (attachments) return getDiskInfo(diskId, disk) && ReadAttachmentInto(vmId, diskId, disk);
  const std::string link = paths::VmDisk(vmId, diskId);
  Debug(HV_FUNC, "getDiskInfoForVM url: [%s]", link.c_str());
  if (!queries->getDiskInfoFromLink(link, disk, detail::kAll)) {
    Error(HV_FUNC, "Failed to obtain disk info for diskId [%s] of VM[%s]", diskId.c_str(),
          vmId.c_str());
    return false;
  }
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::updateOVF(std::string& ovf) {
  static const boost::regex kTemplateId("<TemplateId>[A-Za-z0-9-]*</TemplateId>",
                                        boost::regex::perl);
  try {
    ovf = boost::regex_replace(
        ovf, kTemplateId, "<TemplateId>00000000-0000-0000-0000-000000000000</TemplateId>",
        boost::regex_constants::format_first_only | boost::regex_constants::format_literal);
  } catch (const std::exception& e) {
    // A pathological text may exhaust the matcher; the OVF is then sent as it came.
    Error(HV_FUNC, "Failed to replace the template id of the OVF: %s", e.what());
  }
  return true;
}

bool TzHypervale::createVM(SVMInfoLib& vm, const std::string& ovf) try {
  if (!ovf.empty()) {
    vm.ovfData = ovf;
    updateOVF(vm.ovfData);
  }
  return createVM(vm);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::createVM(SVMInfoLib& vm) try {
  if (!operations->createVM(vm)) {
    Error(HV_FUNC, "Failed to createVM");
    return false;
  }
  Debug(HV_FUNC, "CreateVM successful");
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::deleteVM(const std::string& vmName, const std::string& vmId) try {
  if (!operations->deleteVM(vmName, vmId)) {
    Error(HV_FUNC, "Failed to delete VM");
    return false;
  }
  Debug(HV_FUNC, "VM [%s] deleted successfully", vmId.c_str());
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::createVMSnapshot(SVMInfoLib& vm, SSnapshotInfoLib& snapshot,
                                   std::string& ovf) try {
  if (isVMLocked(vm.id)) {
    Error(HV_FUNC,
          "One of the snapshot of the VM [%s] is in locked state. Can't create a new snapshot.",
          vm.id.c_str());
    return false;
  }
  if (!operations->createVMSnapshot(vm, snapshot)) {
    Error(HV_FUNC, "Failed to create regular VM Snapshot");
    return false;
  }
  // A backup without the VM's configuration cannot be restored.
  if (snapshot.ovfData.empty()) {
    Error(HV_FUNC, "Snapshot [%s] of VM [%s] came without its VM configuration (OVF)",
          snapshot.id.c_str(), vm.id.c_str());
    return false;
  }
  Debug(HV_FUNC, "CreateVM Snapshot successful");
  ovf = snapshot.ovfData;
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::createVMSnapshot(const std::string& vmName, const std::string& vmId,
                                   const std::string& description, std::string& snapshotId) try {
  return operations->createVMSnapshot(vmName, vmId, description, snapshotId);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::deleteVMSnapshot(const std::string& vmName, const std::string& vmId,
                                   const std::string& snapshotId) try {
  if (snapshotId.empty()) {
    Error(HV_FUNC, "Snapshot can't be empty for deletion");
    return false;
  }
  if (isVMLocked(vmId)) {
    Error(HV_FUNC,
          "One of the snapshot of the VM [%s] is in locked state. Can't delete snapshot [%s]",
          vmId.c_str(), snapshotId.c_str());
    return false;
  }
  return operations->deleteVMSnapshot(vmName, vmId, snapshotId);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::deleteVMSnapshot(const SVMInfoLib& vm, const SSnapshotInfoLib& snapshot,
                                   bool& conflict) try {
  if (snapshot.id.empty()) {
    Error(HV_FUNC, "Snapshot can't be empty for deletion");
    return false;
  }
  // Only a 409 to this call's own requests counts, never one left from an earlier call.
  return operations->deleteVMSnapshot(vm.name, vm.id, snapshot.id, conflict);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::isVMLocked(const std::string& vmId) try {
  SVMInfoLib vm;
  // A VM that cannot be read has no snapshots and so counts as not locked.
  getVMInfo("", vmId, vm, detail::kVmSnapshots);
  for (const auto& snapshot : vm.snapshots) {
    if (snapshot.snapshotStatus == "locked") {
      Debug(HV_FUNC, "Status of snapshot [%s][%s] is [%s] for VM [%s]",
            snapshot.description.c_str(), snapshot.id.c_str(), snapshot.snapshotStatus.c_str(),
            vmId.c_str());
      return true;
    }
  }
  return false;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::checkVMExistence(const std::string& vmId) try {
  return queries->checkExistence(paths::Vm(vmId));
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::checkDiskExistence(const std::string& diskId) try {
  return queries->checkExistence(paths::Disk(diskId));
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::checkSnapshotExistence(const std::string& vmId,
                                         const std::string& snapshotId) try {
  return queries->checkExistence(paths::VmSnapshot(vmId, snapshotId));
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::attachDisk(const std::string& vmId, const SDiskInfoLib& disk, bool active,
                             bool bootable, bool readOnly) try {
  if (parser->getSchemaVersion() < schema::kDiskAttachments) {
    return operations->attachDisk(vmId, disk, active, bootable, readOnly);
  }
  switch (ReadDiskPresence(vmId, disk.id)) {
    case DiskPresence::kAttached:
      Error(HV_FUNC, "Disk [%s] is already attached to VM [%s]", disk.id.c_str(), vmId.c_str());
      return false;
    case DiskPresence::kUnknown:
      Error(HV_FUNC, "Cannot tell whether disk [%s] is attached to VM [%s]; not attaching it",
            disk.id.c_str(), vmId.c_str());
      return false;
    case DiskPresence::kNotAttached:
      break;
  }
  if (operations->attachDisk(vmId, disk, active, bootable, readOnly)) return true;
  // The engine may have carried the attach out although the request reported failure.
  return ReadDiskPresence(vmId, disk.id) == DiskPresence::kAttached;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::detachDisk(const std::string& vmId, const SDiskInfoLib& disk) try {
  if (operations->detachDisk(vmId, disk)) {
    Debug(HV_FUNC, "Disk [%s] is detached successfully", disk.id.c_str());
    return true;
  }
  if (parser->getSchemaVersion() < schema::kDiskAttachments) return false;
  // A disk the VM no longer lists is detached, whatever the request reported; a list that
  // could not be read proves nothing.
  switch (ReadDiskPresence(vmId, disk.id)) {
    case DiskPresence::kNotAttached:
      return true;
    case DiskPresence::kUnknown:
      Error(HV_FUNC, "Cannot tell whether disk [%s] was detached from VM [%s]", disk.id.c_str(),
            vmId.c_str());
      return false;
    case DiskPresence::kAttached:
      break;
  }
  return false;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::AttachedDiskIds(const std::string& vmId, std::vector<std::string>& diskIds) {
  // Engines before 4.0.2 are addressed in the older form, where a VM lists its disks itself
  // and has no disk attachments to ask for.
  if (parser->getSchemaVersion() < schema::kDiskAttachments) {
    std::vector<SDiskInfoLib> disks;
    if (!queries->getDiskInfoListForVM(vmId, disks, detail::kVmDisks)) return false;
    for (const auto& disk : disks) diskIds.push_back(disk.id);
    return true;
  }
  std::vector<SDiskAttachmentInfoLib> attachments;
  if (!queries->getDiskAttachmentInfoListForVM(vmId, attachments, detail::kVmDisks)) return false;
  for (const auto& attachment : attachments) diskIds.push_back(attachment.diskId);
  return true;
}

TzHypervale::DiskPresence TzHypervale::ReadDiskPresence(const std::string& vmId,
                                                        const std::string& diskId) {
  std::vector<std::string> attached;
  if (!AttachedDiskIds(vmId, attached)) {
    Error(HV_FUNC, "Failed to get disk list of VM [%s]", vmId.c_str());
    return DiskPresence::kUnknown;
  }
  if (attached.empty()) {
    Error(HV_FUNC, "No disks attached to VM [%s]", vmId.c_str());
    return DiskPresence::kNotAttached;
  }
  if (std::find(attached.begin(), attached.end(), diskId) != attached.end()) {
    Debug(HV_FUNC, "Disk [%s] found attached to VM [%s]", diskId.c_str(), vmId.c_str());
    return DiskPresence::kAttached;
  }
  Debug(HV_FUNC, "Disk [%s] found not attached to VM [%s]", diskId.c_str(), vmId.c_str());
  return DiskPresence::kNotAttached;
}

bool TzHypervale::IsDiskAttached(const std::string& vmId, const std::string& diskId) try {
  return ReadDiskPresence(vmId, diskId) == DiskPresence::kAttached;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::DetachSnappedDisksFromProxy(const std::string& proxyVmId, const std::string& vmId,
                                              const std::string& snapshotId) try {
  Debug(HV_FUNC, "Detaching disks of snapshot [%s] of VM [%s] from proxy: [%s]", snapshotId.c_str(),
        vmId.c_str(), proxyVmId.c_str());
  std::vector<SDiskInfoLib> snapshotDisks;
  if (!queries->getDiskInfoListForSnapshot(vmId, snapshotId, snapshotDisks, detail::kVmDisks)) {
    Error(HV_FUNC, "Failed to get disk list of snapshot [%s]", snapshotId.c_str());
    return false;
  }
  std::vector<std::string> attached;
  if (!AttachedDiskIds(proxyVmId, attached)) {
    Error(HV_FUNC, "Failed to get disk list of VM [%s]", proxyVmId.c_str());
    return false;
  }
  if (attached.empty()) {
    Error(HV_FUNC, "No disks attached to VM [%s]", proxyVmId.c_str());
    return false;
  }
  for (const auto& snapshotDisk : snapshotDisks) {
    for (const auto& attachedId : attached) {
      if (attachedId != snapshotDisk.id) continue;
      Debug(HV_FUNC, "Disk [%s] found to be attached to [%s], hence detaching",
            snapshotDisk.id.c_str(), proxyVmId.c_str());
      SDiskInfoLib disk;
      disk.id = snapshotDisk.id;
      if (!detachDisk(proxyVmId, disk)) {
        Error(HV_FUNC, "Failed to detach disk [%s] from [%s]", snapshotDisk.id.c_str(),
              proxyVmId.c_str());
        return false;
      }
    }
  }
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::createDisk(SDiskInfoLib& disk) try {
  if (!operations->createDisk(disk)) {
    Error(HV_FUNC, "Failed to create Disk");
    return false;
  }
  Debug(HV_FUNC, "CreateDisk successful");
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::deleteDisk(SDiskInfoLib& disk) try {
  if (!operations->deleteDisk(disk.id)) {
    Error(HV_FUNC, "Failed to delete Disk");
    return false;
  }
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::updateDisk(const std::string& vmId, const SDiskInfoLib& disk) try {
  if (!operations->updateDisk(vmId, disk)) return false;
  Debug(HV_FUNC, "updateDisk successful");
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::changePowerState(SVMInfoLib& vm, int powerState) try {
  if (!operations->changePowerState(vm, powerState)) {
    Error(HV_FUNC, "Change power state[%d] for VM [%s][%s] failed", powerState, vm.name.c_str(),
          vm.id.c_str());
    return false;
  }
  Debug(HV_FUNC, "Change power state[%d] for VM [%s][%s] successful", powerState, vm.name.c_str(),
        vm.id.c_str());
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

}  // namespace Hypervale
