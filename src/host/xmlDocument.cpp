#include "host/xmlDocument.h"

#include <cstring>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMImplementation.hpp>
#include <xercesc/dom/DOMImplementationRegistry.hpp>
#include <xercesc/dom/DOMLSOutput.hpp>
#include <xercesc/dom/DOMLSSerializer.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include "host/xmlBodyGate.h"
#include "host/xmlBodySource.h"
#include "host/xmlText.h"

namespace Hypervale {
namespace xml {
namespace {

using namespace xercesc;

// What a tree may hold beyond twice the body: the nodes of small bodies.
constexpr size_t kTreeAllowance = 16u << 20;

// The tree of a body, or of one of its items, never takes more than twice the body.
size_t Budget(size_t bodyBytes) { return 2 * bodyBytes + kTreeAllowance; }

}  // namespace

ParsedXml::ParsedXml(XmlReader* kept) : kept_(kept) {}

ParsedXml::~ParsedXml() = default;

bool ParsedXml::parse(const std::string& body, const char* bufferId) {
  return Run(body, bufferId, nullptr, nullptr, false);
}

bool ParsedXml::parseItems(const std::string& body, const char* bufferId,
                           const RootCheck& acceptRoot, const ItemVisitor& visit,
                           bool giveBackBody) {
  return Run(body, bufferId, &acceptRoot, &visit, giveBackBody);
}

std::string ParsedXml::Refusal(const std::string& body, BodyShape* shape) {
  root_ = nullptr;
  tree_.reset();
  reachedParser_ = false;
  sawDocumentType_ = false;
  elementNames_ = 0;
  if (!XmlLibraryReady()) return kXmlLibraryNotReady;
  if (body.empty()) return "the body is empty";
  return WhyRefusedBeforeParsing(body, shape);
}

bool ParsedXml::Run(const std::string& body, const char* bufferId, const RootCheck* acceptRoot,
                    const ItemVisitor* visit, bool giveBackBody) {
  shape_ = BodyShape();
  error_ = Refusal(body, visit ? &shape_ : nullptr);
  if (!error_.empty()) return false;
  try {
    BodySource source(body, bufferId);
    if (giveBackBody) source.giveBackWhatWasRead();
    return Read(source, Budget(body.size()), acceptRoot, visit);
  } catch (...) {
    error_ = "unknown failure while parsing";
    return false;
  }
}

bool ParsedXml::Read(BodySource& source, size_t budget, const RootCheck* acceptRoot,
                     const ItemVisitor* visit) {
  try {
    reachedParser_ = true;
    auto tree = std::make_unique<XmlTree>(budget);
    XmlTree item(budget);
    ScanTargets targets{*tree, item, acceptRoot, visit, source};
    // A reader of items that parses again gets a reader of its own.
    std::unique_ptr<XmlReader> own;
    const bool claimed = kept_ && kept_->claim();
    struct Release {
      XmlReader* kept;
      ~Release() {
        if (kept) kept->release();
      }
    } release{claimed ? kept_ : nullptr};
    if (!claimed) own = std::make_unique<XmlReader>();
    XmlReader* const reader = claimed ? kept_ : own.get();
    error_ = reader->read(targets);
    sawDocumentType_ = reader->sawDocumentType();
    elementNames_ = reader->elementNames();
    if (!error_.empty()) return false;
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
