// Version thresholds and word comparison shared by the operation units.
#pragma once

#include <boost/algorithm/string/predicate.hpp>
#include <string>

#include "host/ubString.h"
#include "operations/rhevOperations.h"
#include "queries/fetchAndParse.h"
#include "queries/resourcePaths.h"
#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace ops {

// Schema versions: API v4 starts at 4.0.0; disk attachments replace per-VM disks at 4.0.2.
constexpr std::int32_t kApiV4 = 4000000;
constexpr std::int32_t kDiskAttachments = 4000002;

// Engine status words are compared without regard to case.
inline bool SameWord(const std::string& a, const char* b) {
  return boost::algorithm::iequals(a, b);
}

inline const char* BoolText(bool value) { return value ? "true" : "false"; }

}  // namespace ops

}  // namespace Hypervale
