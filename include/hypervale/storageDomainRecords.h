// Storage domains and the block storage behind direct LUN disks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hypervale/commonRecords.h"
#include "hypervale/diskRecords.h"
#include "hypervale/vmRecord.h"

namespace Hypervale {

struct SStorageDomainInfoLib : SBaseResourceInfoLib {
  std::string type;    // the domain's role, e.g. "data"; read only
  std::string status;  // e.g. "active", "unattached"; read only
  std::string storageAddress;
  std::string storagePath;
  std::string storageType;    // kind of storage server, e.g. "nfs"
  std::string storageFormat;  // written only
  std::string hostName;       // written only: the host that creates the domain
  // Never in XML. When set, the writer produces the attach body (name only).
  std::string dataCenterName;
  std::uint64_t available = 0;  // bytes; read only
  std::uint64_t used = 0;
  std::uint64_t committed = 0;
  // Ids from the "data_centers" element: the data center an attached domain belongs to.
  // Read only; outside a data center it is the only pointer to the domain's status.
  std::vector<std::string> dataCenterIds;

  // Filled by the facade only; no part of the XML form.
  std::vector<SVMInfoLib> vms;
  std::vector<SDiskInfoLib> disks;
};

// The "lun_storage" element of a direct LUN disk; its logical units are not kept.
struct SLunStorageInfoLib : SBaseResourceInfoLib {};

struct SLogicalUnitInfoLib : SBaseResourceInfoLib {
  std::string diskId;
  std::string productId;
  std::string serial;
  std::string vendorId;
};

}  // namespace Hypervale
