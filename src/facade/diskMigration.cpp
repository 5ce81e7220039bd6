// Moving a VM's disks to another storage domain and following the moves.
#include <algorithm>
#include <boost/algorithm/string/predicate.hpp>

#include "facade/guard.h"
#include "hypervale/hypervale.h"
#include "operations/rhevOperations.h"
#include "queries/rhevQueries.h"

namespace Hypervale {

bool TzHypervale::moveDisks(const std::string& vmId, const std::vector<SDiskInfoLib>& disks,
                            const std::string& targetDomainName, bool waitForSnapshots) try {
  SStorageDomainInfoLib target;
  if (!getStorageDomainInfo(targetDomainName, "", target, 0)) return false;
  // The engine takes a snapshot per moved disk only while the VM runs; the disks of a VM that
  // is down move without any. Decided on the state before the moves.
  bool expectSnapshots = waitForSnapshots;
  if (waitForSnapshots) {
    SVMInfoLib vm;
    if (!queries->getVMInfo("", vmId, vm, 0)) {
      Error(HV_FUNC,
            "State of VM [%s] unknown before moving its disks; expecting a snapshot per move",
            vmId.c_str());
    } else if (boost::algorithm::iequals(vm.status, "down")) {
      Debug(HV_FUNC, "VM [%s] is down: its disks move without snapshots; not waiting for any",
            vmId.c_str());
      expectSnapshots = false;
    } else {
      Debug(HV_FUNC, "VM [%s] is [%s]: expecting a snapshot per moved disk", vmId.c_str(),
            vm.status.c_str());
    }
  }
  bool result = true;
  size_t skipped = 0;
  for (const auto& disk : disks) {
    if (disk.storageDomainName == targetDomainName) {
      Error(HV_FUNC, "Source and destination of disk [%s] is same. Skiping disk movement.",
            disk.id.c_str());
      ++skipped;
      continue;
    }
    if (!operations->moveDisk(disk, target.id)) {
      result = false;
      break;
    }
  }
  if (!expectSnapshots) return result;

  std::vector<SSnapshotInfoLib> snapshots;
  if (!queries->getSnapshotInfoList(vmId, snapshots, 0)) {
    Error(HV_FUNC, "Failed to get snapshot list of VM [%s] after storage migration started",
          vmId.c_str());
  }
  for (const auto& snapshot : snapshots) {
    DebugLvl(HV_FUNC, 2, "Status/Type of snapshot [%s]: [%s]/[%s]", snapshot.description.c_str(),
             snapshot.snapshotStatus.c_str(), snapshot.snapshotType.c_str());
  }
  snapshots.erase(std::remove_if(snapshots.begin(), snapshots.end(),
                                 [](const SSnapshotInfoLib& s) {
                                   return boost::algorithm::iequals(s.snapshotType, "active");
                                 }),
                  snapshots.end());
  // The engine takes one snapshot per moved disk.
  if (snapshots.size() + skipped != disks.size()) result = false;
  for (const auto& snapshot : snapshots) operations->WaitForUnlockSnapshot(vmId, snapshot.id);
  return result;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::CheckTaskProgress(const std::string& vmId, const std::string& sourceDomainName,
                                    const std::string& targetDomainName,
                                    const std::vector<SDiskInfoLib>& disks, bool /*unused*/,
                                    bool& completed, bool& failed) try {
  if (disks.empty()) {
    Debug(HV_FUNC, "Migrating disk list is empty for VM [%s]", vmId.c_str());
    return false;
  }
  bool pending = false;
  for (const auto& disk : disks) {
    if (!CheckTaskProgressOfDisk(disk.name, disk.id, targetDomainName, pending)) {
      failed = true;
      Error(HV_FUNC, "Failed to move disk [%s] from [%s] to [%s] domain", disk.name.c_str(),
            sourceDomainName.c_str(), targetDomainName.c_str());
      return false;
    }
  }
  completed = !pending;
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::CheckTaskProgressOfDisk(const std::string& diskName, const std::string& diskId,
                                          const std::string& targetDomainName, bool& pending) try {
  SDiskInfoLib disk;
  if (!queries->getDiskInfo(diskId, disk, 0)) {
    Error(HV_FUNC, "Disk [%s][%s] not found", diskName.c_str(), diskId.c_str());
    return false;
  }
  DebugLvl(HV_FUNC, 2, "Disk: [%s]: Current actual size: [%llu], total size: [%llu], state: [%s]",
           diskName.c_str(), static_cast<unsigned long long>(disk.actualSize),
           static_cast<unsigned long long>(disk.totalSize), disk.status.c_str());
  if (boost::algorithm::iequals(disk.status, "locked")) {
    pending = true;
    return true;
  }
  if (boost::algorithm::iequals(disk.status, "illegal")) {
    Error(HV_FUNC, "Disk [%s][%s] is illegal after its move", diskName.c_str(), diskId.c_str());
    return false;
  }
  SStorageDomainInfoLib domain;
  if (!getStorageDomainInfo("", disk.storageDomainId, domain, 0)) {
    Error(HV_FUNC, "Domain [%s] not found", disk.storageDomainId.c_str());
    return false;
  }
  // The total size tells nothing about the move: from 4.1 on it is the space the disk uses.
  if (domain.name == targetDomainName) {
    Debug(HV_FUNC, "Disk movement completed for [%s]", diskName.c_str());
    return true;
  }
  return false;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

}  // namespace Hypervale
