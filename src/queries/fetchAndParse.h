// The one fetch-and-parse step every query goes through.
#pragma once

#include "queries/rhevQueries.h"
#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace Hypervale {

template <typename Out>
bool TzRhevQueries::FetchAndParse(const std::string& link, Out& out,
                                  bool (TzRhevParser::*parse)(const std::string&, Out&)) {
  std::string response;
  if (!connection->get(link, response, true)) return false;
  return (parser->*parse)(response, out);
}

}  // namespace Hypervale
