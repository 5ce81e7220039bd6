// The least any client reading these answers with Xerces-C must spend on them: Xerces-C's own
// well-formedness scanner run over the bodies with handlers that do nothing (no tree, no
// records). Added to curl's download it is the floor of the library's time, since the library
// receives a body and then parses it on the same thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace hvbench {

class XercesScan {
 public:
  XercesScan();
  ~XercesScan();
  XercesScan(const XercesScan&) = delete;
  XercesScan& operator=(const XercesScan&) = delete;

  // Seconds to scan every body once, one after the other; throws when one is not well-formed.
  double seconds(const std::vector<std::shared_ptr<const std::string>>& bodies) const;
};

}  // namespace hvbench
