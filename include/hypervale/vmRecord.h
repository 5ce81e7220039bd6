// A virtual machine as the engine reports it, plus what the facade adds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hypervale/commonRecords.h"
#include "hypervale/diskRecords.h"

namespace Hypervale {

struct SVMInfoLib : SBaseResourceInfoLib {
  std::string hostName;  // filled by the facade
  std::string hostId;
  std::string hostHref;
  std::string clusterName;  // filled by the facade; written when a VM is created
  std::string clusterId;
  std::string clusterHref;
  std::string dataCenterName;  // filled by the facade
  std::string dataCenterId;    // filled by the facade
  std::string architecture;
  std::uint32_t sockets = 0;  // written as the topology's cores
  std::uint64_t memory = 0;
  std::string guestOsFullVersion;
  std::string osType;
  std::string fqdn;
  std::string status;
  std::string ovfData;  // written only: OVF text a VM is created from
  std::vector<SCustomPropertyInfoLib> customProperties;

  // Filled by the facade only; no part of the XML form.
  std::vector<SDiskInfoLib> disks;
  std::vector<SSnapshotInfoLib> snapshots;
};

}  // namespace Hypervale
