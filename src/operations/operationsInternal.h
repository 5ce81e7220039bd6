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
  // A create accepted with 202 ("storage work still runs") may come without the entity: the
  // caller then finds what was created by its name.
  if (connection->getLastStatus() == 202 && answer.find('<') == std::string::npos) {
    Debug(function, "%s was accepted (202) without the created object", answerName);
    return true;
  }
  if (!(parser->*read)(answer, record)) {
    Error(function, "Failed to parse %s response [%s]", answerName, answer.c_str());
    return false;
  }
  return true;
}

template <typename Record, typename Find>
bool TzRhevOperations::FindAccepted(const char* function, Record& record, const Find& find) {
  if (!record.id.empty()) return true;
  if (connection->getLastStatus() != 202 || record.name.empty()) {
    Error(function, "The engine's answer names no id of the created object [%s]",
          record.name.c_str());
    return false;
  }
  std::vector<Record> listed;
  if (!find(listed)) return false;
  KeepExactName(listed, record.name);
  if (listed.size() != 1) {
    Error(function, "Found %zu objects named [%s] after the engine accepted their creation",
          listed.size(), record.name.c_str());
    return false;
  }
  Debug(function, "Created object [%s] found by its name: [%s]", record.name.c_str(),
        listed.front().id.c_str());
  record = listed.front();
  return true;
}

}  // namespace Hypervale
