// Data centers, clusters, hosts, tags, logical networks, vNIC profiles and VM NICs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hypervale/commonRecords.h"
#include "hypervale/storageDomainRecords.h"
#include "hypervale/vmRecord.h"

namespace Hypervale {

// Defined leaf first: a host holds vNIC profiles, a cluster hosts, a data center clusters,
// and std::vector members need complete element types.

struct STagInfoLib : SBaseResourceInfoLib {
  std::string parentHref;
  std::string parentId;
};

struct SNetworkInfoLib : SBaseResourceInfoLib {};

struct SVnicProfileInfoLib : SBaseResourceInfoLib {
  std::string networkId;
};

struct SNicInfoLib : SBaseResourceInfoLib {
  std::string interface;  // e.g. "virtio", "rtl8139"
  std::string vnicProfileId;
  bool linked = false;   // read only
  bool plugged = false;  // read only
};

struct SHostInfoLib : SBaseResourceInfoLib {
  std::string clusterName;  // filled by the facade
  std::string clusterId;
  std::string clusterHref;
  std::string dataCenterName;  // filled by the facade
  std::string dataCenterId;    // filled by the facade
  std::string address;
  std::string status;
  std::string cpuName;
  std::uint32_t cpuSockets = 0;
  std::uint32_t cpuCores = 0;
  std::uint32_t cpuThreads = 0;
  std::uint32_t cpuSpeed = 0;
  std::uint64_t memory = 0;
  std::uint64_t maxSchedulingMemory = 0;
  std::uint32_t summaryTotal = 0;
  std::string osType;
  std::string osVersion;  // the full version text
  std::string manufacturer;
  std::string productName;

  // Filled by the facade only; no part of the XML form.
  std::vector<SVMInfoLib> vms;
  std::vector<SStorageDomainInfoLib> storageDomains;
  std::vector<SVnicProfileInfoLib> vnicProfiles;
};

struct SClusterInfoLib : SBaseResourceInfoLib {
  std::string dataCenterId;
  std::string dataCenterHref;

  // Filled by the facade only; no part of the XML form.
  std::vector<SHostInfoLib> hosts;
  std::vector<SVMInfoLib> vms;
};

struct SDataCenterInfoLib : SBaseResourceInfoLib {
  std::string status;
  std::string storageFormat;
  SVersionInfoLib version;
  std::vector<SVersionInfoLib> supportedVersions;

  // Filled by the facade only; no part of the XML form.
  std::vector<SStorageDomainInfoLib> storageDomains;
  std::vector<SClusterInfoLib> clusters;
};

}  // namespace Hypervale
