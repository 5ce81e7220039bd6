#include "host/xmlReader.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <unordered_map>
#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/internal/WFXMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>

#include "host/xmlLibrary.h"
#include "host/xmlText.h"

namespace Hypervale {
namespace xml {
namespace {

using namespace xercesc;

// Without a document type declaration only the predefined entities exist; the limit stays
// as a second line.
constexpr XMLSize_t kEntityExpansionLimit = 1000;
// Engine bodies nest about a dozen levels. Xerces reads text content recursively, so a
// hostile body nested a hundred thousand levels deep would exhaust the stack.
constexpr int kMaxNestingDepth = 256;
// Engine bodies use a few hundred element names, each a few dozen characters long.
constexpr size_t kMaxElementNames = XmlReader::kMaxElementNames;
constexpr XMLSize_t kMaxNameLength = 256;
// Engines end a body with at most a line break; Xerces would gather whatever follows the
// document element before judging it.
constexpr size_t kMaxAfterRoot = 64 * 1024;
// Text reaches the tree in pieces of at most this many characters, never gathered whole.
constexpr XMLSize_t kTextPiece = 64 * 1024;

}  // namespace

// Named, not anonymous: the reader's scanner (a class of the header) holds them.
namespace reading {

using namespace xercesc;

// Records the first problem instead of letting Xerces throw through our callers.
class FirstErrorHandler : public ErrorHandler {
 public:
  void warning(const SAXParseException&) override {}
  void error(const SAXParseException& e) override { record(e); }
  void fatalError(const SAXParseException& e) override { record(e); }
  void resetErrors() override { message_.clear(); }
  const std::string& message() const { return message_; }

 private:
  void record(const SAXParseException& e) {
    if (!message_.empty()) return;
    message_ = ToUtf8(e.getMessage()) + " (line " + std::to_string(e.getLineNumber()) +
               ", column " + std::to_string(e.getColumnNumber()) + ")";
  }
  std::string message_;
};

// Xerces' well-formedness scanner, which skips the validation machinery engine bodies never
// need, except that it stops at a document type declaration instead of skipping it: the body
// gate refuses one first, this is the second line.
class NoDoctypeScanner : public WFXMLScanner {
 public:
  NoDoctypeScanner(XMLValidator* validator, GrammarResolver* grammars, MemoryManager* memory)
      : WFXMLScanner(validator, grammars, memory) {}
  bool sawDocumentType() const { return sawDocumentType_; }
  void forget() { sawDocumentType_ = false; }

 private:
  void scanDocTypeDecl() override {
    sawDocumentType_ = true;
    emitError(XMLErrs::ExpectedCommentOrPI);  // fatal: ends the parse
  }
  bool sawDocumentType_ = false;
};

}  // namespace reading

// The scanner with its hardening, building read-only trees instead of a Xerces document: it
// stops as soon as the body turns hostile, at a document type declaration and at an element
// nested too deep (before the rest of the body is read). The parser's own document is never
// made; the parser only carries the scanner's settings.
//
// Reading a list, text directly inside the document element is nothing a reader looks at and
// is left out.
class XmlReader::Scanner : public XercesDOMParser {
  using FirstErrorHandler = reading::FirstErrorHandler;
  using NoDoctypeScanner = reading::NoDoctypeScanner;

 public:
  Scanner() {
    // The well-formedness scanner in place of the default one, as useScanner() would do it.
    NoDoctypeScanner* own =
        new (fMemoryManager) NoDoctypeScanner(fValidator, fGrammarResolver, fMemoryManager);
    own->setParseSettings(fScanner);
    own->setURIStringPool(fURIStringPool);
    delete fScanner;
    fScanner = own;
    scanner_ = own;
    setValidationScheme(XercesDOMParser::Val_Never);
    setDoNamespaces(false);
    setDoSchema(false);
    setLoadExternalDTD(false);
    setSkipDTDValidation(true);
    setDisableDefaultEntityResolution(true);
    setCreateEntityReferenceNodes(false);
    setCalculateSrcOfs(false);
    security_.setEntityExpansionLimit(kEntityExpansionLimit);
    setSecurityManager(&security_);
    setErrorHandler(&errors_);
    getScanner()->setDisallowDTD(true);
    getScanner()->setInputBufferSize(kTextPiece);
  }

  ~Scanner() override {
    setErrorHandler(nullptr);
    setSecurityManager(nullptr);
  }

  // One parse with fresh per-parse state; empty when it read the body.
  std::string run(ScanTargets& targets) {
    targets_ = &targets;
    readingItems_ = false;
    openElements_ = 0;
    stopped_.clear();
    names_.clear();
    std::fill(std::begin(recent_), std::end(recent_), Recent{nullptr, nullptr});
    errors_.resetErrors();
    scanner_->forget();
    struct Forget {
      Scanner& scanner;
      ~Forget() { scanner.targets_ = nullptr; }
    } forget{*this};

    parse(targets.source);
    if (!stopped_.empty()) return stopped_;
    if (targets.source.cut()) {
      return "more than " + std::to_string(kMaxAfterRoot) + " bytes follow the document element";
    }
    if (!errors_.message().empty() || getErrorCount() != 0) {
      return errors_.message().empty() ? "the body is not well-formed XML" : errors_.message();
    }
    if (!targets.tree.root()) return "the body has no document element";
    return std::string();
  }

  bool sawDocumentType() const { return scanner_->sawDocumentType(); }
  size_t elementNames() const { return names_.size(); }

  // No Xerces document is made: the trees are the result.
  void startDocument() override {}
  void endDocument() override {}
  void resetDocument() override {}
  void XMLDecl(const XMLCh* const, const XMLCh* const, const XMLCh* const,
               const XMLCh* const) override {}

  void startElement(const XMLElementDecl& decl, const unsigned int urlId, const XMLCh* const prefix,
                    const RefVectorOf<XMLAttr>& attributes, const XMLSize_t count,
                    const bool isEmpty, const bool isRoot) override {
    const XMLCh* name = Acceptable(decl);
    if (!name) return;
    ++openElements_;
    const bool listItem = targets_->visit && !isRoot;
    if (!listItem || readingItems_) {
      XmlTree& target = listItem ? targets_->item : targets_->tree;
      target.openElement(name, count);
      for (XMLSize_t i = 0; i < count; ++i) {
        const XMLAttr* attribute = attributes.elementAt(i);
        target.addAttribute(attribute->getQName(), attribute->getValue());
      }
      if (!WithinBudget(target)) return;
    }
    if (targets_->visit && isRoot) readingItems_ = (*targets_->acceptRoot)(targets_->tree.root());
    // The scanner reports an empty element by its start only.
    if (isEmpty) endElement(decl, urlId, isRoot, prefix);
  }

  void endElement(const XMLElementDecl&, const unsigned int, const bool isRoot,
                  const XMLCh* const) override {
    --openElements_;
    if (isRoot) targets_->source.limitTo(kMaxAfterRoot);
    if (!targets_->visit || isRoot) {
      targets_->tree.closeElement();
      WithinBudget(targets_->tree);
      return;
    }
    if (!readingItems_) return;
    XmlTree& item = targets_->item;
    item.closeElement();
    if (!WithinBudget(item) || item.elementOpen()) return;
    const bool more = (*targets_->visit)(item.root(), item.textBytes());
    item.clear();
    if (!more) Stop("the reader of the items stopped");
  }

  void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool) override {
    Text(chars, length);
  }

  void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool) override {
    Text(chars, length);
  }

  // Not kept: readers look at elements, attributes and text only.
  void docComment(const XMLCh* const) override {}
  void docPI(const XMLCh* const, const XMLCh* const) override {}
  // Only a document type declares entities, and none is let through.
  void startEntityReference(const XMLEntityDecl&) override {}
  void endEntityReference(const XMLEntityDecl&) override {}

 private:
  void Text(const XMLCh* chars, XMLSize_t length) {
    if (!targets_->visit) {
      targets_->tree.addText(chars, length);
      WithinBudget(targets_->tree);
    } else if (readingItems_) {
      targets_->item.addText(chars, length);  // nothing while no item is open
      WithinBudget(targets_->item);
    }
  }

  // The element's name as the trees keep it, once per name and parse; null when the element
  // goes past what Xerces may keep for the whole parse (the body gate bounds each tag, and so
  // every attribute value).
  const XMLCh* Acceptable(const XMLElementDecl& decl) {
    if (openElements_ >= kMaxNestingDepth) {
      Stop("the body nests elements more than " + std::to_string(kMaxNestingDepth) +
           " levels deep");
      return nullptr;
    }
    // The scanner makes one declaration per distinct name and parse; most elements repeat a
    // name met a few elements before.
    Recent& recent = recent_[(reinterpret_cast<std::uintptr_t>(&decl) >> 4) % kRecent];
    if (recent.decl == &decl) return recent.name;
    const auto known = names_.find(&decl);
    if (known != names_.end()) {
      recent = {&decl, known->second};
      return known->second;
    }
    const XMLCh* name = decl.getFullName();
    const XMLSize_t length = XMLString::stringLen(name);
    if (names_.size() >= kMaxElementNames) {
      Stop("the body names more than " + std::to_string(kMaxElementNames) + " different elements");
    } else if (length > kMaxNameLength) {
      Stop("an element name is longer than " + std::to_string(kMaxNameLength) + " characters");
    }
    if (!stopped_.empty()) return nullptr;
    const XMLCh* kept = targets_->tree.keep(name, length);
    names_.emplace(&decl, kept);
    recent = {&decl, kept};
    return kept;
  }

  bool WithinBudget(const XmlTree& tree) {
    if (tree.overBudget()) {
      Stop("reading it would take more than twice its size in memory");
      return false;
    }
    return true;
  }

  // The scanner's own way out: a fatal error, which ends the parse.
  void Stop(const std::string& why) {
    if (stopped_.empty()) stopped_ = why;
    getScanner()->emitError(XMLErrs::ExpectedEndOfTagX);
  }

  NoDoctypeScanner* scanner_ = nullptr;
  SecurityManager security_;
  FirstErrorHandler errors_;
  ScanTargets* targets_ = nullptr;
  bool readingItems_ = false;
  int openElements_ = 0;
  std::string stopped_;
  std::unordered_map<const XMLElementDecl*, const XMLCh*> names_;
  struct Recent {
    const XMLElementDecl* decl;
    const XMLCh* name;
  };
  static constexpr size_t kRecent = 64;
  Recent recent_[kRecent] = {};
};

XmlReader::XmlReader() = default;

XmlReader::~XmlReader() {
  scanner_.reset();
  if (holdsLibrary_) ReleaseXmlLibrary();
}

std::string XmlReader::read(ScanTargets& targets) {
  if (!scanner_) {
    // Held until the scanner is gone, so a host that terminates Xerces first (a facade in a
    // static object) does not pull it from under the scanner.
    if (!holdsLibrary_) holdsLibrary_ = HoldXmlLibrary();
    if (!holdsLibrary_) return kXmlLibraryNotReady;
    scanner_ = std::make_unique<Scanner>();
  }
  std::string outcome;
  try {
    outcome = scanner_->run(targets);
  } catch (...) {
    sawDocumentType_ = scanner_->sawDocumentType();
    elementNames_ = scanner_->elementNames();
    // Whatever Xerces left half done stays with this scanner: the next parse gets a new one.
    scanner_.reset();
    throw;
  }
  sawDocumentType_ = scanner_->sawDocumentType();
  elementNames_ = scanner_->elementNames();
  return outcome;
}

}  // namespace xml
}  // namespace Hypervale
