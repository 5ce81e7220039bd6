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
  // For a body nobody reads again once parsed: the memory of what Xerces has been given (past
  // the first MiB, kept for the log lines that quote a body's start) goes back to the system
  // as the parse goes on, so a large list does not hold its body and its records at once. The
  // bytes given back read as zeros afterwards.
  void giveBackWhatWasRead() { window_.giveBack = true; }

  // What of the body is handed over; shared with the stream, which Xerces owns.
  struct Window {
    size_t position;
    size_t end;
    bool giveBack = false;
    size_t givenBack = 0;  // bytes from the body's start whose memory went back, or were kept
  };

 private:
  const std::string& body_;
  mutable Window window_;
};

}  // namespace xml
}  // namespace Hypervale
