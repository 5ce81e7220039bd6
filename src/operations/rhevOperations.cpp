// Construction and the steps every operation shares: the wait loop and the action request.
#include "operations/rhevOperations.h"

#include <algorithm>

#include "host/platformInfo.h"
#include "host/ubSleep.h"
#include "operations/operationsInternal.h"

namespace Hypervale {

TzRhevOperations::TzRhevOperations(TzRhevConnection* c, TzRhevParser* p, TzRhevQueries* q)
    : KwDebug(nullptr), connection(c), parser(p), queries(q), sleepInterval(10000), retryCount(20) {
  const TzPlatformInfo config;
  unsigned long value = sleepInterval;
  config.getNumber("VirtualServer", "nRHEVMAPISLEEPINTERVAL", &value);
  sleepInterval = value;
  value = retryCount;
  config.getNumber("VirtualServer", "nRHEVMAPIRETRYCT", &value);
  retryCount = value;
}

TzRhevOperations::~TzRhevOperations() = default;

TzRhevOperations::WaitPolicy TzRhevOperations::ConfiguredWait() const {
  return WaitPolicy{static_cast<std::uint32_t>(sleepInterval), retryCount};
}

TzRhevOperations::Poll TzRhevOperations::PollUntil(
    const WaitPolicy& policy, const std::function<Poll(std::uint64_t remaining)>& check) {
  std::uint64_t unreadableLeft = policy.unreadableAllowed;
  std::uint64_t waitedMs = 0;
  for (std::uint64_t remaining = policy.extraChecks;; --remaining) {
    const Poll result = check(remaining);
    if (result == Poll::kDone || result == Poll::kFailed) return result;
    if (result == Poll::kUnreadable) {
      if (unreadableLeft == 0) return result;
      --unreadableLeft;
    }
    if (waitedMs >= policy.maxWaitMs) return Poll::kWait;
    waitedMs += std::max<std::uint64_t>(policy.pauseMs, 1);
    UBSLEEP(policy.pauseMs, __FILE__, __LINE__);
    if (remaining == 0) return Poll::kWait;
  }
}

bool TzRhevOperations::SendAction(const Action& action, SActionInfoLib* answer) {
  std::string request;
  if (action.withDocument && !parser->serializeAction(action.document, request)) {
    Error(HV_FUNC, "%s", action.writeFailure);
    return false;
  }
  std::string answerBody;
  if (!connection->sendReq(action.method, action.path, request, answerBody, true)) {
    if (action.notSent) action.notSent(answerBody);
    return false;
  }
  if (answer && !parser->parseAction(answerBody, *answer, true)) {
    if (action.unreadable) action.unreadable(answerBody);
    return false;
  }
  return true;
}

bool TzRhevOperations::NamesVmAndDisk(const char* function, const std::string& vmId,
                                      const SDiskInfoLib& disk) {
  if (vmId.empty()) {
    Error(function, "Must specify VM id");
    return false;
  }
  if (disk.id.empty()) {
    Error(function, "Must specify Disk id");
    return false;
  }
  return true;
}

}  // namespace Hypervale
