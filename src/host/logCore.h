// Delivery of formatted log lines to the host's sink, shared by every KwDebug.
#pragma once

#include <cstdarg>

#include "hypervale/host.h"

namespace Hypervale {
namespace host {

int TraceLevelToLineLevel(int traceLevel);
bool LogLevelEnabled(int lineLevel);
void LogFormatted(LogSeverity severity, int lineLevel, const char* function, const char* format,
                  va_list args);

}  // namespace host
}  // namespace Hypervale
