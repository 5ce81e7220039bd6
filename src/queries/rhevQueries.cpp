// Inventory queries: data centers, clusters, hosts, VMs and storage domains.
#include "queries/rhevQueries.h"

#include <type_traits>

#include "queries/fetchAndParse.h"
#include "queries/resourcePaths.h"

namespace Hypervale {
namespace {

// What differs between the kinds in a lookup by name or id.
template <typename Record>
struct LookupTraits;

template <>
struct LookupTraits<SDataCenterInfoLib> {
  static constexpr const char* kMissing = "Name or Id must be specified";
  static constexpr const char* kFound = "Found %d dataCenters that match [%s/%s]";
  static constexpr auto kSingle = &TzRhevQueries::getDataCenterInfoFromLink;
  static constexpr auto kList = &TzRhevQueries::getDataCenterInfoListFromLink;
};
template <>
struct LookupTraits<SClusterInfoLib> {
  static constexpr const char* kMissing = "Name or Id must be specified";
  static constexpr const char* kFound = "Found %d clusters that match [%s/%s]";
  static constexpr auto kSingle = &TzRhevQueries::getClusterInfoFromLink;
  static constexpr auto kList = &TzRhevQueries::getClusterInfoListFromLink;
};
template <>
struct LookupTraits<SHostInfoLib> {
  static constexpr const char* kMissing = "Name or Id must be specified";
  static constexpr const char* kFound = "Found %d Hosts that match [%s/%s]";
  static constexpr auto kSingle = &TzRhevQueries::getHostInfoFromLink;
  static constexpr auto kList = &TzRhevQueries::getHostInfoListFromLink;
};
template <>
struct LookupTraits<SVMInfoLib> {
  static constexpr const char* kMissing = "Must specify either VM name or ID";
  static constexpr const char* kFound = "Found %d VMs that match [%s/%s]";
  static constexpr auto kSingle = &TzRhevQueries::getVMInfoFromLink;
  static constexpr auto kList = &TzRhevQueries::getVMInfoListFromLink;
};
template <>
struct LookupTraits<SStorageDomainInfoLib> {
  static constexpr const char* kMissing = "Name or Id must be specified";
  static constexpr const char* kFound = "Found %d StorageDomains that match [%s/%s]";
  static constexpr auto kSingle = &TzRhevQueries::getStorageDomainInfoFromLink;
  static constexpr auto kList = &TzRhevQueries::getStorageDomainInfoListFromLink;
};

}  // namespace

TzRhevQueries::TzRhevQueries(TzRhevConnection* c, TzRhevParser* p)
    : KwDebug(nullptr), connection(c), parser(p) {}

TzRhevQueries::~TzRhevQueries() {
  connection = nullptr;
  parser = nullptr;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename Record>
bool TzRhevQueries::LookupByNameOrId(const char* collection, const std::string& name,
                                     const std::string& id, Record& out, UINT64 detailFlags) {
  using Traits = LookupTraits<Record>;
  if (!id.empty()) return (this->*Traits::kSingle)(paths::Item(collection, id), out, detailFlags);
  if (name.empty()) {
    Error(HV_FUNC, "%s", Traits::kMissing);
    return false;
  }
  const std::string path = paths::Search(collection, "name", name);
  std::vector<Record> candidates;
  if (!(this->*Traits::kList)(path, candidates, detailFlags)) {
    if constexpr (std::is_same_v<Record, SVMInfoLib>) {
      Error(HV_FUNC, "getVMInfoListFromLink failed for link[%s]", path.c_str());
    }
    return false;
  }
  if constexpr (std::is_same_v<Record, SStorageDomainInfoLib>) {
    if (candidates.empty()) {
      Error(HV_FUNC, "Storage Domain [%s/%s] could not be found", name.c_str(), id.c_str());
      return false;
    }
  }
  // The engine's search is not exact (letter case, patterns): only exact names count.
  int matches = 0;
  for (const Record& candidate : candidates) {
    if (candidate.name != name) continue;
    ++matches;
    out = candidate;
  }
  if (matches != 1) {
    Error(HV_FUNC, Traits::kFound, matches, name.c_str(), id.c_str());
    return false;
  }
  return true;
}
#pragma GCC diagnostic pop

bool TzRhevQueries::getAPIInfo(SAPIInfoLib& apiInfo) {
  return FetchAndParse(paths::kApi, apiInfo, &TzRhevParser::parseAPIInfo);
}

// Data centers.

bool TzRhevQueries::getDataCenterInfo(const std::string& name, const std::string& id,
                                      SDataCenterInfoLib& dc, UINT64 detailFlags) {
  return LookupByNameOrId(paths::kDataCenters, name, id, dc, detailFlags);
}

bool TzRhevQueries::getDataCenterInfoList(std::vector<SDataCenterInfoLib>& list,
                                          UINT64 detailFlags) {
  return getDataCenterInfoListFromLink(paths::kDataCenters, list, detailFlags);
}

bool TzRhevQueries::getDataCenterInfoListFromLink(const std::string& link,
                                                  std::vector<SDataCenterInfoLib>& list,
                                                  UINT64 /*detailFlags*/) {
  return FetchAndParse(link, list, &TzRhevParser::parseDataCenterInfoList);
}

bool TzRhevQueries::getDataCenterInfoFromLink(const std::string& link, SDataCenterInfoLib& dc,
                                              UINT64 /*detailFlags*/) {
  return FetchAndParse(link, dc, &TzRhevParser::parseDataCenterInfo);
}

// Clusters.

bool TzRhevQueries::getClusterInfo(const std::string& name, const std::string& id,
                                   SClusterInfoLib& cluster, UINT64 detailFlags) {
  return LookupByNameOrId(paths::kClusters, name, id, cluster, detailFlags);
}

bool TzRhevQueries::getClusterInfoList(std::vector<SClusterInfoLib>& list, UINT64 detailFlags) {
  return getClusterInfoListFromLink(paths::kClusters, list, detailFlags);
}

bool TzRhevQueries::getClusterInfoListForDataCenter(const std::string& dataCenter,
                                                    std::vector<SClusterInfoLib>& list,
                                                    UINT64 detailFlags) {
  return getClusterInfoListFromLink(paths::Search(paths::kClusters, "datacenter", dataCenter), list,
                                    detailFlags);
}

bool TzRhevQueries::getClusterInfoListFromLink(const std::string& link,
                                               std::vector<SClusterInfoLib>& list,
                                               UINT64 /*detailFlags*/) {
  return FetchAndParse(link, list, &TzRhevParser::parseClusterInfoList);
}

bool TzRhevQueries::getClusterInfoFromLink(const std::string& link, SClusterInfoLib& cluster,
                                           UINT64 /*detailFlags*/) {
  return FetchAndParse(link, cluster, &TzRhevParser::parseClusterInfo);
}

// Hosts.

bool TzRhevQueries::getHostInfo(const std::string& name, const std::string& id, SHostInfoLib& host,
                                UINT64 detailFlags) {
  return LookupByNameOrId(paths::kHosts, name, id, host, detailFlags);
}

bool TzRhevQueries::getHostInfoList(std::vector<SHostInfoLib>& list, UINT64 detailFlags) {
  return getHostInfoListFromLink(paths::kHosts, list, detailFlags);
}

bool TzRhevQueries::getHostInfoListForCluster(const std::string& cluster,
                                              std::vector<SHostInfoLib>& list, UINT64 detailFlags) {
  return getHostInfoListFromLink(paths::Search(paths::kHosts, "cluster", cluster), list,
                                 detailFlags);
}

bool TzRhevQueries::getHostInfoListForTag(const STagInfoLib& tag, std::vector<SHostInfoLib>& list,
                                          UINT64 detailFlags) {
  return getHostInfoListFromLink(paths::Search(paths::kHosts, "tag", tag.name), list, detailFlags);
}

bool TzRhevQueries::getHostInfoListFromLink(const std::string& link,
                                            std::vector<SHostInfoLib>& list,
                                            UINT64 /*detailFlags*/) {
  return FetchAndParse(link, list, &TzRhevParser::parseHostInfoList);
}

bool TzRhevQueries::getHostInfoFromLink(const std::string& link, SHostInfoLib& host,
                                        UINT64 /*detailFlags*/) {
  return FetchAndParse(link, host, &TzRhevParser::parseHostInfo);
}

// Virtual machines.

bool TzRhevQueries::getVMInfo(const std::string& name, const std::string& id, SVMInfoLib& vm,
                              UINT64 detailFlags) {
  return LookupByNameOrId(paths::kVms, name, id, vm, detailFlags);
}

bool TzRhevQueries::getVMInfoList(std::vector<SVMInfoLib>& list, UINT64 detailFlags) {
  return getVMInfoListFromLink(paths::kVms, list, detailFlags);
}

bool TzRhevQueries::getVMInfoListForCluster(const std::string& cluster,
                                            std::vector<SVMInfoLib>& list, UINT64 detailFlags) {
  return getVMInfoListFromLink(paths::Search(paths::kVms, "cluster", cluster), list, detailFlags);
}

bool TzRhevQueries::getVMInfoListForTag(const STagInfoLib& tag, std::vector<SVMInfoLib>& list,
                                        UINT64 detailFlags) {
  return getVMInfoListFromLink(paths::Search(paths::kVms, "tag", tag.name), list, detailFlags);
}

bool TzRhevQueries::getVMInfoListFromLink(const std::string& link, std::vector<SVMInfoLib>& list,
                                          UINT64 /*detailFlags*/) {
  return FetchAndParse(link, list, &TzRhevParser::parseVMInfoList);
}

bool TzRhevQueries::getVMInfoFromLink(const std::string& link, SVMInfoLib& vm,
                                      UINT64 /*detailFlags*/) {
  std::string response;
  if (!connection->get(link, response, true)) {
    Error(HV_FUNC, "Failed to get info for link [%s]", link.c_str());
    return false;
  }
  if (!parser->parseVMInfo(response, vm)) {
    Error(HV_FUNC, "Failed to parse SVMInfoLib from [%s]", response.c_str());
    return false;
  }
  Debug(HV_FUNC, "Parse VMInfo from link [%s]. ID[%s] Name[%s]", link.c_str(), vm.id.c_str(),
        vm.name.c_str());
  return true;
}

// Storage domains.

bool TzRhevQueries::getStorageDomainInfo(const std::string& name, const std::string& id,
                                         SStorageDomainInfoLib& domain, UINT64 detailFlags) {
  return LookupByNameOrId(paths::kStorageDomains, name, id, domain, detailFlags);
}

bool TzRhevQueries::getStorageDomainInfoList(std::vector<SStorageDomainInfoLib>& list,
                                             UINT64 detailFlags) {
  return getStorageDomainInfoListFromLink(paths::kStorageDomains, list, detailFlags);
}

bool TzRhevQueries::getStorageDomainInfoListFromLink(const std::string& link,
                                                     std::vector<SStorageDomainInfoLib>& list,
                                                     UINT64 /*detailFlags*/) {
  return FetchAndParse(link, list, &TzRhevParser::parseStorageDomainInfoList);
}

bool TzRhevQueries::getStorageDomainInfoFromLink(const std::string& link,
                                                 SStorageDomainInfoLib& domain,
                                                 UINT64 /*detailFlags*/) {
  return FetchAndParse(link, domain, &TzRhevParser::parseStorageDomainInfo);
}

bool TzRhevQueries::getStorageDomainStatus(const std::string& dataCenterName,
                                           const std::string& storageDomainName,
                                           const std::string& storageDomainId,
                                           std::string& status) {
  if (storageDomainName.empty()) return false;
  if (dataCenterName.empty()) {
    SStorageDomainInfoLib domain;
    if (!getStorageDomainInfo(storageDomainName, storageDomainId, domain, 0)) {
      Error(HV_FUNC, "Failed to get storage domain %s info", storageDomainName.c_str());
      return false;
    }
    return getStorageDomainStatusOf(domain, status);
  }
  SDataCenterInfoLib dc;
  if (!getDataCenterInfo(dataCenterName, "", dc, 0)) return false;
  const std::string link =
      paths::Search(paths::DataCenterStorageDomains(dc.id), "name", storageDomainName);
  std::vector<SStorageDomainInfoLib> attached;
  if (!getStorageDomainInfoListFromLink(link, attached, 0)) return false;
  for (const auto& domain : attached) {
    Debug(HV_FUNC, "Storage domain %s, status: %s", domain.name.c_str(), domain.status.c_str());
    if (domain.name == storageDomainName) {
      status = domain.status;
      return true;
    }
  }
  Error(HV_FUNC, "Storage domain %s not found attached to datacenter %s", storageDomainName.c_str(),
        dataCenterName.c_str());
  return false;
}

bool TzRhevQueries::getStorageDomainStatusOf(const SStorageDomainInfoLib& domain,
                                             std::string& status) {
  // Outside a data center the engine shows the status of unattached domains only; an
  // attached domain's status is kept by its data center.
  if (domain.dataCenterIds.empty()) {
    status = domain.status;
    return true;
  }
  if (domain.dataCenterIds.size() > 1) {
    Error(HV_FUNC,
          "Storage domain %s is attached to %zu data centers; its status is per data center",
          domain.name.c_str(), domain.dataCenterIds.size());
    return false;
  }
  const std::string& dataCenterId = domain.dataCenterIds.front();
  SStorageDomainInfoLib attached;
  if (!getStorageDomainInfoFromLink(paths::DataCenterStorageDomain(dataCenterId, domain.id),
                                    attached, 0)) {
    Error(HV_FUNC, "Failed to read the status of storage domain %s in datacenter %s",
          domain.name.c_str(), dataCenterId.c_str());
    return false;
  }
  status = attached.status;
  return true;
}

// Raw access.

bool TzRhevQueries::getFromLink(const std::string& link, std::string& response, bool reportErrors) {
  return connection->get(link, response, reportErrors);
}

bool TzRhevQueries::checkExistence(const std::string& link) {
  std::string response;
  return connection->get(link, response, false);
}

}  // namespace Hypervale
