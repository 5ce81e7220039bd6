// Inventory queries: data centers, clusters, hosts, VMs and storage domains.
#include "queries/rhevQueries.h"

#include "queries/fetchAndParse.h"
#include "queries/resourcePaths.h"
#include "xml/followedVm.h"

namespace Hypervale {

// What differs between the kinds looked up by name or id.
template <typename Record>
struct LookupKind {
  const char* collection;
  const char* missing;  // logged when neither a name nor an id is given
  const char* plural;   // the kind as the count of exact matches names it
  // The getters' own words for a search that failed, and for one that found nothing at all;
  // nullptr where a kind has none.
  const char* searchReader;
  const char* emptySearchNoun;
  bool (TzRhevQueries::*readOne)(const std::string&, Record&, UINT64);  // the getters' read by id
  bool (TzRhevParser::*parseOne)(const std::string&, Record&);
  bool (TzRhevParser::*parseList)(const std::string&, std::vector<Record>&);
};

namespace {

constexpr char kNameOrId[] = "Name or Id must be specified";

// clang-format off
constexpr LookupKind<SDataCenterInfoLib> kDataCenterKind{
    paths::kDataCenters, kNameOrId, "dataCenters", nullptr, nullptr,
    &TzRhevQueries::getDataCenterInfoFromLink,
    &TzRhevParser::parseDataCenterInfo, &TzRhevParser::parseDataCenterInfoList};
constexpr LookupKind<SClusterInfoLib> kClusterKind{
    paths::kClusters, kNameOrId, "clusters", nullptr, nullptr,
    &TzRhevQueries::getClusterInfoFromLink,
    &TzRhevParser::parseClusterInfo, &TzRhevParser::parseClusterInfoList};
constexpr LookupKind<SHostInfoLib> kHostKind{
    paths::kHosts, kNameOrId, "Hosts", nullptr, nullptr,
    &TzRhevQueries::getHostInfoFromLink,
    &TzRhevParser::parseHostInfo, &TzRhevParser::parseHostInfoList};
constexpr LookupKind<SVMInfoLib> kVmKind{
    paths::kVms, "Must specify either VM name or ID", "VMs", "getVMInfoListFromLink", nullptr,
    &TzRhevQueries::getVMInfoFromLink,
    &TzRhevParser::parseVMInfo, &TzRhevParser::parseVMInfoList};
constexpr LookupKind<FollowedVm> kFollowedVmKind{
    paths::kVms, "Must specify either VM name or ID", "VMs", "getVMInfoListFromLink", nullptr,
    nullptr,
    &TzRhevParser::parseFollowedVMInfo, &TzRhevParser::parseFollowedVMInfoList};
constexpr LookupKind<SStorageDomainInfoLib> kStorageDomainKind{
    paths::kStorageDomains, kNameOrId, "StorageDomains", nullptr, "Storage Domain",
    &TzRhevQueries::getStorageDomainInfoFromLink,
    &TzRhevParser::parseStorageDomainInfo, &TzRhevParser::parseStorageDomainInfoList};
// clang-format on

}  // namespace

TzRhevQueries::TzRhevQueries(TzRhevConnection* c, TzRhevParser* p)
    : KwDebug(nullptr), connection(c), parser(p) {}

TzRhevQueries::~TzRhevQueries() {
  connection = nullptr;
  parser = nullptr;
}

// Lookups by name or id.

template <typename Record>
bool TzRhevQueries::LookupByNameOrId(const LookupKind<Record>& kind, const std::string& name,
                                     const std::string& id, Record& out, UINT64 detailFlags) {
  if (!id.empty()) return (this->*kind.readOne)(paths::Item(kind.collection, id), out, detailFlags);
  return FindByName(kind, name, out, true) == Lookup::kFound;
}

template <typename Record>
Lookup TzRhevQueries::FindByNameOrId(const LookupKind<Record>& kind, const std::string& name,
                                     const std::string& id, Record& out) {
  std::string body;
  if (!id.empty()) {
    return FetchRecord(paths::Item(kind.collection, id), body, out, kind.parseOne, true);
  }
  return FindByName(kind, name, out, false);
}

template <typename Record>
Lookup TzRhevQueries::FindByName(const LookupKind<Record>& kind, const std::string& name,
                                 Record& out, bool absenceIsError, const char* follow) {
  if (name.empty()) {
    Error(HV_FUNC, "%s", kind.missing);
    return Lookup::kFailed;
  }
  const std::string search = paths::Search(kind.collection, "name", name);
  const std::string link = follow ? paths::Follow(search, follow) : search;
  std::string body;
  std::vector<Record> listed;
  const Lookup searched = FetchRecord(link, body, listed, kind.parseList, true);
  if (searched != Lookup::kFound) {
    if (absenceIsError && kind.searchReader) {
      Error(HV_FUNC, "%s failed for link[%s]", kind.searchReader, link.c_str());
    }
    return searched;
  }
  if (absenceIsError && kind.emptySearchNoun && listed.empty()) {
    Error(HV_FUNC, "%s [%s/] could not be found", kind.emptySearchNoun, name.c_str());
    return Lookup::kNotFound;
  }
  KeepExactName(listed, name);
  const int matches = static_cast<int>(listed.size());
  if (matches > 0) out = listed.back();
  if (matches == 1) return Lookup::kFound;
  if (matches > 1 || absenceIsError) {
    Error(HV_FUNC, "Found %d %s that match [%s/]", matches, kind.plural, name.c_str());
  }
  return matches == 0 ? Lookup::kNotFound : Lookup::kFailed;
}

Lookup TzRhevQueries::findVM(const std::string& name, const std::string& id, SVMInfoLib& vm) {
  return FindByNameOrId(kVmKind, name, id, vm);
}

Lookup TzRhevQueries::findStorageDomain(const std::string& name, const std::string& id,
                                        SStorageDomainInfoLib& domain) {
  return FindByNameOrId(kStorageDomainKind, name, id, domain);
}

bool TzRhevQueries::getAPIInfo(SAPIInfoLib& apiInfo) {
  return FetchAndParse(paths::kApi, apiInfo, &TzRhevParser::parseAPIInfo);
}

// Data centers.

bool TzRhevQueries::getDataCenterInfo(const std::string& name, const std::string& id,
                                      SDataCenterInfoLib& dc, UINT64 detailFlags) {
  return LookupByNameOrId(kDataCenterKind, name, id, dc, detailFlags);
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
  return LookupByNameOrId(kClusterKind, name, id, cluster, detailFlags);
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
  return LookupByNameOrId(kHostKind, name, id, host, detailFlags);
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
  return LookupByNameOrId(kVmKind, name, id, vm, detailFlags);
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

template <typename Out>
bool TzRhevQueries::ReadVM(const std::string& link, Out& out,
                           bool (TzRhevParser::*parse)(const std::string&, Out&)) {
  std::string response;
  switch (FetchRecord(link, response, out, parse, true)) {
    case Lookup::kFound:
      return true;
    case Lookup::kUnreadable:
      Error(HV_FUNC, "Failed to parse SVMInfoLib from [%s]", response.c_str());
      return false;
    case Lookup::kNotFound:
    case Lookup::kFailed:
      Error(HV_FUNC, "Failed to get info for link [%s]", link.c_str());
      return false;
  }
  return false;
}

bool TzRhevQueries::getVMInfoFromLink(const std::string& link, SVMInfoLib& vm,
                                      UINT64 /*detailFlags*/) {
  if (!ReadVM(link, vm, &TzRhevParser::parseVMInfo)) return false;
  Debug(HV_FUNC, "Parse VMInfo from link [%s]. ID[%s] Name[%s]", link.c_str(), vm.id.c_str(),
        vm.name.c_str());
  return true;
}

bool TzRhevQueries::getFollowedVMInfoListFromLink(const std::string& link, const char* follow,
                                                  std::vector<FollowedVm>& list) {
  return FetchAndParse(paths::Follow(link, follow), list, &TzRhevParser::parseFollowedVMInfoList);
}

bool TzRhevQueries::getFollowedVMInfo(const std::string& name, const std::string& id,
                                      const char* follow, FollowedVm& vm) {
  if (id.empty()) return FindByName(kFollowedVmKind, name, vm, true, follow) == Lookup::kFound;
  const std::string link = paths::Follow(paths::Vm(id), follow);
  if (link.empty()) return false;  // the id was refused, and logged
  return ReadVM(link, vm, &TzRhevParser::parseFollowedVMInfo);
}

bool TzRhevQueries::getFollowedDiskAttachment(const std::string& vmId, const std::string& diskId,
                                              FollowedDisk& attached) {
  const std::string link = paths::Follow(paths::VmDiskAttachment(vmId, diskId), "disk");
  std::string body;
  return !link.empty() &&
         FetchRecord(link, body, attached, &TzRhevParser::parseFollowedDiskAttachment, false) ==
             Lookup::kFound;
}

// Storage domains.

bool TzRhevQueries::getStorageDomainInfo(const std::string& name, const std::string& id,
                                         SStorageDomainInfoLib& domain, UINT64 detailFlags) {
  return LookupByNameOrId(kStorageDomainKind, name, id, domain, detailFlags);
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

Lookup TzRhevQueries::FetchLink(const std::string& link, std::string& body, bool reportErrors,
                                const std::string& extraHeader) {
  if (connection->get(link, body, reportErrors, extraHeader)) return Lookup::kFound;
  // Read right after the failed GET: the connection replaces its code only on a failed
  // request, so a later look could see the status of an older one.
  return connection->getLastErrorCode() == 404 ? Lookup::kNotFound : Lookup::kFailed;
}

bool TzRhevQueries::getFromLink(const std::string& link, std::string& response, bool reportErrors) {
  return FetchLink(link, response, reportErrors) == Lookup::kFound;
}

bool TzRhevQueries::checkExistence(const std::string& link) {
  std::string response;
  return getFromLink(link, response, false);
}

}  // namespace Hypervale
