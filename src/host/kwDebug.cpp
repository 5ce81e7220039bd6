#include "host/kwDebug.h"

#include "host/logCore.h"

namespace Hypervale {

KwDebug::KwDebug(KwDebugFileInstance* instance) : instance_(instance) {}

KwDebug::~KwDebug() = default;

void KwDebug::Error(const char* function, const char* format, ...) const {
  va_list args;
  va_start(args, format);
  host::LogFormatted(LogSeverity::Error, 0, function, format, args);
  va_end(args);
}

void KwDebug::Debug(const char* function, const char* format, ...) const {
  if (!host::LogLevelEnabled(1)) return;
  va_list args;
  va_start(args, format);
  host::LogFormatted(LogSeverity::Debug, 1, function, format, args);
  va_end(args);
}

void KwDebug::DebugLvl(const char* function, int level, const char* format, ...) const {
  const int lineLevel = host::TraceLevelToLineLevel(level);
  // Checked before formatting: trace lines may carry whole response bodies.
  if (!host::LogLevelEnabled(lineLevel)) return;
  va_list args;
  va_start(args, format);
  host::LogFormatted(LogSeverity::Trace, lineLevel, function, format, args);
  va_end(args);
}

}  // namespace Hypervale
