#include "host/xmlBodySource.h"

#include <algorithm>
#include <cstring>
#include <xercesc/util/BinInputStream.hpp>

namespace Hypervale {
namespace xml {
namespace {

class BodyStream : public xercesc::BinInputStream {
 public:
  BodyStream(const std::string& body, BodySource::Window& window) : body_(body), window_(window) {}

  XMLFilePos curPos() const override { return window_.position; }

  XMLSize_t readBytes(XMLByte* const toFill, const XMLSize_t maxToRead) override {
    const size_t count = std::min<size_t>(maxToRead, window_.end - window_.position);
    std::memcpy(toFill, body_.data() + window_.position, count);
    window_.position += count;
    return count;
  }

  const XMLCh* getContentType() const override { return nullptr; }

 private:
  const std::string& body_;
  BodySource::Window& window_;
};

}  // namespace

BodySource::BodySource(const std::string& body, const char* bufferId)
    : InputSource(bufferId), body_(body), window_{0, body.size()} {}

xercesc::BinInputStream* BodySource::makeStream() const {
  window_.position = 0;
  return new BodyStream(body_, window_);
}

void BodySource::limitTo(size_t more) {
  window_.end = std::min(window_.end, window_.position + more);
}

}  // namespace xml
}  // namespace Hypervale
