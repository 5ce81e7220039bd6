// Virtual disks, their attachments to VMs, and VM snapshots.
#pragma once

#include <cstdint>
#include <string>

#include "hypervale/commonRecords.h"

namespace Hypervale {

struct SDiskInfoLib : SBaseResourceInfoLib {
  std::string logicalName;  // device name inside the guest, e.g. "/dev/vda"
  std::string imageId;
  std::string snapshotId;  // set on disks listed under a snapshot
  std::string snapshotHref;
  std::string storageDomainName;  // filled by the facade, never read from XML
  std::string storageDomainId;    // first of "storage_domains", else "storage_domain"
  std::string storageDomainHref;
  std::uint64_t provisionedSize = 0;  // bytes, as the engine reports them
  std::uint64_t actualSize = 0;
  std::uint64_t totalSize = 0;
  std::string status;  // e.g. "ok", "locked"
  std::string format;  // "cow", "raw", or "lun" for a direct LUN disk
  std::string interface;
  std::string storageType;
  bool sparse = false;
  bool bootable = false;
  bool shareable = false;
  bool active = false;
  bool readOnly = false;
  bool wipeAfterDelete = false;  // written only
};

// How a disk is attached to a VM (API v4 keeps interface and flags here, not on the disk).
struct SDiskAttachmentInfoLib : SBaseResourceInfoLib {
  std::string interface;
  bool bootable = false;
  bool active = false;
  bool readOnly = false;
  std::string diskId;
  std::string diskHref;
  std::string vmId;
  std::string vmHref;
  std::string snapshotId;  // written only: attach the disk as of this snapshot
};

struct SSnapshotInfoLib : SBaseResourceInfoLib {
  std::string snapshotType;    // e.g. "active", "regular"
  std::int64_t date = 0;       // milliseconds since the epoch
  std::string snapshotStatus;  // e.g. "ok", "locked"
  std::string ovfData;         // the VM's OVF at snapshot time
};

}  // namespace Hypervale
