// Helpers shared by the record reader and writer tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "xml/rhevParser.h"

namespace Hypervale {
namespace recordtest {

// A parser whose schema version is that of an engine of the given version.
TzRhevParser ParserAt(unsigned major, unsigned minor, unsigned build);
// The document element and what follows, after the XML declaration.
std::string RootOf(const std::string& body);
std::string Join(std::initializer_list<std::string> fields);
// Every element path, "path=text" of each leaf and "path/@name=value" of each attribute.
std::set<std::string> ShapeOf(const std::string& body);
void ExpectSendsShapeOf(const std::string& request, const std::string& sent,
                        const std::vector<std::string>& notSent);

// Reads `body` with the object reader, or, when its document element is `listName`, with the
// list reader, taking the entry at `index`.
template <typename T>
bool ReadOneOf(const std::string& body, const std::string& listName, size_t index, T& out,
               bool (TzRhevParser::*parseOne)(const std::string&, T&),
               bool (TzRhevParser::*parseList)(const std::string&, std::vector<T>&)) {
  TzRhevParser parser;
  if (body.find("<" + listName + ">") == std::string::npos) return (parser.*parseOne)(body, out);
  std::vector<T> list;
  if (!(parser.*parseList)(body, list) || index >= list.size()) return false;
  out = list[index];
  return true;
}

}  // namespace recordtest
}  // namespace Hypervale
