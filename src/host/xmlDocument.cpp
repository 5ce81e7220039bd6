#include "host/xmlDocument.h"

#include <cstring>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMLSOutput.hpp>
#include <xercesc/dom/DOMLSSerializer.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>

#include "host/xmlText.h"

namespace Hypervale {
namespace xml {
namespace {

using namespace xercesc;

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

// Finds a document type declaration in the prolog, before the root element starts.
bool HasDocumentTypeDeclaration(const std::string& body) {
  size_t pos = 0;
  if (body.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  while (pos < body.size()) {
    const char c = body[pos];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++pos;
    } else if (body.compare(pos, 2, "<?") == 0) {
      const size_t end = body.find("?>", pos + 2);
      if (end == std::string::npos) return false;
      pos = end + 2;
    } else if (body.compare(pos, 4, "<!--") == 0) {
      const size_t end = body.find("-->", pos + 4);
      if (end == std::string::npos) return false;
      pos = end + 3;
    } else {
      return body.compare(pos, 9, "<!DOCTYPE") == 0;
    }
  }
  return false;
}

// Walks the tree without recursion, for the same reason as the limit itself.
bool NestsDeeperThan(const DOMNode* root, int limit) {
  int depth = 0;
  const DOMNode* node = root;
  while (node) {
    if (const DOMNode* child = node->getFirstChild()) {
      if (++depth > limit) return true;
      node = child;
      continue;
    }
    while (node != root && !node->getNextSibling()) {
      node = node->getParentNode();
      --depth;
    }
    if (node == root) break;
    node = node->getNextSibling();
  }
  return false;
}

}  // namespace

ParsedXml::ParsedXml() = default;

ParsedXml::~ParsedXml() = default;

bool ParsedXml::parse(const std::string& body, const char* bufferId) {
  root_ = nullptr;
  error_.clear();
  if (!XmlLibraryReady()) {
    error_ =
        "the XML library is not initialised (the host must call "
        "xercesc::XMLPlatformUtils::Initialize() before using the library)";
    return false;
  }
  if (body.empty()) {
    error_ = "the body is empty";
    return false;
  }
  if (HasDocumentTypeDeclaration(body)) {
    error_ = "the body carries a document type declaration, which is refused";
    return false;
  }
  try {
    parser_ = std::make_unique<XercesDOMParser>();
    parser_->setValidationScheme(XercesDOMParser::Val_Never);
    parser_->setDoNamespaces(false);
    parser_->setDoSchema(false);
    parser_->setLoadExternalDTD(false);
    parser_->setSkipDTDValidation(true);
    parser_->setDisableDefaultEntityResolution(true);
    parser_->setCreateEntityReferenceNodes(false);
    SecurityManager security;
    security.setEntityExpansionLimit(kEntityExpansionLimit);
    parser_->setSecurityManager(&security);
    FirstErrorHandler errors;
    parser_->setErrorHandler(&errors);

    MemBufInputSource source(reinterpret_cast<const XMLByte*>(body.data()), body.size(), bufferId,
                             false);
    parser_->parse(source);
    parser_->setErrorHandler(nullptr);
    parser_->setSecurityManager(nullptr);

    if (!errors.message().empty() || parser_->getErrorCount() != 0) {
      error_ = errors.message().empty() ? "the body is not well-formed XML" : errors.message();
      return false;
    }
    DOMDocument* document = parser_->getDocument();
    // The check before parsing reads ASCII-compatible encodings only; a UTF-16 or UTF-32
    // body brings its declaration this far.
    if (document && document->getDoctype()) {
      error_ = "the body carries a document type declaration, which is refused";
      return false;
    }
    root_ = document ? document->getDocumentElement() : nullptr;
    if (!root_) {
      error_ = "the body has no document element";
      return false;
    }
    if (NestsDeeperThan(root_, kMaxNestingDepth)) {
      error_ =
          "the body nests elements more than " + std::to_string(kMaxNestingDepth) + " levels deep";
      root_ = nullptr;
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
