// Creating storage domains through a host, attaching and activating them in a data center,
// and removing them again (maintenance, then destroy through the host).
#include <vector>

#include "operations/operationsInternal.h"

namespace Hypervale {

bool TzRhevOperations::createStorageDomain(SStorageDomainInfoLib& domain) {
  const std::string dataCenterName = domain.dataCenterName;
  if (dataCenterName.empty()) {
    Error(HV_FUNC, "Datacenter name can't be empty to create storage domain");
    return false;
  }
  if (domain.hostName.empty()) {
    Error(HV_FUNC, "Host name can't be empty to create storage domain");
    return false;
  }
  domain.dataCenterName.clear();  // the create request is not tied to a data center
  const char* function = HV_FUNC;
  const auto sending = [&](const std::string& request) {
    Debug(function, "storage domain create xml [%s]", request.c_str());
  };
  std::string answer;
  if (!PostRecord(function, paths::kStorageDomains, domain, answer,
                  &TzRhevParser::serializeStorageDomainInfo, &TzRhevParser::parseStorageDomainInfo,
                  "create storage domain", sending)) {
    return false;
  }
  Debug(function, "Storage domain created with ID [%s], Name[%s], Status [%s]", domain.id.c_str(),
        domain.name.c_str(), domain.status.c_str());
  if (!pollForStorageDomainStatus("", domain.name, "unattached")) return false;
  if (attachAndActivateStorageDomain(dataCenterName, domain)) return true;
  destroyStorageDomain(domain);  // remove the half-set-up domain; the attach failure counts
  return false;
}

bool TzRhevOperations::attachAndActivateStorageDomain(const std::string& dataCenterName,
                                                      SStorageDomainInfoLib& domain) {
  SDataCenterInfoLib dataCenter;
  if (!queries->getDataCenterInfo(dataCenterName, "", dataCenter, 0)) return false;
  domain.dataCenterName = dataCenterName;
  std::string answer;
  if (!PostRecord(HV_FUNC, paths::DataCenterStorageDomains(dataCenter.id), domain, answer,
                  &TzRhevParser::serializeStorageDomainInfo, &TzRhevParser::parseStorageDomainInfo,
                  "create storage domain")) {
    return false;
  }
  Debug(HV_FUNC, "Storage domain [%s] attached to datacenter [%s], Status [%s]",
        domain.name.c_str(), dataCenterName.c_str(), domain.status.c_str());
  if (!storageDomainAction(dataCenter.id, domain.id, true)) return false;
  return pollForStorageDomainStatus(dataCenterName, domain.name, "active");
}

bool TzRhevOperations::storageDomainAction(const std::string& dataCenterId,
                                           const std::string& domainId, bool activate) {
  // From 4.0.2 on the engine activates a domain when it is attached.
  if (activate && parser->getSchemaVersion() >= schema::kDiskAttachments) return true;
  const char* action = activate ? paths::sub::kActivate : paths::sub::kDeactivate;
  const std::string path = paths::DataCenterStorageDomainAction(dataCenterId, domainId, action);
  Action request{HTTP_REQ_POST, path};
  request.writeFailure = "Failed to serialize action object to activate storage domain";
  SActionInfoLib answer;
  if (!SendAction(request, &answer)) return false;
  if (ops::SameWord(answer.status, "complete")) return true;
  Error(HV_FUNC, "%s action on storage domain returned state: %s", action, answer.status.c_str());
  return false;
}

bool TzRhevOperations::pollForStorageDomainStatus(const std::string& dataCenterName,
                                                  const std::string& domainName,
                                                  const std::string& wantedStatus) {
  const char* function = HV_FUNC;
  Debug(function, "Waiting for storage domain [%s] to become [%s] state", domainName.c_str(),
        wantedStatus.c_str());
  const Poll result = PollUntil(ConfiguredWait(), [&](std::uint64_t remaining) {
    std::string status;
    if (!queries->getStorageDomainStatus(dataCenterName, domainName, "", status)) {
      return Poll::kFailed;
    }
    Debug(function, "Current status of storage domain [%s]: %s", domainName.c_str(),
          status.c_str());
    if (boost::algorithm::iequals(status, wantedStatus)) {
      Debug(function, "Done waiting for status : %s", wantedStatus.c_str());
      return Poll::kDone;
    }
    DebugLvl(function, 2, "Continue to wait...[%lu]", static_cast<unsigned long>(remaining));
    return Poll::kWait;
  });
  if (result == Poll::kWait) {
    Debug(function, "Timed out for polling of state [%s] for storage domain [%s]",
          wantedStatus.c_str(), domainName.c_str());
  }
  return result == Poll::kDone;
}

Lookup TzRhevOperations::ReadAttachedStorageDomainStatus(const SStorageDomainInfoLib& domain,
                                                         std::string& status) {
  if (domain.name.empty()) {
    Error(HV_FUNC, "Storage domain name is needed to read its status [%s]", domain.id.c_str());
    return Lookup::kFailed;
  }
  SDataCenterInfoLib dataCenter;
  if (!queries->getDataCenterInfo(domain.dataCenterName, "", dataCenter, 0)) return Lookup::kFailed;
  std::string body;
  std::vector<SStorageDomainInfoLib> listed;
  const Lookup found = queries->FetchRecord(
      paths::Search(paths::DataCenterStorageDomains(dataCenter.id), "name", domain.name), body,
      listed, &TzRhevParser::parseStorageDomainInfoList, true);
  if (found != Lookup::kFound) return found;
  KeepExactName(listed, domain.name);
  if (listed.empty()) return Lookup::kNotFound;
  status = listed.front().status;
  return Lookup::kFound;
}

Lookup TzRhevOperations::StatusForRemoval(SStorageDomainInfoLib& domain, std::string& status) {
  if (domain.dataCenterName.empty()) {
    // Outside a data center the engine shows the status of unattached domains only; an
    // attached one names its data center, which then decides as if it had been given.
    SStorageDomainInfoLib found;
    const Lookup read = queries->findStorageDomain(domain.name, domain.id, found);
    if (read != Lookup::kFound) return read;
    if (found.dataCenterIds.empty()) {
      status = found.status;
      return status.empty() ? Lookup::kFailed : Lookup::kFound;
    }
    if (found.dataCenterIds.size() > 1) {
      Error(HV_FUNC, "Storage domain [%s][%s] is attached to %zu datacenters", domain.id.c_str(),
            domain.name.c_str(), found.dataCenterIds.size());
      return Lookup::kFailed;
    }
    SDataCenterInfoLib dataCenter;
    if (!queries->getDataCenterInfo("", found.dataCenterIds.front(), dataCenter, 0) ||
        dataCenter.name.empty()) {
      return Lookup::kFailed;
    }
    Debug(HV_FUNC, "Storage domain [%s] is attached to datacenter [%s]", domain.name.c_str(),
          dataCenter.name.c_str());
    domain.dataCenterName = dataCenter.name;
  }
  const Lookup attached = ReadAttachedStorageDomainStatus(domain, status);
  if (attached == Lookup::kFound) return status.empty() ? Lookup::kFailed : Lookup::kFound;
  if (attached != Lookup::kNotFound) return attached;
  // Missing from the data center's list is no proof that the domain is gone.
  SStorageDomainInfoLib found;
  const Lookup read = queries->findStorageDomain(domain.name, domain.id, found);
  if (read != Lookup::kFound) return read;
  Error(HV_FUNC, "Storage domain [%s][%s] exists but is not attached to datacenter [%s]",
        domain.id.c_str(), domain.name.c_str(), domain.dataCenterName.c_str());
  return Lookup::kFailed;
}

bool TzRhevOperations::deleteStorageDomain(SStorageDomainInfoLib& domain) {
  if (domain.hostName.empty()) {
    Error(HV_FUNC, "Host can't be empty to estroy storage domain [%s][%s]", domain.id.c_str(),
          domain.name.c_str());
    return false;
  }
  // Only the engine saying that the domain is not there makes it count as removed. A domain
  // whose status cannot be established may be active: nothing destructive is sent then.
  SStorageDomainInfoLib located = domain;  // the data center may be learnt from the engine
  std::string status;
  switch (StatusForRemoval(located, status)) {
    case Lookup::kFound:
      break;
    case Lookup::kNotFound:
      Debug(HV_FUNC, "Storage domain [%s][%s] does not exist - nothing to delete",
            domain.id.c_str(), domain.name.c_str());
      return true;
    case Lookup::kFailed:
    case Lookup::kUnreadable:
      Error(HV_FUNC, "Could not establish the status of storage domain [%s][%s]; not destroying it",
            domain.id.c_str(), domain.name.c_str());
      return false;
  }
  Debug(HV_FUNC, "Storage domain [%s], current Status: %s", domain.name.c_str(), status.c_str());
  if (!ops::SameWord(status, "active")) {
    Error(HV_FUNC, "Storage domain [%s] is not in active state. Destroying ...",
          domain.name.c_str());
    return destroyStorageDomain(domain);
  }
  SDataCenterInfoLib dataCenter;
  if (!queries->getDataCenterInfo(located.dataCenterName, "", dataCenter, 0)) return false;
  if (!storageDomainAction(dataCenter.id, domain.id, false)) return false;
  if (!pollForStorageDomainStatus(located.dataCenterName, domain.name, "maintenance")) {
    return false;
  }
  return destroyStorageDomain(domain);
}

bool TzRhevOperations::destroyStorageDomain(SStorageDomainInfoLib& domain) {
  if (domain.id.empty()) {
    Error(HV_FUNC, "Storage domain id is needed to destroy storage domain [%s]",
          domain.name.c_str());
    return false;
  }
  const char* function = HV_FUNC;
  Action destroy{HTTP_REQ_DELETE, paths::StorageDomainDestroy(domain.id, domain.hostName)};
  destroy.notSent = [&](const std::string&) {
    Error(function, "destroy storage domain [%s][%s] request failed", domain.id.c_str(),
          domain.name.c_str());
  };
  SActionInfoLib answer;
  if (!SendAction(destroy, &answer)) return false;
  if (!ops::SameWord(answer.status, "complete")) {
    Error(HV_FUNC, "Destroy Storage domain [%s] has not completed, returned state: %s",
          domain.name.c_str(), answer.status.c_str());
    return false;
  }
  std::string body;
  SStorageDomainInfoLib scratch;
  const Lookup after = queries->FetchRecord(paths::StorageDomain(domain.id), body, scratch,
                                            &TzRhevParser::parseStorageDomainInfo, true);
  if (after == Lookup::kNotFound) {
    Debug(HV_FUNC, "Storage domain [%s][%s] has been destoryed successfully", domain.id.c_str(),
          domain.name.c_str());
    return true;
  }
  Error(HV_FUNC, "Storage domain [%s][%s] still exist after destroy", domain.name.c_str(),
        domain.id.c_str());
  return false;
}

}  // namespace Hypervale
