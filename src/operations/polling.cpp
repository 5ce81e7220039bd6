// The generic status wait with its checkers, and the waits on engine jobs.
#include <limits>

#include "host/platformInfo.h"
#include "operations/operationsInternal.h"

namespace Hypervale {
namespace {

// A job may run for hours (a live merge of large disks), but never for ever.
const unsigned long kDefaultJobMaxWaitSec = 21600;

}  // namespace

unsigned long TzRhevOperations::JobMaxWaitSec() const {
  // Read per wait so that a changed limit applies to the next one.
  unsigned long maxWaitSec = kDefaultJobMaxWaitSec;
  TzPlatformInfo().getNumber("VirtualServer", "nRhevJobMaxWaitSec", &maxWaitSec);
  return maxWaitSec;
}

TzRhevOperations::WaitPolicy TzRhevOperations::LongTaskWait() const {
  WaitPolicy policy = ConfiguredWait();
  policy.extraChecks = std::numeric_limits<std::uint64_t>::max();
  policy.maxWaitMs = static_cast<std::uint64_t>(JobMaxWaitSec()) * 1000;
  return policy;
}

bool TzRhevOperations::pollOnStatus(const std::string& link, bool& flag, checkerCbk checker) {
  return PollOnStatusWithin(ConfiguredWait(), link, flag, checker);
}

bool TzRhevOperations::PollOnStatusWithin(const WaitPolicy& policy, const std::string& link,
                                          bool& flag, checkerCbk checker) {
  const char* function = HV_FUNC;
  if (!checker) {
    Error(function, "No status checker given for link [%s]", link.c_str());
    return false;
  }
  // A snapshot is read with all its content, as every read of one snapshot is.
  const bool allContent = checker == &TzRhevOperations::checkSnapshotStatusCallBack;
  std::string response;
  const Poll result = PollUntil(policy, [&](std::uint64_t remaining) {
    const bool got = allContent ? queries->getAllContentFromLink(link, response, false)
                                : queries->getFromLink(link, response, false);
    if (!got) {
      Error(function, "Failed to get response from link [%s]", link.c_str());
      return Poll::kFailed;
    }
    const Poll decided = (this->*checker)(response, flag);
    if (decided == Poll::kWait) {
      Debug(function, "Continue to wait...[%lu]", static_cast<unsigned long>(remaining));
      DebugLvl(function, 2, "resp [%s]", response.c_str());
    } else if (decided == Poll::kDone) {
      Debug(function, "Done waiting");
      DebugLvl(function, 2, "resp [%s]", response.c_str());
    }
    return decided;
  });
  switch (result) {
    case Poll::kDone:
      return true;
    case Poll::kWait:
      Error(function, "Timed out waiting for status - last resp [%s]", response.c_str());
      return false;
    case Poll::kUnreadable:
      // A broken answer is no proof that the resource got anywhere, whichever checker read it.
      Error(function, "Stopped waiting on an unreadable answer from link [%s]", link.c_str());
      return false;
    case Poll::kFailed:
      return false;  // the checker said why
  }
  return false;
}

TzRhevOperations::Poll TzRhevOperations::checkCreationStatusCallBack(const std::string& response,
                                                                     bool& flag) {
  flag = true;
  SCreationInfoLib creation;
  if (!parser->parseCreation(response, creation)) {
    Error(HV_FUNC, "Failed to parse xml response for creation status!");
    flag = false;
    return Poll::kUnreadable;
  }
  if (ops::SameWord(creation.status, "complete")) {
    Debug(HV_FUNC, "creation status [%s] is now complete", creation.status.c_str());
    return Poll::kDone;
  }
  if (ops::SameWord(creation.status, "failed")) {
    Debug(HV_FUNC, "creation status [%s] has failed", creation.status.c_str());
    flag = false;
    return Poll::kDone;
  }
  Debug(HV_FUNC, "creation status [%s] - not complete", creation.status.c_str());
  return Poll::kWait;
}

TzRhevOperations::Poll TzRhevOperations::checkSnapshotStatusCallBack(const std::string& response,
                                                                     bool& flag) {
  SSnapshotInfoLib snapshot;
  if (!parser->parseSnapshotInfo(response, snapshot)) {
    Error(HV_FUNC, "Failed to parse xml response for snapshot!");
    flag = false;
    return Poll::kUnreadable;
  }
  if (ops::SameWord(snapshot.snapshotStatus, "locked")) {
    Debug(HV_FUNC, "snapshot status still locked");
    return Poll::kWait;
  }
  Debug(HV_FUNC, "snapshot status [%s] ready", snapshot.snapshotStatus.c_str());
  flag = true;
  return Poll::kDone;
}

TzRhevOperations::Poll TzRhevOperations::checkDiskStatusCallBack(const std::string& response,
                                                                 bool& /*flag*/) {
  SDiskInfoLib disk;
  if (!parser->parseDiskInfo(response, disk)) {
    Error(HV_FUNC, "Failed to parse xml response for Disk!");
    return Poll::kUnreadable;
  }
  if (ops::SameWord(disk.status, "locked")) {
    Debug(HV_FUNC, "Disk status still locked");
    return Poll::kWait;
  }
  // The engine marks a disk it failed to create or copy "illegal"; it is no usable disk.
  if (ops::SameWord(disk.status, "illegal")) {
    Error(HV_FUNC, "Disk [%s] ended in status [%s]", disk.id.c_str(), disk.status.c_str());
    return Poll::kFailed;
  }
  Debug(HV_FUNC, "Disk status [%s] ready", disk.status.c_str());
  return Poll::kDone;
}

TzRhevOperations::Poll TzRhevOperations::checkDiskActiveStatusCallBack(const std::string& response,
                                                                       bool& flag) {
  DebugLvl(HV_FUNC, 2, "schema version = [%d]", static_cast<int>(parser->getSchemaVersion()));
  SDiskInfoLib disk;
  if (!parser->parseDiskInfo(response, disk)) {
    Error(HV_FUNC, "Failed to parse xml response for disk!");
    return Poll::kUnreadable;
  }
  if (disk.active == flag) {
    Debug(HV_FUNC, "disk status is now [%s]", ops::BoolText(disk.active));
    return Poll::kDone;
  }
  Debug(HV_FUNC, "disk status is [%s]. Continue to wait", ops::BoolText(disk.active));
  return Poll::kWait;
}

TzRhevOperations::Poll TzRhevOperations::checkChangePowerStateCallBack(const std::string& response,
                                                                       bool& flag) {
  SVMInfoLib vm;
  if (!parser->parseVMInfo(response, vm)) {
    Error(HV_FUNC, "Failed to parse xml response for VM!");
    return Poll::kUnreadable;
  }
  if (ops::SameWord(vm.status, flag ? "up" : "down")) {
    Debug(HV_FUNC, "VM status is now [%s]", vm.status.c_str());
    return Poll::kDone;
  }
  Debug(HV_FUNC, "vm status is [%s]. Continue to wait", vm.status.c_str());
  return Poll::kWait;
}

bool TzRhevOperations::pollForRhevJobCompletion(const std::string& jobId) {
  const char* function = HV_FUNC;
  if (jobId.empty()) {
    Error(function, "No job id to wait for");
    return false;
  }
  // Unbounded in polls: the time bound and the allowance for failed reads end the wait.
  WaitPolicy policy = LongTaskWait();
  const unsigned long maxWaitSec = static_cast<unsigned long>(policy.maxWaitMs / 1000);
  policy.unreadableAllowed = retryCount;

  const std::string link = paths::Job(jobId);
  SJobInfoLib job;
  const Poll result = PollUntil(policy, [&](std::uint64_t) {
    std::string body;
    SJobInfoLib latest;
    // Read three-way so that a 404 is judged on this very request.
    switch (queries->FetchRecord(link, body, latest, &TzRhevParser::parseJobInfo, true)) {
      case Lookup::kFound:
        break;
      case Lookup::kNotFound:
        Error(function, "Job [%s] does not exist", jobId.c_str());
        return Poll::kFailed;
      case Lookup::kFailed:
      case Lookup::kUnreadable:
        return Poll::kUnreadable;
    }
    job = latest;
    Debug(function, "job [%s]:[%s] - current state [%s] - waiting for [%s]...", job.id.c_str(),
          job.description.c_str(), job.status.c_str(), "FINISHED");
    if (ops::SameWord(job.status, "FINISHED")) {
      Debug(function, "Polling completed : job [%s]:[%s] - state [%s]", job.id.c_str(),
            job.description.c_str(), job.status.c_str());
      return Poll::kDone;
    }
    if (ops::SameWord(job.status, "FAILED") || ops::SameWord(job.status, "UNKNOWN") ||
        ops::SameWord(job.status, "ABORTED")) {
      Error(function, "Job [%s]:[%s] ended in state [%s]", job.id.c_str(), job.description.c_str(),
            job.status.c_str());
      return Poll::kFailed;
    }
    return Poll::kWait;
  });
  if (result == Poll::kUnreadable) {
    Error(function, "Failed to read job [%s] - giving up", jobId.c_str());
  } else if (result == Poll::kWait) {
    // A job stuck in a state that is not an end state must not hold the caller for ever.
    Error(function, "Job [%s]:[%s] has not ended within [%lu] seconds - last state [%s]",
          jobId.c_str(), job.description.c_str(), maxWaitSec, job.status.c_str());
  }
  return result == Poll::kDone;
}

bool TzRhevOperations::pollVMSnapshotStatus(const SVMInfoLib& /*vm*/,
                                            const SSnapshotInfoLib& snapshot,
                                            const std::string& correlationId) {
  // Before 4.2 the engine ignores the job search and lists every job it knows: none can be
  // told to be this request's, so the snapshot's own status decides.
  if (parser->getSchemaVersion() < schema::kJobSearch) {
    Debug(HV_FUNC, "Engine cannot search jobs; the status of snapshot [%s] decides",
          snapshot.id.c_str());
    return true;
  }
  const std::string url = paths::JobsCorrelated(correlationId);
  std::string response;
  if (!connection->get(url, response, true)) return false;
  std::vector<SJobInfoLib> jobs;
  if (!parser->parseJobInfoList(response, jobs)) {
    Error(HV_FUNC, "Failed to read the jobs of correlation Id [%s]", correlationId.c_str());
    return false;
  }
  if (jobs.empty()) {
    Error(HV_FUNC, "no job found for correlation Id [%s]; the status of snapshot [%s] decides",
          correlationId.c_str(), snapshot.id.c_str());
    return true;
  }
  // The search answers this request's own job; engines describe it in words of their own
  // ("Creating VM Snapshot ... for VM ..."), never by the correlation id.
  return pollForRhevJobCompletion(jobs.front().id);
}

bool TzRhevOperations::WaitForUnlockSnapshot(const std::string& vmId,
                                             const std::string& snapshotId) {
  // Snapshots of large disks, or with memory, stay locked far longer than a status wait: the
  // bound is the one for engine jobs.
  const std::string link = paths::VmSnapshot(vmId, snapshotId);
  const WaitPolicy policy = LongTaskWait();
  bool unlocked = false;
  if (PollOnStatusWithin(policy, link, unlocked, &TzRhevOperations::checkSnapshotStatusCallBack) &&
      unlocked) {
    return true;
  }
  Error(HV_FUNC,
        "Snapshot [%s] of VM [%s] did not become usable within [%lu] seconds "
        "(nRhevJobMaxWaitSec); it may still be locked on the engine and need removing",
        snapshotId.c_str(), vmId.c_str(), static_cast<unsigned long>(policy.maxWaitMs / 1000));
  return false;
}

}  // namespace Hypervale
