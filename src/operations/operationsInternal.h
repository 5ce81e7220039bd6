// Word comparison and the record post shared by the operation units.
#pragma once

#include <boost/algorithm/string/predicate.hpp>
#include <string>

#include "host/ubString.h"
#include "operations/rhevOperations.h"
#include "operations/schemaVersions.h"
#include "queries/fetchAndParse.h"
#include "queries/resourcePaths.h"
#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace ops {

// Engine status words are compared without regard to case.
inline bool SameWord(const std::string& a, const char* b) {
  return boost::algorithm::iequals(a, b);
}

inline const char* BoolText(bool value) { return value ? "true" : "false"; }

}  // namespace ops

template <typename Record>
bool TzRhevOperations::PostRecord(const char* function, const std::string& path, Record& record,
                                  std::string& answer,
                                  bool (TzRhevParser::*write)(const Record&, std::string&),
                                  bool (TzRhevParser::*read)(const std::string&, Record&),
                                  const char* answerName,
                                  const std::function<void(const std::string& request)>& sending,
                                  const char* writeFailure) {
  std::string request;
  if (!(parser->*write)(record, request)) {
    if (writeFailure) Error(function, "%s", writeFailure);
    return false;
  }
  if (sending) sending(request);
  if (!connection->post(path, request, answer)) return false;
  if (!(parser->*read)(answer, record)) {
    Error(function, "Failed to parse %s response [%s]", answerName, answer.c_str());
    return false;
  }
  return true;
}

}  // namespace Hypervale
