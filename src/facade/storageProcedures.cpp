// Storage domains for the agent's own use, and NICs for restored VMs.
#include <algorithm>
#include <boost/algorithm/string/predicate.hpp>

#include "facade/detailFlags.h"
#include "facade/guard.h"
#include "host/platformInfo.h"
#include "hypervale/hypervale.h"
#include "operations/rhevOperations.h"
#include "queries/resourcePaths.h"
#include "queries/rhevQueries.h"

namespace Hypervale {

bool TzHypervale::createStorageDomain(SStorageDomainInfoLib& domain) try {
  SDataCenterInfoLib dc;
  if (!queries->getDataCenterInfo(domain.dataCenterName, "", dc, 0)) return false;
  domain.storageFormat = dc.storageFormat;
  Debug(HV_FUNC, "Stoage Format of datcenter %s is  [%s]", domain.dataCenterName.c_str(),
        domain.storageFormat.c_str());
  return operations->createStorageDomain(domain);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::IsStorageDomainEmpty(SStorageDomainInfoLib& domain, bool& empty,
                                       bool& exists) try {
  const char* function = HV_FUNC;
  empty = false;
  exists = true;
  // A domain counts as empty only on complete lists: a verdict on partial ones could let
  // the caller destroy a domain that still holds disks. Anything unsure leaves it "in use".
  const auto unsure = [&](const char* why) {
    Debug(function, "Failed to get information of resources being used by storage domain [%s]",
          domain.name.c_str());
    Error(function,
          "Could not establish whether storage domain [%s] is empty (%s); treating it "
          "as in use",
          domain.name.c_str(), why);
    return true;
  };
  std::vector<SStorageDomainInfoLib> found;
  const std::string search = paths::Search(paths::kStorageDomains, "name", domain.name);
  if (!queries->getStorageDomainInfoListFromLink(search, found, detail::kDomainUsers)) {
    return unsure("the domain could not be looked up");
  }
  KeepExactName(found, domain.name);
  if (found.empty()) {
    exists = false;
    empty = true;
    return true;
  }
  if (found.size() > 1) return unsure("several domains carry that name");
  SStorageDomainInfoLib& current = found.front();
  if (current.links.find(paths::sub::kDisks) == current.links.end()) {
    return unsure("the engine lists no disks for it");
  }
  if (!FillStorageDomainInfoDetails(current, detail::kDomainUsers)) {
    return unsure("its disks or the VMs using them could not be read");
  }
  Debug(HV_FUNC, "VM count [%zd] and disk count [%zd] in domain [%s]", current.vms.size(),
        current.disks.size(), domain.name.c_str());
  auto& disks = current.disks;
  disks.erase(std::remove_if(disks.begin(), disks.end(),
                             [](const SDiskInfoLib& d) { return d.name == "OVF_STORE"; }),
              disks.end());
  if (current.vms.empty() && disks.empty()) {
    domain.id = current.id;
    empty = true;
  }
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::deleteStorageDomain(SStorageDomainInfoLib& domain, bool& empty) try {
  bool exists = false;
  if (!IsStorageDomainEmpty(domain, empty, exists)) return false;
  if (!exists) {
    Debug(HV_FUNC, "Stoage domain (%s) does not exist", domain.name.c_str());
    return true;
  }
  if (empty) {
    Debug(HV_FUNC, "Stoage domain (%s, %s) is empty. Destroying ...", domain.id.c_str(),
          domain.name.c_str());
    return operations->deleteStorageDomain(domain);
  }
  Debug(HV_FUNC, "Stoage domain %s is in-use, hence can't destory", domain.name.c_str());
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::DoesStorageDomainExist(const std::string& dataCenterName,
                                         const std::string& storageDomainName, bool& exists,
                                         bool& active) try {
  exists = false;
  active = false;
  std::string status;
  if (dataCenterName.empty()) {
    // Found by name is existing, whether or not its data center can tell its status.
    SStorageDomainInfoLib found;
    if (storageDomainName.empty() ||
        !queries->getStorageDomainInfo(storageDomainName, "", found, 0)) {
      return true;
    }
    exists = true;
    queries->getStorageDomainStatusOf(found, status);
  } else {
    queries->getStorageDomainStatus(dataCenterName, storageDomainName, "", status);
    exists = !status.empty();
  }
  active = boost::algorithm::iequals(status, "active");
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::addNicToVM(const std::string& vmId, const std::string& vnicProfileName) try {
  std::vector<SVnicProfileInfoLib> profiles;
  if (!queries->getVnicProfileInfoList(profiles, 0) || profiles.empty()) return false;
  std::string profileId;
  for (const auto& profile : profiles) {
    Debug(HV_FUNC, "vnic profile [%s][%s], networkId: [%s]", profile.id.c_str(),
          profile.name.c_str(), profile.networkId.c_str());
    if (profile.name == vnicProfileName) {
      profileId = profile.id;
      break;
    }
  }
  if (profileId.empty()) {
    Error(HV_FUNC, "vnic profile %s not found", vnicProfileName.c_str());
    return false;
  }
  Debug(HV_FUNC, "vnic profile [%s][%s] found", profileId.c_str(), vnicProfileName.c_str());
  SNicInfoLib nic;
  nic.name = "nic1";
  TzPlatformInfo().getString("VirtualServer", "sRhevNicInterfaceName", &nic.interface);
  if (nic.interface.empty()) nic.interface = "rtl8139";
  nic.vnicProfileId = profileId;
  return operations->addNicToVM(vmId, nic);
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

}  // namespace Hypervale
