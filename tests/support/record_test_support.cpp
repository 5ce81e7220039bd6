#include "support/record_test_support.h"

#include <algorithm>
#include <regex>

#include "host/xmlDocument.h"
#include "host/xmlText.h"

namespace Hypervale {
namespace recordtest {
namespace {

void CollectShape(const xercesc::DOMNode* element, const std::string& path,
                  std::set<std::string>& shape) {
  shape.insert(path);
  xercesc::DOMNamedNodeMap* attributes = element->getAttributes();
  for (XMLSize_t i = 0; attributes && i < attributes->getLength(); ++i) {
    shape.insert(path + "/@" + xml::ToUtf8(attributes->item(i)->getNodeName()) + "=" +
                 xml::ToUtf8(attributes->item(i)->getNodeValue()));
  }
  bool hasElements = false;
  for (const xercesc::DOMNode* child = element->getFirstChild(); child;
       child = child->getNextSibling()) {
    if (child->getNodeType() != xercesc::DOMNode::ELEMENT_NODE) continue;
    hasElements = true;
    CollectShape(child, path + "/" + xml::ToUtf8(child->getNodeName()), shape);
  }
  const std::string text = xml::ToUtf8(element->getTextContent());
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (hasElements || first == std::string::npos) return;
  shape.insert(path + "=" + text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

bool StartsWithOneOf(const std::string& entry, const std::vector<std::string>& prefixes) {
  return std::any_of(prefixes.begin(), prefixes.end(),
                     [&entry](const std::string& prefix) { return entry.rfind(prefix, 0) == 0; });
}

}  // namespace

TzRhevParser ParserAt(unsigned major, unsigned minor, unsigned build) {
  TzRhevParser parser;
  SAPIInfoLib api;
  EXPECT_TRUE(parser.DetectVersion("<api><product_info><version major=\"" + std::to_string(major) +
                                       "\" minor=\"" + std::to_string(minor) + "\" build=\"" +
                                       std::to_string(build) + "\"/></product_info></api>",
                                   api));
  return parser;
}

std::string RootOf(const std::string& body) {
  EXPECT_EQ(body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"", 0), 0u) << body;
  const size_t root = body.find('<', body.find("?>"));
  return root == std::string::npos ? body : body.substr(root);
}

std::string Join(std::initializer_list<std::string> fields) {
  std::string text;
  for (const std::string& field : fields) text += "|" + field;
  return text.substr(1);
}

std::string Abbreviated(const std::string& text) {
  static const std::regex kUuid(
      "([0-9a-f]{4})[0-9a-f]{4}-(?:[0-9a-f]{4}-){3}[0-9a-f]{8}([0-9a-f]{4})");
  return std::regex_replace(text, kUuid, "$1~$2");
}

std::set<std::string> ShapeOf(const std::string& body) {
  xml::ParsedXml document;
  std::set<std::string> shape;
  EXPECT_TRUE(document.parse(body, "shape")) << body;
  if (document.root()) {
    CollectShape(document.root(), xml::ToUtf8(document.root()->getNodeName()), shape);
  }
  return shape;
}

void ExpectShapeOfRequest(const std::string& fixture, const std::string& sent,
                          const std::vector<std::string>& notSent,
                          const std::vector<std::string>& extra) {
  SCOPED_TRACE(fixture);
  const std::set<std::string> request = ShapeOf(hvtest::Fixture(fixture));
  const std::set<std::string> ours = ShapeOf(sent);
  for (const std::string& entry : request) {
    EXPECT_TRUE(ours.count(entry) || StartsWithOneOf(entry, notSent)) << "not sent: " << entry;
  }
  for (const std::string& entry : ours) {
    EXPECT_TRUE(request.count(entry) || StartsWithOneOf(entry, extra)) << "extra: " << entry;
  }
}

}  // namespace recordtest
}  // namespace Hypervale
