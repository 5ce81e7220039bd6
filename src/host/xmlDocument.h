// Parsing a body into a read-only tree (on a scanner that may be kept from parse to parse) and
// writing a DOM document into a body.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>

#include "host/xmlBodyGate.h"
#include "host/xmlBodySource.h"
#include "host/xmlReader.h"
#include "host/xmlTree.h"

namespace Hypervale {
namespace xml {

// One parse of an in-memory body into a read-only tree (host/xmlTree.h). Hostile input is
// refused rather than obeyed: a body that is not UTF-8 XML 1.0 or that carries a document type
// declaration (the only way to reach external entities or define expanding ones) is refused
// before Xerces sees it, and Xerces itself stops at a document type declaration and at the
// first element nested deeper than 256 levels. External DTDs are never loaded and entity
// expansion is bounded anyway. Memory stays within a small multiple of the body: text reaches
// the tree in pieces and is kept once, the tree stops at twice the body (plus a fixed 16 MiB
// for small bodies), and what Xerces keeps for a whole parse (element names, an attribute
// value, what follows the document element) is bounded.
class ParsedXml {
 public:
  using RootCheck = xml::RootCheck;
  using ItemVisitor = xml::ItemVisitor;

  // Parses on `kept` when given and free (a reader kept by the caller for its parses),
  // otherwise on a reader of its own.
  explicit ParsedXml(XmlReader* kept = nullptr);
  ~ParsedXml();
  ParsedXml(const ParsedXml&) = delete;
  ParsedXml& operator=(const ParsedXml&) = delete;

  // `bufferId` names the body in Xerces' messages. On failure `error()` says why. The body is
  // read in place; it must outlive the call only.
  bool parse(const std::string& body, const char* bufferId);
  // Reads a list body item by item, so that only one item at a time exists as a tree. Items
  // are handed over while the body is read: a body that turns out to be malformed after some
  // items still fails. Afterwards root() is the document element without children.
  // With `giveBackBody`, the memory of the bytes read goes back as the parse goes on (see
  // BodySource::giveBackWhatWasRead): for a body the caller does not read again.
  bool parseItems(const std::string& body, const char* bufferId, const RootCheck& acceptRoot,
                  const ItemVisitor& visit, bool giveBackBody = false);
  // What the body checks of the last parse of items saw of the body's elements (for an item
  // visitor: how many items the list holds, as far as bytes tell).
  const BodyShape& shape() const { return shape_; }
  // The document element; valid while this object lives and until the next parse.
  xercesc::DOMNode* root() const { return root_; }
  const std::string& error() const { return error_; }
  // Whether the last parse got as far as the XML library; bodies refused up front did not.
  bool reachedParser() const { return reachedParser_; }
  // Whether the XML library saw a document type declaration (it must never let one through).
  bool sawDocumentType() const { return sawDocumentType_; }

 private:
  // Without `visit`, the whole document goes into one tree.
  bool Run(const std::string& body, const char* bufferId, const RootCheck* acceptRoot,
           const ItemVisitor* visit, bool giveBackBody);
  // Empty when the body may go to the XML library; otherwise why not.
  std::string Refusal(const std::string& body, BodyShape* shape);
  // Reads `source` past the body checks into trees of at most `budget` bytes each.
  bool Read(BodySource& source, size_t budget, const RootCheck* acceptRoot,
            const ItemVisitor* visit);

  XmlReader* const kept_;
  std::unique_ptr<XmlTree> tree_;
  xercesc::DOMNode* root_ = nullptr;
  bool reachedParser_ = false;
  bool sawDocumentType_ = false;
  size_t elementNames_ = 0;  // distinct element names the last read met
  BodyShape shape_;
  std::string error_;
};

// A new document without namespace or document type whose root element is `rootName`.
class NewXmlDocument {
 public:
  explicit NewXmlDocument(const std::string& rootName);
  ~NewXmlDocument();
  NewXmlDocument(const NewXmlDocument&) = delete;
  NewXmlDocument& operator=(const NewXmlDocument&) = delete;

  xercesc::DOMElement* root() const { return root_; }
  // Serialises with an XML declaration, UTF-8, no pretty-printing.
  bool write(std::string& out) const;

 private:
  xercesc::DOMDocument* document_ = nullptr;
  xercesc::DOMElement* root_ = nullptr;
};

// A short, printable excerpt of a body for log lines about bodies that could not be read.
std::string Excerpt(const std::string& body, size_t limit = 160);

}  // namespace xml
}  // namespace Hypervale
