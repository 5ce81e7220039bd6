// The one fetch-and-parse step every query and every operation's read goes through.
#pragma once

#include "queries/rhevQueries.h"
#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace Hypervale {

template <typename Out>
Lookup TzRhevQueries::FetchRecord(const std::string& link, std::string& body, Out& out,
                                  bool (TzRhevParser::*parse)(const std::string&, Out&),
                                  bool reportErrors) {
  const Lookup got = FetchLink(link, body, reportErrors);
  if (got != Lookup::kFound) return got;
  return (parser->*parse)(body, out) ? Lookup::kFound : Lookup::kUnreadable;
}

template <typename Out>
bool TzRhevQueries::FetchAndParse(const std::string& link, Out& out,
                                  bool (TzRhevParser::*parse)(const std::string&, Out&)) {
  std::string body;  // dropped unread once parsed
  const TzRhevParser::DisposableBodies disposable(*parser);
  return FetchRecord(link, body, out, parse, true) == Lookup::kFound;
}

}  // namespace Hypervale
