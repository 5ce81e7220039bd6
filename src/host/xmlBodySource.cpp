#include "host/xmlBodySource.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <xercesc/util/BinInputStream.hpp>

namespace Hypervale {
namespace xml {
namespace {

// The start of a body always stays: log lines quote it.
constexpr size_t kKept = 1u << 20;
// Memory goes back in steps of this much, a system call each.
constexpr size_t kGiveBackStep = 4u << 20;

// Gives back the whole pages of [from, to) of `data`; what stays mapped reads as zeros.
void GiveBack(const char* data, size_t from, size_t to) {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(data) + from;
  const auto end = reinterpret_cast<std::uintptr_t>(data) + to;
  const std::uintptr_t first = (begin + page - 1) / page * page;
  const std::uintptr_t last = end / page * page;
  // A failure only leaves the memory in use, as without giving back.
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

class BodyStream : public xercesc::BinInputStream {
 public:
  BodyStream(const std::string& body, BodySource::Window& window) : body_(body), window_(window) {}

  XMLFilePos curPos() const override { return window_.position; }

  XMLSize_t readBytes(XMLByte* const toFill, const XMLSize_t maxToRead) override {
    const size_t count = std::min<size_t>(maxToRead, window_.end - window_.position);
    std::memcpy(toFill, body_.data() + window_.position, count);
    window_.position += count;
    if (window_.giveBack) {
      if (window_.givenBack < kKept) window_.givenBack = kKept;
      if (window_.position >= window_.givenBack + kGiveBackStep) {
        GiveBack(body_.data(), window_.givenBack, window_.position);
        window_.givenBack = window_.position;
      }
    }
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
