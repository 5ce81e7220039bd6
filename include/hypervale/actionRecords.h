// Actions sent to the engine and its answers, engine jobs and creation statuses.
#pragma once

#include <cstdint>
#include <string>

#include "hypervale/commonRecords.h"

namespace Hypervale {

struct SActionInfoLib : SBaseResourceInfoLib {
  bool detach = false;  // request: take a disk off a VM instead of deleting it (API v3 only)
  bool async = false;   // request: always sent as false
  std::string status;   // answer: e.g. "complete"
  std::string storageDomainId;  // request: target domain of a disk move
  std::string jobId;            // answer: the job running the action
  std::string jobHref;
  SFaultInfoLib fault;  // answer: fault reported inside the action
};

struct SJobInfoLib : SBaseResourceInfoLib {
  std::string status;  // "FINISHED", "FAILED", "UNKNOWN", ... (lower case from API v4)
  std::int64_t startTime = 0;
  std::int64_t lastUpdated = 0;
  std::int64_t endTime = 0;
};

struct SCreationInfoLib : SBaseResourceInfoLib {
  std::string status;  // "complete", "failed" or a state still in progress
};

}  // namespace Hypervale
