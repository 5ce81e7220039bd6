// Taking and deleting VM snapshots, each followed through its engine job.
#include <cctype>
#include <ctime>
#include <limits>

#include "operations/operationsInternal.h"

namespace Hypervale {
namespace {

const std::string::size_type kMaxCorrelationIdLength = 36;

}  // namespace

std::string TzRhevOperations::MakeCorrelationId(const std::string& vmName,
                                                const std::string& description, long now) {
  // The description reads "_QZ_BACKUP_" + VM name + "_" + middle + "_" + final part; the
  // middle part and the time make the id. A description no longer than the prefix has an
  // empty middle part rather than none.
  const std::string::size_type prefixLength = std::string("_QZ_BACKUP_").size() + vmName.size() + 1;
  std::string middle;
  if (description.size() > prefixLength) {
    const std::string::size_type last = description.rfind('_');
    middle = (last == std::string::npos || last < prefixLength)
                 ? description.substr(prefixLength)
                 : description.substr(prefixLength, last - prefixLength);
  }
  // The engine keeps only [0-9a-zA-Z_-] of a correlation id, at most 36 of them, and searches
  // jobs by what it kept: the id is sent as the engine will keep it, the time always whole.
  std::string time;
  FormatString(time, "_%ld", now);
  std::string id;
  for (const char c : middle) {
    if (id.size() + time.size() >= kMaxCorrelationIdLength) break;
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-') id += c;
  }
  return (id + time).substr(0, kMaxCorrelationIdLength);
}

bool TzRhevOperations::createVMSnapshot(SVMInfoLib& vm, SSnapshotInfoLib& snapshot) {
  if (vm.id.empty()) {
    Error(HV_FUNC, "Must pass VM id to create VM Snapshot");
    return false;
  }
  const std::string correlationId =
      MakeCorrelationId(vm.name, snapshot.description, static_cast<long>(std::time(nullptr)));
  std::string answer;
  if (!PostRecord(HV_FUNC, paths::VmSnapshotsCorrelated(vm.id, correlationId), snapshot, answer,
                  &TzRhevParser::serializeSnapshotInfo, &TzRhevParser::parseSnapshotInfo,
                  "createVMSnapshot", nullptr, "Failed to serialize SSnapshotLib")) {
    return false;
  }
  DebugLvl(HV_FUNC, 2, "createVMSnapshot request accepted : Snap ID[%s] Desc[%s]",
           snapshot.id.c_str(), snapshot.description.c_str());

  if (!pollVMSnapshotStatus(vm, snapshot, correlationId)) {
    Error(HV_FUNC, "Failed to create Snapshot of VM [%s]", vm.name.c_str());
    return false;
  }
  if (!WaitForUnlockSnapshot(vm.id, snapshot.id)) {
    Error(HV_FUNC, "Status of snapshot [%s] is not OK", snapshot.id.c_str());
    return false;
  }
  // Only the OVF of this final read counts, never one the caller's record held before.
  snapshot.ovfData.clear();
  if (!queries->getSnapshotInfo(vm.id, snapshot, 0)) {
    Error(HV_FUNC, "VM Snapshot [%s][%s] not found", snapshot.id.c_str(),
          snapshot.description.c_str());
    return false;
  }
  if (!ops::SameWord(snapshot.snapshotType, "regular")) {
    Error(HV_FUNC, "Type of snapshot [%s] created is [%s]", snapshot.id.c_str(),
          snapshot.snapshotType.c_str());
    return false;
  }
  Debug(HV_FUNC, "VM Snapshot created successfuly. ID[%s] Desc[%s]", snapshot.id.c_str(),
        snapshot.description.c_str());
  return true;
}

bool TzRhevOperations::createVMSnapshot(const std::string& vmName, const std::string& vmId,
                                        const std::string& description, std::string& snapshotId) {
  SVMInfoLib vm;
  if (!queries->getVMInfo(vmName, vmId, vm, 0)) return false;
  SSnapshotInfoLib snapshot;
  snapshot.description = description;
  const bool created = createVMSnapshot(vm, snapshot);
  snapshotId = snapshot.id;
  return created;
}

bool TzRhevOperations::deleteVMSnapshot(const std::string& vmName, const std::string& vmId,
                                        const std::string& snapshotId) {
  bool conflict = false;
  return deleteVMSnapshot(vmName, vmId, snapshotId, conflict);
}

bool TzRhevOperations::deleteVMSnapshot(const std::string& vmName, const std::string& vmId,
                                        const std::string& snapshotId, bool& conflict) {
  const char* function = HV_FUNC;
  if (snapshotId.empty()) {
    Error(function, "Snapshot can't be empty for deletion");
    return false;
  }
  SVMInfoLib vm;
  if (!queries->getVMInfo(vmName, vmId, vm, 0)) {
    // A VM the engine holds locked (a snapshot being taken, a disk moving) answers 409 too.
    if (connection->getLastErrorCode() == 409) conflict = true;
    Error(function, "Invalid vm name[%s] id[%s]", vmName.c_str(), vmId.c_str());
    return false;
  }
  const std::string link = paths::VmSnapshot(vm.id, snapshotId);
  SSnapshotInfoLib snapshot;
  snapshot.id = snapshotId;
  std::string body;
  const Lookup read =
      queries->FetchRecord(link, body, snapshot, &TzRhevParser::parseSnapshotInfo, true);
  if (read != Lookup::kFound) {
    if (read == Lookup::kFailed && connection->getLastErrorCode() == 409) conflict = true;
    Error(function, "Invalid snapshotId [%s] for vm [%s]", snapshotId.c_str(), vm.id.c_str());
    return read == Lookup::kNotFound;
  }
  // A locked snapshot is refused, not waited for: the caller decides when to try again.
  if (!ops::SameWord(snapshot.snapshotStatus, "ok")) {
    Error(function, "Cannot delete snapshotId [%s], current status [%s]. Status must be ok",
          snapshotId.c_str(), snapshot.snapshotStatus.c_str());
    return false;
  }
  if (!ops::SameWord(vm.status, "Down") && !ops::SameWord(vm.status, "Up") &&
      !ops::SameWord(vm.status, "Paused")) {
    Error(function, "Cannot delete snapshot of vm[%s][%s]: current state: [%s]", vm.name.c_str(),
          vm.id.c_str(), vm.status.c_str());
    return false;
  }

  Action remove{HTTP_REQ_DELETE, link};
  remove.notSent = [&](const std::string&) {
    // Read right after the failed DELETE: the engine refuses a delete it cannot do now (the VM
    // or the snapshot busy) with 409.
    if (connection->getLastErrorCode() == 409) conflict = true;
    Error(function, "Failed to delete snapshotId [%s] for vm [%s]", snapshotId.c_str(),
          vm.id.c_str());
  };
  remove.unreadable = [&](const std::string& answerBody) {
    Error(function, "Cannot parse action xml [%s] - cancel poll", answerBody.c_str());
  };
  SActionInfoLib action;
  if (!SendAction(remove, &action)) return false;

  // An answer that names no job leaves only the snapshot itself to watch.
  if (action.jobId.empty()) {
    Debug(function, "No job named for the delete of snapshotId [%s] for vm [%s]",
          snapshotId.c_str(), vm.id.c_str());
  } else if (!pollForRhevJobCompletion(action.jobId)) {
    // The job failed, or could not be followed: only the engine's 404 says the snapshot went.
    const Lookup after = queries->FetchLink(link, body, false);
    if (after == Lookup::kNotFound) return true;
    Error(function,
          "The delete of snapshotId [%s] for vm [%s] did not finish (job [%s]); the snapshot %s",
          snapshotId.c_str(), vm.id.c_str(), action.jobId.c_str(),
          after == Lookup::kFound ? "is still there" : "could not be read");
    return false;
  }

  // Only the engine's 404 proves the snapshot gone; a 5xx or no answer is one more try.
  // Twice the usual number of checks, and at least one even with retryCount 0.
  const std::uint64_t checks = retryCount == 0 ? 1
                               : retryCount > std::numeric_limits<std::uint64_t>::max() / 2
                                   ? std::numeric_limits<std::uint64_t>::max()
                                   : 2 * retryCount;
  WaitPolicy goneWait = ConfiguredWait();
  goneWait.pauseMs += 10000u;
  goneWait.extraChecks = checks - 1;
  const Poll gone = PollUntil(goneWait, [&](std::uint64_t) {
    switch (queries->FetchLink(link, body, false)) {
      case Lookup::kNotFound:
        Debug(function, "Deleted snapshotId [%s] for vm [%s]", snapshotId.c_str(), vm.id.c_str());
        return Poll::kDone;
      case Lookup::kFound:
        Error(function, "Obtained snapshotId [%s] for vm [%s] - waiting for delete",
              snapshotId.c_str(), vm.id.c_str());
        break;
      case Lookup::kFailed:
      case Lookup::kUnreadable:
        Error(function, "Failed to read snapshotId [%s] for vm [%s] - HTTP [%ld], trying again",
              snapshotId.c_str(), vm.id.c_str(), static_cast<long>(connection->getLastErrorCode()));
        break;
    }
    return Poll::kWait;
  });
  if (gone == Poll::kWait) {
    Debug(function, "Failed to delete snapshotId [%s] for vm [%s] after max retry limit %lu",
          snapshotId.c_str(), vm.id.c_str(), static_cast<unsigned long>(retryCount));
  }
  return gone == Poll::kDone;
}

}  // namespace Hypervale
