// Version thresholds, word comparison and the resource lookup shared by the operation units.
#pragma once

#include <boost/algorithm/string/predicate.hpp>
#include <string>

#include "host/ubString.h"
#include "operations/rhevOperations.h"
#include "queries/resourcePaths.h"
#include "queries/rhevQueries.h"
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

template <typename Record>
TzRhevOperations::Lookup TzRhevOperations::LookupRecord(
    const std::string& link, std::string& body, Record& out,
    bool (TzRhevParser::*parse)(const std::string&, Record&), bool reportErrors) {
  const Lookup got = GetLink(link, body, reportErrors);
  if (got != Lookup::kFound) return got;
  return (parser->*parse)(body, out) ? Lookup::kFound : Lookup::kUnreadable;
}

}  // namespace Hypervale
