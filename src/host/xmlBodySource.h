// A body handed to Xerces in place, whose end can be brought forward while Xerces reads it.
#pragma once

#include <string>
#include <xercesc/sax/InputSource.hpp>

namespace Hypervale {
namespace xml {

class BodySource : public xercesc::InputSource {
 public:
  // `body` must outlive the parse.
  BodySource(const std::string& body, const char* bufferId);

  // The stream Xerces reads (and deletes when the parse ends) hands over this source's window.
  xercesc::BinInputStream* makeStream() const override;

  // From now on at most `more` bytes beyond those Xerces has already been given are handed
  // over; the rest of the body reads as its end.
  void limitTo(size_t more);
  // Whether a limit kept bytes of the body from Xerces.
  bool cut() const { return window_.end < body_.size(); }

  // What of the body is handed over; shared with the stream, which Xerces owns.
  struct Window {
    size_t position;
    size_t end;
  };

 private:
  const std::string& body_;
  mutable Window window_;
};

}  // namespace xml
}  // namespace Hypervale
