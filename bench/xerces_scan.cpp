#include "xerces_scan.h"

#include <chrono>
#include <stdexcept>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLUni.hpp>

namespace hvbench {
namespace {

using namespace xercesc;

// Counts what the scanner reports as wrong; everything else is dropped.
class Discard : public DefaultHandler {
 public:
  void error(const SAXParseException&) override { ++errors; }
  void fatalError(const SAXParseException&) override { ++errors; }
  size_t errors = 0;
};

}  // namespace

XercesScan::XercesScan() { XMLPlatformUtils::Initialize(); }

XercesScan::~XercesScan() { XMLPlatformUtils::Terminate(); }

double XercesScan::seconds(const std::vector<std::shared_ptr<const std::string>>& bodies) const {
  const std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader());
  reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
  reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
  reader->setFeature(XMLUni::fgXercesLoadExternalDTD, false);
  // The scanner that only checks well-formedness: the cheapest Xerces-C has.
  reader->setProperty(XMLUni::fgXercesScannerName, const_cast<XMLCh*>(XMLUni::fgWFXMLScanner));
  Discard handler;
  reader->setContentHandler(&handler);
  reader->setErrorHandler(&handler);
  const auto start = std::chrono::steady_clock::now();
  for (const auto& body : bodies) {
    MemBufInputSource source(reinterpret_cast<const XMLByte*>(body->data()), body->size(), "body",
                             false);
    reader->parse(source);
  }
  const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
  if (handler.errors > 0) throw std::runtime_error("a body to scan is not well-formed");
  return spent.count();
}

}  // namespace hvbench
