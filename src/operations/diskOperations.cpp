// Creating, attaching, activating, detaching, updating, moving and deleting disks. Engines
// from 4.0.2 on tie a disk to a VM through a disk attachment that carries the flags.
#include "operations/operationsInternal.h"

namespace Hypervale {
namespace {

const char kDefaultInterface[] = "virtio";

}  // namespace

bool TzRhevOperations::attachDisk(const std::string& vmId, const SDiskInfoLib& disk, bool active,
                                  bool bootable, bool readOnly) {
  const bool attachments = parser->getSchemaVersion() >= schema::kDiskAttachments;
  // The engine requires an interface on every attachment.
  SDiskInfoLib attached = disk;
  if (attached.interface.empty()) {
    attached.interface = kDefaultInterface;
    Debug(HV_FUNC, "No interface given for disk [%s]; attaching it as [%s]", disk.id.c_str(),
          kDefaultInterface);
  }
  std::string request;
  if (attachments) {
    SDiskAttachmentInfoLib attachment;
    attachment.diskId = attached.id;
    attachment.interface = attached.interface;
    attachment.snapshotId = attached.snapshotId;
    attachment.active = active;
    attachment.bootable = bootable;
    attachment.readOnly = readOnly;
    if (!parser->serializeDiskAttachmentInfo(attachment, request)) return false;
  } else if (!parser->serializeDiskInfo(attached, request)) {
    return false;
  }
  const std::string path = attachments ? paths::VmDiskAttachments(vmId) : paths::VmDisks(vmId);
  std::string answer;
  if (!connection->post(path, request, answer)) {
    Error(HV_FUNC, "Failed to attach disk [%s] snapshotid [%s] to VMid [%s]", disk.id.c_str(),
          disk.snapshotId.c_str(), vmId.c_str());
    return false;
  }
  Debug(HV_FUNC, "Attached disk [%s] snapshotid [%s] to VMid [%s]", disk.id.c_str(),
        disk.snapshotId.c_str(), vmId.c_str());
  if (attachments || !active) return true;
  if (activateDisk(vmId, disk)) return true;
  detachDisk(vmId, disk);  // undo the attachment; the activation failure is what counts
  return false;
}

bool TzRhevOperations::activateDisk(const std::string& vmId, const SDiskInfoLib& disk) {
  if (parser->getSchemaVersion() < schema::kDiskAttachments) {
    return diskAction(vmId, disk, paths::sub::kActivate);
  }
  // From 4.0.2 on a disk is activated by attaching it with "active" set; there is no action
  // to send. What is left is to tell whether the attachment is active.
  if (!NamesVmAndDisk(HV_FUNC, vmId, disk)) return false;
  SDiskAttachmentInfoLib attachment;
  if (!queries->getDiskAttachmentInfoForVM(vmId, disk.id, attachment, 0)) {
    Error(HV_FUNC, "Disk [%s] is not attached to VM [%s]", disk.id.c_str(), vmId.c_str());
    return false;
  }
  if (!attachment.active) {
    Error(HV_FUNC, "Disk [%s] is attached inactive to VM [%s]; attach it with active set",
          disk.id.c_str(), vmId.c_str());
    return false;
  }
  Debug(HV_FUNC, "Disk [%s] is active on VM [%s]", disk.id.c_str(), vmId.c_str());
  return true;
}

bool TzRhevOperations::deactivateDisk(const std::string& vmId, const SDiskInfoLib& disk) {
  // From 4.0.2 on the attachment is removed as a whole.
  if (parser->getSchemaVersion() >= schema::kDiskAttachments) return true;
  return diskAction(vmId, disk, paths::sub::kDeactivate);
}

bool TzRhevOperations::diskAction(const std::string& vmId, const SDiskInfoLib& disk,
                                  const std::string& action) {
  const char* function = HV_FUNC;
  if (!NamesVmAndDisk(function, vmId, disk)) return false;
  Action request{HTTP_REQ_POST, paths::VmDiskAction(vmId, disk.id, action)};
  request.notSent = [&](const std::string&) {
    Error(function, "Failed to [%s] disk [%s] for VMid [%s]", action.c_str(), disk.id.c_str(),
          vmId.c_str());
  };
  if (!SendAction(request, nullptr)) return false;
  Debug(function, "[%s] success: disk [%s] for VMid [%s]", action.c_str(), disk.id.c_str(),
        vmId.c_str());
  bool wanted = action == paths::sub::kActivate;

  if (parser->getSchemaVersion() < schema::kApiV4) {
    const std::string link = paths::VmDisk(vmId, disk.id);
    Debug(function, "Wait for disk active status to become [%s] using link [%s]",
          ops::BoolText(wanted), link.c_str());
    return pollOnStatus(link, wanted, &TzRhevOperations::checkDiskActiveStatusCallBack);
  }

  const Poll result = PollUntil(ConfiguredWait(), [&](std::uint64_t remaining) {
    std::vector<SDiskInfoLib> disks;
    if (!queries->getDiskInfoListForVM(vmId, disks, 0)) return Poll::kFailed;
    bool found = false;
    for (const SDiskInfoLib& listed : disks) {
      if (listed.id != disk.id) continue;
      found = true;
      if (listed.active == wanted) {
        Debug(function, "Done waiting");
        return Poll::kDone;
      }
    }
    if (!found) {
      Error(function, "Disk [%s] was not found on VM [%s]", disk.id.c_str(), vmId.c_str());
      // A disk the VM does not list is not active; it is not attached either.
      return wanted ? Poll::kFailed : Poll::kDone;
    }
    DebugLvl(function, 2, "Continue to wait...[%lu]", static_cast<unsigned long>(remaining));
    return Poll::kWait;
  });
  if (result == Poll::kWait) {
    Error(function, "Timed out waiting for disk [%s] of VM [%s] to become active [%s]",
          disk.id.c_str(), vmId.c_str(), ops::BoolText(wanted));
  }
  return result == Poll::kDone;
}

bool TzRhevOperations::detachDisk(const std::string& vmId, const SDiskInfoLib& disk) {
  const char* function = HV_FUNC;
  if (!NamesVmAndDisk(function, vmId, disk)) return false;
  const std::int32_t version = parser->getSchemaVersion();
  const bool attachments = version >= schema::kDiskAttachments;
  const std::string path =
      attachments ? paths::VmDiskAttachment(vmId, disk.id) : paths::VmDisk(vmId, disk.id);
  // Before disk attachments the disk is deactivated first and the DELETE carries a detach
  // action; an attachment is removed with an empty DELETE.
  if (!attachments && !deactivateDisk(vmId, disk)) return false;
  Action detach{HTTP_REQ_DELETE, path};
  detach.document.detach = true;
  detach.withDocument = !attachments;
  detach.notSent = [&](const std::string&) {
    Error(function, "Failed to detach disk [%s] from VM [%s]", disk.id.c_str(), vmId.c_str());
  };
  if (!SendAction(detach, nullptr)) return false;

  // The DELETE was accepted: the wait only holds the caller until the engine shows the disk
  // gone, at most retryCount checks, and running out is no failure.
  if (retryCount > 0) {
    WaitPolicy detachWait = ConfiguredWait();
    detachWait.extraChecks = retryCount - 1;
    const Poll result = PollUntil(detachWait, [&](std::uint64_t) {
      if (version < schema::kApiV4) {
        if (!queries->checkExistence(path)) return Poll::kDone;
        Debug(function, "Obtained disk from link [%s] is alive - waiting for detach", path.c_str());
        return Poll::kWait;
      }
      std::vector<SDiskAttachmentInfoLib> attached;
      if (!queries->getDiskAttachmentInfoListForVM(vmId, attached, 0)) return Poll::kFailed;
      for (const SDiskAttachmentInfoLib& attachment : attached) {
        if (attachment.id != disk.id) continue;
        Debug(function, "Disk [%s] is still attached to VM [%s] - waiting for detach",
              disk.id.c_str(), vmId.c_str());
        return Poll::kWait;
      }
      return Poll::kDone;
    });
    if (result == Poll::kFailed) return false;
    if (result == Poll::kWait) return true;
  }
  Debug(function, "Detached disk [%s] from VM [%s]", disk.id.c_str(), vmId.c_str());
  return true;
}

bool TzRhevOperations::createDisk(SDiskInfoLib& disk) {
  if (disk.storageDomainId.empty() && !disk.storageDomainName.empty()) {
    SStorageDomainInfoLib domain;
    if (!queries->getStorageDomainInfo(disk.storageDomainName, "", domain, 0)) {
      Error(HV_FUNC, "Failed to find storage domain [%s] to create disk [%s]",
            disk.storageDomainName.c_str(), disk.name.c_str());
      return false;
    }
    disk.storageDomainId = domain.id;
  }
  std::string answer;
  if (!PostRecord(HV_FUNC, paths::kDisks, disk, answer, &TzRhevParser::serializeDiskInfo,
                  &TzRhevParser::parseDiskInfo, "createDisk")) {
    return false;
  }
  Debug(HV_FUNC, "createDisk returned success: Disk ID[%s] Name[%s]", disk.id.c_str(),
        disk.name.c_str());
  if (!FindAccepted(HV_FUNC, disk, [&](std::vector<SDiskInfoLib>& listed) {
        return queries->getDiskInfoListFromLink(paths::Search(paths::kDisks, "name", disk.name),
                                                listed, 0);
      })) {
    return false;
  }

  bool flag = false;
  if (parser->getSchemaVersion() < schema::kApiV4) {
    const auto creation = disk.links.find(paths::sub::kCreationStatus);
    if (creation != disk.links.end() && !creation->second.empty()) {
      if (!pollOnStatus(paths::FromLink(creation->second), flag,
                        &TzRhevOperations::checkCreationStatusCallBack) ||
          !flag) {
        Error(HV_FUNC, "Creation of disk [%s] has not completed", disk.id.c_str());
        return false;
      }
    }
  }
  const std::string link = paths::Disk(disk.id);
  return pollOnStatus(link, flag, &TzRhevOperations::checkDiskStatusCallBack);
}

bool TzRhevOperations::deleteDisk(const std::string& diskId) {
  if (diskId.empty()) {
    Error(HV_FUNC, "Must pass diskId");
    return false;
  }
  const std::string link = paths::Disk(diskId);
  SDiskInfoLib disk;
  std::string body;
  switch (queries->FetchRecord(link, body, disk, &TzRhevParser::parseDiskInfo, true)) {
    case Lookup::kFound:
      break;
    case Lookup::kNotFound:
      Debug(HV_FUNC, "Disk [%s] does not exist", diskId.c_str());
      return true;
    case Lookup::kFailed:
    case Lookup::kUnreadable:
      Error(HV_FUNC, "Failed to getDiskInfoFromLink");
      return false;
  }
  SActionInfoLib answer;
  const std::string target = disk.href.empty() ? link : paths::FromLink(disk.href);
  if (!SendAction({HTTP_REQ_DELETE, target}, &answer)) return false;
  if (ops::SameWord(answer.status, "complete")) return true;
  Error(HV_FUNC, "Delete VM returned state: %s", answer.status.c_str());
  return false;
}

bool TzRhevOperations::updateDisk(const std::string& vmId, const SDiskInfoLib& disk) {
  if (vmId.empty()) {
    Error(HV_FUNC, "Cannot update standalone disk. vmId not set");
    return false;
  }
  if (disk.id.empty()) {
    Error(HV_FUNC, "Cannot update disk with no 'id' set");
    return false;
  }
  if (parser->getSchemaVersion() >= schema::kDiskAttachments) {
    Debug(HV_FUNC, "Updated disk not supported for version %d",
          static_cast<int>(parser->getSchemaVersion()));
    return true;
  }
  SDiskInfoLib flags;
  flags.bootable = disk.bootable;
  flags.shareable = disk.shareable;
  flags.readOnly = disk.readOnly;
  flags.wipeAfterDelete = disk.wipeAfterDelete;
  std::string request;
  if (!parser->serializeDiskInfo(flags, request)) return false;
  DebugLvl(HV_FUNC, 2, "update disk using xml [%s]", request.c_str());
  std::string answer;
  if (!connection->put(paths::VmDisk(vmId, disk.id), request, answer)) {
    return false;
  }
  Debug(HV_FUNC, "Received response [%s] for PUT", answer.c_str());
  return true;
}

bool TzRhevOperations::moveDisk(const SDiskInfoLib& disk, const std::string& storageDomainId) {
  const char* function = HV_FUNC;
  Action move{HTTP_REQ_POST, paths::DiskMove(disk.id)};
  move.document.storageDomainId = storageDomainId;
  move.notSent = [&](const std::string& answerBody) {
    Error(function, "Storage migration request of disk [%s] has failed. Error: [%s]",
          disk.name.c_str(), answerBody.c_str());
  };
  SActionInfoLib answer;
  if (!SendAction(move, &answer)) return false;
  if (!ops::SameWord(answer.status, "complete")) {
    Error(function, "Disk [%s] move operation has not completed, returned state: %s",
          disk.id.c_str(), answer.status.c_str());
    return false;
  }
  Debug(function, "Storage migration of disk [%s][%s] has been started successfully",
        disk.id.c_str(), disk.name.c_str());
  return true;
}

}  // namespace Hypervale
