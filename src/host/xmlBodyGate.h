// The checks a body passes before the XML library sees it. Engines answer in UTF-8 and never
// with a document type declaration; anything else is refused here, at the cost of one pass
// over the bytes, instead of being decoded, expanded and refused afterwards.
#pragma once

#include <cstddef>
#include <string>

namespace Hypervale {
namespace xml {

// Empty when the body may be parsed; otherwise why it is refused. Refused: a UTF-16 or
// UTF-32 byte order mark, any zero byte (UTF-16 and UTF-32 text without a mark), bytes that
// are not UTF-8 (EBCDIC, Latin-1), an XML declaration naming an encoding other than UTF-8
// or US-ASCII, and a document type declaration.
//
// `shape`, when given, receives what the same walk saw of the body's elements.
struct BodyShape {
  size_t items = 0;  // children of the document element, as far as bytes tell
};
std::string WhyRefusedBeforeParsing(const std::string& body, BodyShape* shape = nullptr);

}  // namespace xml
}  // namespace Hypervale
