#include "facade/guard.h"

#include <exception>

namespace Hypervale {

bool UnexpectedFailure(const KwDebug& log, const char* function) {
  try {
    throw;
  } catch (const std::exception& e) {
    log.Error(function, "Unexpected failure: %s", e.what());
  } catch (...) {
    log.Error(function, "Unexpected failure");
  }
  return false;
}

}  // namespace Hypervale
