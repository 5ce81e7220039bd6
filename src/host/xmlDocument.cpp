#include "host/xmlDocument.h"

#include <cstring>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMLSOutput.hpp>
#include <xercesc/dom/DOMLSSerializer.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>

#include "host/xmlBodyGate.h"
#include "host/xmlBodySource.h"
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
// Xerces keeps every distinct element name for the whole parse; engine bodies use a few hundred
// names, each a few dozen characters long.
constexpr XMLSize_t kMaxElementNames = 4096;
constexpr XMLSize_t kMaxNameLength = 256;
// Engines end a body with at most a line break; Xerces would gather whatever follows the
// document element before judging it.
constexpr size_t kMaxAfterRoot = 64 * 1024;
// Text reaches the tree in pieces of at most this many characters, never gathered whole.
constexpr XMLSize_t kTextPiece = 64 * 1024;
// What a tree may hold beyond twice the body: the nodes of small bodies.
constexpr size_t kTreeAllowance = 16u << 20;

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

// Xerces' scanner with its hardening, building read-only trees instead of a Xerces document:
// it stops as soon as the body turns hostile, at a document type declaration (before any
// entity in it is declared) and at an element nested too deep (before the rest of the body is
// read). The parser's own document stays empty; it only carries the scanner's settings.
//
// With an item visitor it reads a list: `tree` keeps the document element only, and each child
// element of it is built into `item`, handed to the visitor when it ends, and dropped. Text
// directly inside the document element is nothing a reader looks at and is left out.
class GuardedScanner : public XercesDOMParser {
 public:
  GuardedScanner(XmlTree& tree, XmlTree& item, const ParsedXml::RootCheck* acceptRoot,
                 const ParsedXml::ItemVisitor* visit, BodySource& source)
      : tree_(tree), item_(item), acceptRoot_(acceptRoot), visit_(visit), source_(source) {
    getScanner()->setDisallowDTD(true);
    getScanner()->setInputBufferSize(kTextPiece);
  }

  // Why the scanner stopped the parse itself; empty when it did not.
  const std::string& stopped() const { return stopped_; }

  void startElement(const XMLElementDecl& decl, const unsigned int urlId, const XMLCh* const prefix,
                    const RefVectorOf<XMLAttr>& attributes, const XMLSize_t count,
                    const bool isEmpty, const bool isRoot) override {
    if (!Acceptable(decl)) return;
    ++openElements_;
    const bool listItem = visit_ && !isRoot;
    if (!listItem || readingItems_) {
      XmlTree& target = listItem ? item_ : tree_;
      target.openElement(decl.getFullName(), count);
      for (XMLSize_t i = 0; i < count; ++i) {
        const XMLAttr* attribute = attributes.elementAt(i);
        target.addAttribute(attribute->getQName(), attribute->getValue());
      }
      if (!WithinBudget(target)) return;
    }
    if (visit_ && isRoot) readingItems_ = (*acceptRoot_)(tree_.root());
    // The scanner reports an empty element by its start only.
    if (isEmpty) endElement(decl, urlId, isRoot, prefix);
  }

  void endElement(const XMLElementDecl&, const unsigned int, const bool isRoot,
                  const XMLCh* const) override {
    --openElements_;
    if (isRoot) source_.limitTo(kMaxAfterRoot);
    if (!visit_ || isRoot) {
      tree_.closeElement();
      WithinBudget(tree_);
      return;
    }
    if (!readingItems_) return;
    item_.closeElement();
    if (!WithinBudget(item_) || item_.elementOpen()) return;
    const bool more = (*visit_)(item_.root(), item_.textBytes());
    item_.clear();
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
    if (!visit_) {
      tree_.addText(chars, length);
      WithinBudget(tree_);
    } else if (readingItems_) {
      item_.addText(chars, length);  // nothing while no item is open
      WithinBudget(item_);
    }
  }

  // What Xerces keeps for the whole parse stays within fixed bounds (the body gate bounds each
  // tag, and so every attribute value).
  bool Acceptable(const XMLElementDecl& decl) {
    if (openElements_ >= kMaxNestingDepth) {
      Stop("the body nests elements more than " + std::to_string(kMaxNestingDepth) +
           " levels deep");
    } else if (decl.getId() > kMaxElementNames) {  // ids count from 1
      Stop("the body names more than " + std::to_string(kMaxElementNames) + " different elements");
    } else if (XMLString::stringLen(decl.getFullName()) > kMaxNameLength) {
      Stop("an element name is longer than " + std::to_string(kMaxNameLength) + " characters");
    }
    return stopped_.empty();
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

  XmlTree& tree_;
  XmlTree& item_;
  const ParsedXml::RootCheck* const acceptRoot_;
  const ParsedXml::ItemVisitor* const visit_;
  BodySource& source_;
  bool readingItems_ = false;
  int openElements_ = 0;
  std::string stopped_;
};

}  // namespace

ParsedXml::ParsedXml() = default;

ParsedXml::~ParsedXml() = default;

bool ParsedXml::parse(const std::string& body, const char* bufferId) {
  return Run(body, bufferId, nullptr, nullptr);
}

bool ParsedXml::parseItems(const std::string& body, const char* bufferId,
                           const RootCheck& acceptRoot, const ItemVisitor& visit) {
  return Run(body, bufferId, &acceptRoot, &visit);
}

bool ParsedXml::Run(const std::string& body, const char* bufferId, const RootCheck* acceptRoot,
                    const ItemVisitor* visit) {
  root_ = nullptr;
  tree_.reset();
  reachedParser_ = false;
  sawDocumentType_ = false;
  error_.clear();
  if (!XmlLibraryReady()) {
    error_ = kXmlLibraryNotReady;
    return false;
  }
  if (body.empty()) {
    error_ = "the body is empty";
    return false;
  }
  error_ = WhyRefusedBeforeParsing(body);
  if (!error_.empty()) return false;
  try {
    reachedParser_ = true;
    // The tree of a body, or of one of its items, never takes more than twice the body.
    const size_t budget = 2 * body.size() + kTreeAllowance;
    auto tree = std::make_unique<XmlTree>(budget);
    XmlTree item(budget);
    BodySource source(body, bufferId);
    GuardedScanner parser(*tree, item, acceptRoot, visit, source);
    parser.setValidationScheme(XercesDOMParser::Val_Never);
    parser.setDoNamespaces(false);
    parser.setDoSchema(false);
    parser.setLoadExternalDTD(false);
    parser.setSkipDTDValidation(true);
    parser.setDisableDefaultEntityResolution(true);
    parser.setCreateEntityReferenceNodes(false);
    SecurityManager security;
    security.setEntityExpansionLimit(kEntityExpansionLimit);
    parser.setSecurityManager(&security);
    FirstErrorHandler errors;
    parser.setErrorHandler(&errors);

    parser.parse(source);
    parser.setErrorHandler(nullptr);
    parser.setSecurityManager(nullptr);
    const DOMDocument* scanned = parser.getDocument();
    sawDocumentType_ = scanned && scanned->getDoctype();

    if (!parser.stopped().empty()) {
      error_ = parser.stopped();
      return false;
    }
    if (source.cut()) {
      error_ = "more than " + std::to_string(kMaxAfterRoot) + " bytes follow the document element";
      return false;
    }
    if (!errors.message().empty() || parser.getErrorCount() != 0) {
      error_ = errors.message().empty() ? "the body is not well-formed XML" : errors.message();
      return false;
    }
    if (!tree->root()) {
      error_ = "the body has no document element";
      return false;
    }
    tree_ = std::move(tree);
    root_ = tree_->root();
    return true;
  } catch (const OutOfMemoryException&) {
    error_ = "out of memory while parsing";
  } catch (const XMLException& e) {
    error_ = ToUtf8(e.getMessage());
  } catch (const DOMException& e) {
    error_ = ToUtf8(e.getMessage());
  } catch (const SAXParseException& e) {
    error_ = ToUtf8(e.getMessage());
  } catch (const std::exception& e) {
    error_ = e.what();
  } catch (...) {
    error_ = "unknown failure while parsing";
  }
  root_ = nullptr;
  return false;
}

NewXmlDocument::NewXmlDocument(const std::string& rootName) {
  static const XMLCh kCore[] = {chLatin_C, chLatin_o, chLatin_r, chLatin_e, chNull};
  DOMImplementation* implementation = DOMImplementationRegistry::getDOMImplementation(kCore);
  const XmlString name(rootName);
  document_ = implementation->createDocument(nullptr, name.get(), nullptr);
  root_ = document_->getDocumentElement();
}

NewXmlDocument::~NewXmlDocument() {
  if (document_) document_->release();
}

bool NewXmlDocument::write(std::string& out) const {
  static const XMLCh kLs[] = {chLatin_L, chLatin_S, chNull};
  static const XMLCh kUtf8[] = {chLatin_U, chLatin_T, chLatin_F, chDash, chDigit_8, chNull};
  DOMImplementation* implementation = DOMImplementationRegistry::getDOMImplementation(kLs);
  struct SerializerRelease {
    void operator()(DOMLSSerializer* s) const { s->release(); }
  };
  struct OutputRelease {
    void operator()(DOMLSOutput* o) const { o->release(); }
  };
  std::unique_ptr<DOMLSSerializer, SerializerRelease> serializer(
      implementation->createLSSerializer());
  std::unique_ptr<DOMLSOutput, OutputRelease> output(implementation->createLSOutput());
  MemBufFormatTarget target(1023);
  output->setEncoding(kUtf8);
  output->setByteStream(&target);
  if (!serializer->write(document_, output.get())) return false;
  out.assign(reinterpret_cast<const char*>(target.getRawBuffer()), target.getLen());
  return true;
}

std::string Excerpt(const std::string& body, size_t limit) {
  std::string excerpt;
  const size_t n = body.size() < limit ? body.size() : limit;
  excerpt.reserve(n + 3);
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(body[i]);
    excerpt += (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
  }
  if (body.size() > limit) excerpt += "...";
  return excerpt;
}

}  // namespace xml
}  // namespace Hypervale
