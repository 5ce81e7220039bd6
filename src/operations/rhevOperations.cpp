// Construction and the steps every operation shares: the wait loop, the resource lookup
// and the action request.
#include "operations/rhevOperations.h"

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

TzRhevOperations::Poll TzRhevOperations::PollUntil(
    std::uint64_t extraChecks, std::uint32_t pause,
    const std::function<Poll(std::uint64_t remaining)>& check) {
  for (std::uint64_t remaining = extraChecks;; --remaining) {
    const Poll result = check(remaining);
    if (result != Poll::kWait) return result;
    UBSLEEP(pause, __FILE__, __LINE__);
    if (remaining == 0) return Poll::kWait;
  }
}

TzRhevOperations::Lookup TzRhevOperations::GetLink(const std::string& link, std::string& body,
                                                   bool reportErrors) {
  if (queries->getFromLink(link, body, reportErrors)) return Lookup::kFound;
  // Read right after the failed GET: the connection replaces its code only on a failed
  // request, so a later look could see the status of an older one.
  return connection->getLastErrorCode() == 404 ? Lookup::kNotFound : Lookup::kFailed;
}

TzRhevOperations::Lookup TzRhevOperations::LookupVM(const std::string& name, const std::string& id,
                                                    SVMInfoLib& vm) {
  std::string body;
  if (!id.empty()) {
    return LookupRecord(paths::Vm(id), body, vm, &TzRhevParser::parseVMInfo, true);
  }
  if (name.empty()) {
    Error(HV_FUNC, "Must specify either VM name or ID");
    return Lookup::kFailed;
  }
  // Done here rather than through the VM query so that an answer without the name can be
  // told from a failed search.
  std::vector<SVMInfoLib> found;
  const Lookup searched = LookupRecord(paths::Search(paths::kVms, "name", name), body, found,
                                       &TzRhevParser::parseVMInfoList, true);
  if (searched != Lookup::kFound) return searched;
  int matches = 0;
  for (const SVMInfoLib& candidate : found) {
    if (candidate.name != name) continue;
    ++matches;
    vm = candidate;
  }
  if (matches == 0) return Lookup::kNotFound;
  if (matches == 1) return Lookup::kFound;
  Error(HV_FUNC, "Found %d VMs that match [%s/%s]", matches, name.c_str(), id.c_str());
  return Lookup::kFailed;
}

TzRhevOperations::ActionOutcome TzRhevOperations::SendAction(
    HTTP_REQ_TYPE method, const std::string& path, const SActionInfoLib& request,
    const char* writeFailure, std::string& answerBody, SActionInfoLib* answer) {
  std::string body;
  if (!parser->serializeAction(request, body)) {
    Error(HV_FUNC, "%s", writeFailure);
    return ActionOutcome::kNotWritten;
  }
  if (!connection->sendReq(method, path, body, answerBody, true)) return ActionOutcome::kNotSent;
  if (answer && !parser->parseAction(answerBody, *answer, true)) return ActionOutcome::kUnreadable;
  return ActionOutcome::kAnswered;
}

}  // namespace Hypervale
