// State-changing requests and the waits that follow them to completion.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>

#include "host/kwDebug.h"
#include "hypervale/records.h"
#include "queries/lookup.h"
#include "transport/libCurl.h"

namespace Hypervale {

class TzRhevConnection;
class TzRhevParser;
class TzRhevQueries;

class TzRhevOperations : public KwDebug {
 public:
  // What one check of a wait decided: the wait is done, goes on, failed (the check said why),
  // or the check got no answer it could read.
  enum class Poll { kDone, kWait, kFailed, kUnreadable };
  // A checker of pollOnStatus: reads the last answer and decides. What the flag means (an
  // input, an output, or both) is the checker's own.
  typedef Poll (TzRhevOperations::*checkerCbk)(const std::string& response, bool& flag);

  TzRhevOperations(TzRhevConnection* connection, TzRhevParser* parser, TzRhevQueries* queries);
  ~TzRhevOperations() override;
  TzRhevOperations(const TzRhevOperations&) = delete;
  TzRhevOperations& operator=(const TzRhevOperations&) = delete;

  std::uint64_t getSleepInterval() const { return sleepInterval; }
  std::uint64_t getRetryCount() const { return retryCount; }

  // Status polling and job tracking.
  bool pollOnStatus(const std::string& link, bool& flag, checkerCbk checker);
  Poll checkCreationStatusCallBack(const std::string& response, bool& flag);
  Poll checkSnapshotStatusCallBack(const std::string& response, bool& flag);
  Poll checkDiskStatusCallBack(const std::string& response, bool& flag);
  Poll checkDiskActiveStatusCallBack(const std::string& response, bool& flag);
  Poll checkChangePowerStateCallBack(const std::string& response, bool& flag);
  bool pollForRhevJobCompletion(const std::string& jobId);
  bool pollVMSnapshotStatus(const SVMInfoLib& vm, const SSnapshotInfoLib& snapshot,
                            const std::string& correlationId);
  bool WaitForUnlockSnapshot(const std::string& vmId, const std::string& snapshotId);

  // VMs and NICs.
  bool createVM(SVMInfoLib& vm);
  bool deleteVM(const std::string& name, const std::string& id);
  bool changePowerState(SVMInfoLib& vm, int powerState);
  bool addNicToVM(const std::string& vmId, SNicInfoLib& nic);
  bool pollForNicLinkedToVM(const std::string& vmId, const std::string& nicId);

  // Snapshots.
  bool createVMSnapshot(SVMInfoLib& vm, SSnapshotInfoLib& snapshot);
  bool createVMSnapshot(const std::string& vmName, const std::string& vmId,
                        const std::string& description, std::string& snapshotId);
  bool deleteVMSnapshot(const std::string& vmName, const std::string& vmId,
                        const std::string& snapshotId);
  // The same; `conflict` is set (never cleared) when the engine answered the delete with 409.
  bool deleteVMSnapshot(const std::string& vmName, const std::string& vmId,
                        const std::string& snapshotId, bool& conflict);
  // The correlation id of a snapshot request: the description's middle part and the time.
  static std::string MakeCorrelationId(const std::string& vmName, const std::string& description,
                                       long now);

  // Disks.
  bool attachDisk(const std::string& vmId, const SDiskInfoLib& disk, bool active, bool bootable,
                  bool readOnly);
  bool activateDisk(const std::string& vmId, const SDiskInfoLib& disk);
  bool deactivateDisk(const std::string& vmId, const SDiskInfoLib& disk);
  bool diskAction(const std::string& vmId, const SDiskInfoLib& disk, const std::string& action);
  bool detachDisk(const std::string& vmId, const SDiskInfoLib& disk);
  bool createDisk(SDiskInfoLib& disk);
  bool deleteDisk(const std::string& diskId);
  bool updateDisk(const std::string& vmId, const SDiskInfoLib& disk);
  bool moveDisk(const SDiskInfoLib& disk, const std::string& storageDomainId);

  // Storage domains.
  bool createStorageDomain(SStorageDomainInfoLib& domain);
  bool attachAndActivateStorageDomain(const std::string& dataCenterName,
                                      SStorageDomainInfoLib& domain);
  bool storageDomainAction(const std::string& dataCenterId, const std::string& domainId,
                           bool activate);
  bool pollForStorageDomainStatus(const std::string& dataCenterName, const std::string& domainName,
                                  const std::string& wantedStatus);
  bool deleteStorageDomain(SStorageDomainInfoLib& domain);
  bool destroyStorageDomain(SStorageDomainInfoLib& domain);

 private:
  // How long a wait may go on.
  struct WaitPolicy {
    std::uint32_t pauseMs;      // after every check that asks to wait (32-bit, as the host sleeps)
    std::uint64_t extraChecks;  // checks after the first; the last pause ends the wait
    // What the pauses may add up to: once they have, the wait ends without a further pause.
    // Each pause counts at least 1 ms, so that a zero pause cannot make the bound endless.
    std::uint64_t maxWaitMs = std::numeric_limits<std::uint64_t>::max();
    // Checks without a readable answer that the wait lets pass as one more reason to wait;
    // the next one ends it.
    std::uint64_t unreadableAllowed = 0;
  };
  // The configured wait: `sleepInterval` (its low 32 bits) between `retryCount` + 1 checks.
  WaitPolicy ConfiguredWait() const;
  // The wait for engine work that may take hours: pauses of `sleepInterval` until
  // "nRhevJobMaxWaitSec" (read now) has passed in pauses, however many checks that takes.
  WaitPolicy LongTaskWait() const;
  unsigned long JobMaxWaitSec() const;
  bool PollOnStatusWithin(const WaitPolicy& policy, const std::string& link, bool& flag,
                          checkerCbk checker);

  // The one wait loop: runs `check` (given the checks left after this one) as `policy` allows.
  // Returns what ended the wait: kDone or kFailed as a check decided, kUnreadable when a check
  // beyond the allowance got no readable answer, kWait when the wait ran out.
  Poll PollUntil(const WaitPolicy& policy,
                 const std::function<Poll(std::uint64_t remaining)>& check);

  // The domain's status among those attached to its `dataCenterName`; kNotFound when that
  // data center does not list it.
  Lookup ReadAttachedStorageDomainStatus(const SStorageDomainInfoLib& domain, std::string& status);
  // The status that decides a removal, read where the engine keeps it; fills in the data
  // center an attached domain belongs to. kNotFound only when the domain does not exist.
  Lookup StatusForRemoval(SStorageDomainInfoLib& domain, std::string& status);

  // An action request, and the caller's words for its failures beyond what the transport and
  // the parser log themselves; each is given the engine's answer body.
  struct Action {
    Action(HTTP_REQ_TYPE method, std::string path) : method(method), path(std::move(path)) {}
    HTTP_REQ_TYPE method;
    std::string path;
    SActionInfoLib document;   // an empty action unless the caller fills it in
    bool withDocument = true;  // false: the request goes with an empty body
    const char* writeFailure = "Failed to serialize action object";
    std::function<void(const std::string& answerBody)> notSent;
    std::function<void(const std::string& answerBody)> unreadable;
  };
  // Sends the action and, when `answer` is given, reads the engine's answer into it. True when
  // the engine answered and, where asked, its answer could be read.
  bool SendAction(const Action& action, SActionInfoLib* answer);
  // Writes `record`, posts it to `path` and reads the engine's answer (kept in `answer`) back
  // into it; an answer that does not read is logged as the response of `answerName`.
  // `sending` (given the written record) and `writeFailure`, when given, add the caller's
  // words. Logs as `function`.
  template <typename Record>
  bool PostRecord(const char* function, const std::string& path, Record& record,
                  std::string& answer, bool (TzRhevParser::*write)(const Record&, std::string&),
                  bool (TzRhevParser::*read)(const std::string&, Record&), const char* answerName,
                  const std::function<void(const std::string& request)>& sending = nullptr,
                  const char* writeFailure = nullptr);
  // The created object's id is the answer's; when the engine accepted the create (202)
  // without naming it, the one object `find` lists under exactly the record's name, or none.
  template <typename Record, typename Find>
  bool FindAccepted(const char* function, Record& record, const Find& find);
  // False, after saying which is missing, unless both the VM and the disk are named.
  bool NamesVmAndDisk(const char* function, const std::string& vmId, const SDiskInfoLib& disk);

  TzRhevConnection* connection;
  TzRhevParser* parser;
  TzRhevQueries* queries;
  std::uint64_t sleepInterval;  // milliseconds between two polls
  std::uint64_t retryCount;     // extra polls a wait may make
};

}  // namespace Hypervale
