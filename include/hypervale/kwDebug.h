// The log channel every library class writes through; the facade derives from KwEvent.
#pragma once

#include <cstdarg>

#include "hypervale/export.h"

namespace Hypervale {

// Names a log destination of the host's; the library always passes null (the default log).
class KwDebugFileInstance;

#ifndef HV_PRINTF
#define HV_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#endif

class HYPERVALE_API KwDebug {
 public:
  explicit KwDebug(KwDebugFileInstance* instance = nullptr);
  virtual ~KwDebug();

  // `function` is the caller's full signature (use HV_FUNC); the rest is printf-style.
  void Error(const char* function, const char* format, ...) const HV_PRINTF(3, 4);
  void Debug(const char* function, const char* format, ...) const HV_PRINTF(3, 4);
  void DebugLvl(const char* function, int level, const char* format, ...) const HV_PRINTF(4, 5);

 private:
  [[maybe_unused]] KwDebugFileInstance* instance_;  // the library always logs to the default
};

// The facade's log base; same operations as KwDebug.
class HYPERVALE_API KwEvent : public KwDebug {
 public:
  explicit KwEvent(KwDebugFileInstance* instance = nullptr) : KwDebug(instance) {}
};

}  // namespace Hypervale

#define HV_FUNC __PRETTY_FUNCTION__
