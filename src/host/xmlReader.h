// The Xerces scanner a parse runs on, kept for the next parse: building the scanner, its
// grammar and its buffers costs more than reading a small body. One parse at a time.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <xercesc/dom/DOMNode.hpp>

#include "host/xmlBodySource.h"
#include "host/xmlTree.h"

namespace Hypervale {
namespace xml {

// Asked once, as soon as the document element has been read (its name and attributes);
// false: no item is handed over.
using RootCheck = std::function<bool(const xercesc::DOMNode* root)>;
// Receives each child element of the document element, complete, as the root of a small tree
// of its own that is dropped when the call returns, with the bytes of text and values it
// holds. False stops the reading: the parse fails.
using ItemVisitor = std::function<bool(xercesc::DOMNode* item, size_t textBytes)>;

// Where one parse puts what it reads. Without `visit` the whole document goes into `tree`;
// with it, `tree` keeps the document element only and each of its child elements is built in
// `item`. Element names are kept in `tree` either way, once per name.
struct ScanTargets {
  XmlTree& tree;
  XmlTree& item;
  const RootCheck* acceptRoot;
  const ItemVisitor* visit;
  BodySource& source;
};

class XmlReader {
 public:
  XmlReader();
  ~XmlReader();
  // The scanner is a cache of its holder: a copy starts without one, and the target of an
  // assignment keeps its own.
  XmlReader(const XmlReader&) : XmlReader() {}
  XmlReader& operator=(const XmlReader&) { return *this; }

  // Reads `targets.source`; empty when the body was read, otherwise why not. Nothing of one
  // parse (its handlers, errors, limits, names) reaches the next. Xerces stays initialised
  // while a reader that has read holds its scanner. Throws what Xerces throws.
  std::string read(ScanTargets& targets);
  // Takes the reader for one read, unless a read on it is running (a reader of items that
  // parses again, on this thread or another, must use a reader of its own); release() gives it
  // back.
  bool claim() { return !busy_.exchange(true); }
  void release() { busy_ = false; }
  // Whether the last read met a document type declaration (and so refused the body).
  bool sawDocumentType() const { return sawDocumentType_; }
  // The distinct element names the last read met (more than kMaxElementNames are refused:
  // Xerces keeps every one for the whole parse, this scanner for the next one too).
  size_t elementNames() const { return elementNames_; }
  static constexpr size_t kMaxElementNames = 4096;

 private:
  class Scanner;
  std::unique_ptr<Scanner> scanner_;
  bool holdsLibrary_ = false;
  std::atomic<bool> busy_{false};
  bool sawDocumentType_ = false;
  size_t elementNames_ = 0;
};

}  // namespace xml
}  // namespace Hypervale
