#include "host/xmlBodySource.h"

#include <algorithm>
#include <cstring>
#include <xercesc/util/BinInputStream.hpp>

namespace Hypervale {
namespace xml {
namespace {

class BodyStream : public xercesc::BinInputStream {
 public:
  BodyStream(std::string_view first, std::string_view second, BodySource::Window& window)
      : first_(first), second_(second), window_(window) {}

  XMLFilePos curPos() const override { return window_.position; }

  XMLSize_t readBytes(XMLByte* const toFill, const XMLSize_t maxToRead) override {
    size_t count = std::min<size_t>(maxToRead, window_.end - window_.position);
    XMLByte* to = toFill;
    if (window_.position < first_.size()) {
      const size_t fromFirst = std::min(count, first_.size() - window_.position);
      std::memcpy(to, first_.data() + window_.position, fromFirst);
      to += fromFirst;
      window_.position += fromFirst;
      count -= fromFirst;
    }
    if (count > 0) {
      std::memcpy(to, second_.data() + (window_.position - first_.size()), count);
      to += count;
      window_.position += count;
    }
    return static_cast<XMLSize_t>(to - toFill);
  }

  const XMLCh* getContentType() const override { return nullptr; }

 private:
  const std::string_view first_;
  const std::string_view second_;
  BodySource::Window& window_;
};

}  // namespace

BodySource::BodySource(const std::string& body, const char* bufferId)
    : BodySource(std::string_view(body), std::string_view(), bufferId) {}

BodySource::BodySource(std::string_view first, std::string_view second, const char* bufferId)
    : InputSource(bufferId),
      first_(first),
      second_(second),
      window_{0, first.size() + second.size()} {}

xercesc::BinInputStream* BodySource::makeStream() const {
  window_.position = 0;
  return new BodyStream(first_, second_, window_);
}

void BodySource::limitTo(size_t more) {
  window_.end = std::min(window_.end, window_.position + more);
}

}  // namespace xml
}  // namespace Hypervale
