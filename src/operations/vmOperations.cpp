// Creating, deleting, starting and stopping VMs, and adding a NIC to one.
#include "operations/operationsInternal.h"

namespace Hypervale {

bool TzRhevOperations::createVM(SVMInfoLib& vm) {
  const char* function = HV_FUNC;
  if (vm.clusterId.empty()) {
    if (!vm.clusterName.empty()) {
      // Only an existence check: the request names the cluster by name.
      SClusterInfoLib cluster;
      if (!queries->getClusterInfo(vm.clusterName, "", cluster, 0)) {
        Error(function, "Failed to find cluster [%s] to create VM [%s]", vm.clusterName.c_str(),
              vm.name.c_str());
        return false;
      }
    } else if (!vm.hostName.empty() || !vm.hostId.empty()) {
      SHostInfoLib host;
      if (!queries->getHostInfo(vm.hostName, vm.hostId, host, 0)) {
        Error(function, "Failed to find host [%s/%s] to create VM [%s]", vm.hostName.c_str(),
              vm.hostId.c_str(), vm.name.c_str());
        return false;
      }
      vm.clusterId = host.clusterId;
    } else {
      Error(function, "No host or cluster specified to create VM [%s]", vm.name.c_str());
      return false;
    }
  }

  std::string answer;
  if (!PostRecord(function, paths::kVms, vm, answer, &TzRhevParser::serializeVMInfo,
                  &TzRhevParser::parseVMInfo, "createVM")) {
    return false;
  }
  Debug(function, "createVM API returned success: VM ID[%s] Name[%s]", vm.id.c_str(),
        vm.name.c_str());
  if (!FindAccepted(function, vm, [&](std::vector<SVMInfoLib>& listed) {
        return queries->getVMInfoListFromLink(paths::Search(paths::kVms, "name", vm.name), listed,
                                              0);
      })) {
    return false;
  }
  const std::string id = vm.id;
  const std::string name = vm.name;

  const std::string link = paths::Vm(id);
  const Poll result = PollUntil(ConfiguredWait(), [&](std::uint64_t) {
    std::string body;
    const Lookup read = queries->FetchRecord(link, body, vm, &TzRhevParser::parseVMInfo, false);
    if (read == Lookup::kUnreadable) {
      Error(function, "Failed to parse createVM response [%s]", body.c_str());
    }
    if (read != Lookup::kFound) return Poll::kFailed;
    Debug(function, "Current state of vm [%s][%s] : [%s]", name.c_str(), id.c_str(),
          vm.status.c_str());
    if (!ops::SameWord(vm.status, "Down")) return Poll::kWait;
    Debug(function, "vm[%s][%s] created successfully", name.c_str(), id.c_str());
    return Poll::kDone;
  });
  if (result == Poll::kWait) {
    Error(function, "Timed out polling for create VM [%s][%s] to be in down statue", name.c_str(),
          id.c_str());
  }
  return result == Poll::kDone;
}

bool TzRhevOperations::deleteVM(const std::string& name, const std::string& id) {
  SVMInfoLib vm;
  switch (queries->findVM(name, id, vm)) {
    case Lookup::kFound:
      break;
    case Lookup::kNotFound:
      Debug(HV_FUNC, "VM [%s][%s] does not exist", name.c_str(), id.c_str());
      return true;
    case Lookup::kFailed:
    case Lookup::kUnreadable:
      return false;
  }
  SActionInfoLib answer;
  const std::string target = vm.href.empty() ? paths::Vm(vm.id) : paths::FromLink(vm.href);
  if (!SendAction({HTTP_REQ_DELETE, target}, &answer)) {
    return false;
  }
  if (ops::SameWord(answer.status, "complete")) return true;
  Error(HV_FUNC, "Delete VM returned state: %s", answer.status.c_str());
  return false;
}

bool TzRhevOperations::changePowerState(SVMInfoLib& vm, int powerState) {
  // Anything but stop (0) and start (1) would post to no action at all.
  if (powerState != 0 && powerState != 1) {
    Error(HV_FUNC, "Invalid power state [%d] for VM [%s][%s]: 0 stops, 1 starts", powerState,
          vm.name.c_str(), vm.id.c_str());
    return false;
  }
  if (!queries->getVMInfo(vm.name, vm.id, vm, 0)) {
    Error(HV_FUNC, "Failed to get VMInfo for VM [%s][%s]", vm.name.c_str(), vm.id.c_str());
    return false;
  }
  const bool wantUp = powerState == 1;
  const std::string path = paths::VmAction(vm.id, wantUp ? paths::sub::kStart : paths::sub::kStop);
  // The answer is not read: the VM's state tells the outcome.
  if (!SendAction({HTTP_REQ_POST, path}, nullptr)) return false;
  const char* wanted = wantUp ? "up" : "down";
  const std::string link = paths::Vm(vm.id);
  Debug(HV_FUNC, "Wait for VM power status to become [%s] using link [%s]", wanted, link.c_str());
  bool flag = wantUp;
  const bool reached = pollOnStatus(link, flag, &TzRhevOperations::checkChangePowerStateCallBack);
  if (reached) Debug(HV_FUNC, "Power state changed to [%s] for VM id [%s]", wanted, vm.id.c_str());
  return reached;
}

bool TzRhevOperations::addNicToVM(const std::string& vmId, SNicInfoLib& nic) {
  const char* function = HV_FUNC;
  const auto sending = [&](const std::string& request) {
    Debug(function, "xml request [%s] to add nic to VM [%s]", request.c_str(), vmId.c_str());
  };
  std::string answer;
  if (!PostRecord(function, paths::VmNics(vmId), nic, answer, &TzRhevParser::serializeNicInfo,
                  &TzRhevParser::parseNicInfo, "add nic", sending)) {
    return false;
  }
  Debug(function, "Nic added with ID [%s], Name[%s], plugged status [%s]", nic.id.c_str(),
        nic.name.c_str(), ops::BoolText(nic.plugged));
  return pollForNicLinkedToVM(vmId, nic.id);
}

bool TzRhevOperations::pollForNicLinkedToVM(const std::string& vmId, const std::string& nicId) {
  const char* function = HV_FUNC;
  const std::string link = paths::VmNic(vmId, nicId);
  const Poll result = PollUntil(ConfiguredWait(), [&](std::uint64_t) {
    std::string body;
    SNicInfoLib nic;
    const Lookup read = queries->FetchRecord(link, body, nic, &TzRhevParser::parseNicInfo, false);
    if (read == Lookup::kUnreadable) {
      Error(function, "Failed to parse add nic response [%s]", body.c_str());
    }
    if (read != Lookup::kFound) return Poll::kFailed;
    if (!nic.linked || !nic.plugged) return Poll::kWait;
    Debug(function, "Done polling for nic [%s] to be linked to VM %s", nicId.c_str(), vmId.c_str());
    return Poll::kDone;
  });
  if (result == Poll::kWait) {
    Debug(function, "Timed out polling for nic [%s] to be linked to VM %s", nicId.c_str(),
          vmId.c_str());
  }
  return result == Poll::kDone;
}

}  // namespace Hypervale
