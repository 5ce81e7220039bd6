// Helpers shared by the record reader and writer tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace recordtest {

// A parser whose schema version is that of an engine of the given version.
TzRhevParser ParserAt(unsigned major, unsigned minor, unsigned build);
// The document element and what follows, after the XML declaration (UTF-8).
std::string RootOf(const std::string& body);
std::string Join(std::initializer_list<std::string> fields);
// Each UUID in `text` shortened to its first and last four digits ("da12~32e1"), so that a
// record's summary fits a table row.
std::string Abbreviated(const std::string& text);
// Every element path, "path=text" of each leaf and "path/@name=value" of each attribute.
std::set<std::string> ShapeOf(const std::string& body);
// `sent` has the shape of the real request in `fixture`, but for the entries starting with one
// of `notSent` (the request's only) or of `extra` (ours only).
void ExpectShapeOfRequest(const std::string& fixture, const std::string& sent,
                          const std::vector<std::string>& notSent,
                          const std::vector<std::string>& extra = {});

// The body `write` makes of `record`, from its document element on.
template <typename Record>
std::string Written(TzRhevParser& parser, const Record& record,
                    bool (TzRhevParser::*write)(const Record&, std::string&)) {
  std::string body;
  EXPECT_TRUE((parser.*write)(record, body));
  return RootOf(body);
}

// One row of a reader table: a file under tests/fixtures, or an inline body when it starts
// with '<'; the entry at that index when the body is a list; the summary expected of that record.
using ReadRow = std::tuple<const char*, size_t, std::string>;

// Reads every row with the object reader, or, when the body's document element is
// `listName`, with the list reader, and compares the record's abbreviated summary.
template <typename T>
void ExpectReads(const std::string& listName,
                 bool (TzRhevParser::*parseOne)(const std::string&, T&),
                 bool (TzRhevParser::*parseList)(const std::string&, std::vector<T>&),
                 std::string (*summarize)(const T&), std::initializer_list<ReadRow> rows) {
  for (const auto& [source, index, summary] : rows) {
    SCOPED_TRACE(std::string(source) + " [" + std::to_string(index) + "]");
    const std::string body = source[0] == '<' ? source : hvtest::Fixture(source);
    TzRhevParser parser;
    std::vector<T> list;
    T record;
    const bool isList = body.find("<" + listName + ">") != std::string::npos;
    ASSERT_TRUE(isList ? (parser.*parseList)(body, list) : (parser.*parseOne)(body, record));
    ASSERT_LT(index, isList ? list.size() : 1u);
    EXPECT_EQ(Abbreviated(summarize(isList ? list[index] : record)), summary);
  }
}

}  // namespace recordtest
}  // namespace Hypervale
