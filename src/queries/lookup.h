// The answer of a read that must tell a resource the engine does not have from a failed
// request, and the one filter that picks exact names out of a search answer.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace Hypervale {

// kNotFound rests on the status of that very request (404), or on a search answer without the
// exact name; never on a code left from an earlier request. kUnreadable is a failure whose
// answer came but did not parse, kept apart for callers that log the answer or judge the
// request's status.
enum class Lookup { kFound, kNotFound, kFailed, kUnreadable };

template <typename Record>
const std::string& NameOf(const Record& record) {
  return record.name;
}

// The engine's search is not exact (it ignores letter case and takes patterns): of its answer
// only the records of exactly `name` count.
template <typename Record>
void KeepExactName(std::vector<Record>& listed, const std::string& name) {
  listed.erase(std::remove_if(listed.begin(), listed.end(),
                              [&](const Record& record) { return NameOf(record) != name; }),
               listed.end());
}

}  // namespace Hypervale
