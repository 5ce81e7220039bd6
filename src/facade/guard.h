// Keeps anything thrown below the facade (an allocation failure on a huge answer, say) from
// reaching the agent. Public members are function-try-blocks whose handler calls this:
//
//   bool TzHypervale::member(...) try { ... } catch (...) { return UnexpectedFailure(*this,
//   HV_FUNC); }
#pragma once

#include "host/kwDebug.h"

namespace Hypervale {

// Logs the exception being handled and returns false. Call only from a catch handler.
bool UnexpectedFailure(const KwDebug& log, const char* function);

}  // namespace Hypervale
