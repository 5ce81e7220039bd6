#include "host/xmlDocument.h"

#include <cstring>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMLSOutput.hpp>
#include <xercesc/dom/DOMLSSerializer.hpp>
#include <xercesc/dom/DOMText.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>

#include "host/xmlBodyGate.h"
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

// Builds the items of a list, one small document each: a child element of the document
// element, with its attributes, descendants and text, is handed to the visitor when it ends and
// released at once. Comments and processing instructions are left out (readers look at
// elements, attributes and text only); adjacent text and CDATA become one text node.
class ItemBuilder {
 public:
  ItemBuilder(const ParsedXml::RootCheck& acceptRoot, const ParsedXml::ItemVisitor& visit)
      : acceptRoot_(acceptRoot),
        visit_(visit),
        implementation_(DOMImplementation::getImplementation()) {}

  void rootStarted(const DOMElement* root) { building_ = root && acceptRoot_(root); }
  void setXmlVersion(const XMLCh* version) { xml11_ = XMLString::equals(version, kVersion11); }

  void start(const XMLCh* name, const RefVectorOf<XMLAttr>& attributes, XMLSize_t count) {
    if (!building_) return;
    flushText();
    if (!document_) {
      document_.reset(implementation_->createDocument());
      if (xml11_) document_->setXmlVersion(kVersion11);
    }
    DOMElement* element = document_->createElement(name);
    for (XMLSize_t i = 0; i < count; ++i) {
      const XMLAttr* attribute = attributes.elementAt(i);
      element->setAttribute(attribute->getQName(), attribute->getValue());
    }
    if (current_) {
      current_->appendChild(element);
    } else {
      document_->appendChild(element);
    }
    current_ = element;
  }

  void characters(const XMLCh* chars, XMLSize_t length) {
    if (current_) text_.append(chars, length);  // text between items is nothing to read
  }

  void end() {
    if (!current_) return;
    flushText();
    DOMNode* parent = current_->getParentNode();
    if (parent && parent->getNodeType() == DOMNode::ELEMENT_NODE) {
      current_ = parent;
      return;
    }
    DOMElement* item = document_->getDocumentElement();
    current_ = nullptr;
    visit_(item);
    document_.reset();
  }

 private:
  static constexpr XMLCh kVersion11[] = {chDigit_1, chPeriod, chDigit_1, chNull};
  struct DocumentRelease {
    void operator()(DOMDocument* document) const { document->release(); }
  };

  void flushText() {
    if (text_.empty() || !current_) return;
    current_->appendChild(document_->createTextNode(text_.c_str()));
    text_.clear();
  }

  const ParsedXml::RootCheck& acceptRoot_;
  const ParsedXml::ItemVisitor& visit_;
  DOMImplementation* const implementation_;
  bool building_ = false;
  bool xml11_ = false;
  std::unique_ptr<DOMDocument, DocumentRelease> document_;
  DOMNode* current_ = nullptr;
  std::basic_string<XMLCh> text_;
};

// A DOM parser that stops as soon as the body turns hostile: at a document type declaration
// (before any entity in it is declared) and at an element nested too deep (before the rest
// of the body is read into a document). With an item builder, only the document element goes
// into the parser's own document; everything inside it goes to the builder.
class GuardedDomParser : public XercesDOMParser {
 public:
  explicit GuardedDomParser(ItemBuilder* items) : items_(items) {
    getScanner()->setDisallowDTD(true);
  }

  bool tooDeep() const { return tooDeep_; }

  void XMLDecl(const XMLCh* versionStr, const XMLCh* encodingStr, const XMLCh* standaloneStr,
               const XMLCh* autoEncodingStr) override {
    if (items_) items_->setXmlVersion(versionStr);
    XercesDOMParser::XMLDecl(versionStr, encodingStr, standaloneStr, autoEncodingStr);
  }

  void startElement(const XMLElementDecl& decl, const unsigned int urlId, const XMLCh* const prefix,
                    const RefVectorOf<XMLAttr>& attributes, const XMLSize_t count,
                    const bool isEmpty, const bool isRoot) override {
    if (openElements_ >= kMaxNestingDepth) {
      tooDeep_ = true;
      // The scanner's own way out: a fatal error, which ends the parse.
      getScanner()->emitError(XMLErrs::ExpectedEndOfTagX);
      return;
    }
    // Counted for empty elements too: endElement runs for them as well.
    ++openElements_;
    if (items_ && !isRoot) {
      items_->start(decl.getFullName(), attributes, count);
      if (isEmpty) endElement(decl, urlId, isRoot, prefix);
      return;
    }
    // Calls endElement itself for an empty element.
    XercesDOMParser::startElement(decl, urlId, prefix, attributes, count, isEmpty, isRoot);
    if (items_) items_->rootStarted(getDocument()->getDocumentElement());
  }

  void endElement(const XMLElementDecl& decl, const unsigned int urlId, const bool isRoot,
                  const XMLCh* const prefix) override {
    --openElements_;
    if (items_ && !isRoot) {
      items_->end();
      return;
    }
    XercesDOMParser::endElement(decl, urlId, isRoot, prefix);
  }

  void docCharacters(const XMLCh* const chars, const XMLSize_t length,
                     const bool cdataSection) override {
    if (!items_) return XercesDOMParser::docCharacters(chars, length, cdataSection);
    items_->characters(chars, length);
  }

  void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length,
                           const bool cdataSection) override {
    if (!items_) return XercesDOMParser::ignorableWhitespace(chars, length, cdataSection);
    items_->characters(chars, length);
  }

  void docComment(const XMLCh* const comment) override {
    if (!items_) XercesDOMParser::docComment(comment);
  }

  void docPI(const XMLCh* const target, const XMLCh* const data) override {
    if (!items_) XercesDOMParser::docPI(target, data);
  }

 private:
  ItemBuilder* const items_;
  int openElements_ = 0;
  bool tooDeep_ = false;
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
  reachedParser_ = false;
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
    std::unique_ptr<ItemBuilder> items;
    if (visit) items = std::make_unique<ItemBuilder>(*acceptRoot, *visit);
    auto parser = std::make_unique<GuardedDomParser>(items.get());
    parser->setValidationScheme(XercesDOMParser::Val_Never);
    parser->setDoNamespaces(false);
    parser->setDoSchema(false);
    parser->setLoadExternalDTD(false);
    parser->setSkipDTDValidation(true);
    parser->setDisableDefaultEntityResolution(true);
    parser->setCreateEntityReferenceNodes(false);
    SecurityManager security;
    security.setEntityExpansionLimit(kEntityExpansionLimit);
    parser->setSecurityManager(&security);
    FirstErrorHandler errors;
    parser->setErrorHandler(&errors);

    MemBufInputSource source(reinterpret_cast<const XMLByte*>(body.data()), body.size(), bufferId,
                             false);
    source.setCopyBufToStream(false);  // read in place: the body may be hundreds of megabytes
    parser->parse(source);
    parser->setErrorHandler(nullptr);
    parser->setSecurityManager(nullptr);
    const GuardedDomParser& guarded = *parser;
    parser_ = std::move(parser);  // owns root(); the item builder is not used after the parse

    if (guarded.tooDeep()) {
      error_ =
          "the body nests elements more than " + std::to_string(kMaxNestingDepth) + " levels deep";
      return false;
    }
    if (!errors.message().empty() || parser_->getErrorCount() != 0) {
      error_ = errors.message().empty() ? "the body is not well-formed XML" : errors.message();
      return false;
    }
    DOMDocument* document = parser_->getDocument();
    root_ = document ? document->getDocumentElement() : nullptr;
    if (!root_) {
      error_ = "the body has no document element";
      return false;
    }
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
