// Hooks through which the loading agent supplies logging, configuration values and sleeping.
// Every function here is safe to call from several threads at once.
#pragma once

#include <functional>
#include <string>

#include "hypervale/export.h"

namespace Hypervale {

enum class LogSeverity { Error, Debug, Trace };

// One log line as the library produced it; it owns its texts, so a sink may keep it. `level`
// orders lines by verbosity: Error 0, Debug 1, trace lines 2 + their trace level (trace levels
// 0, 2 and 4 are used).
struct LogLine {
  LogSeverity severity;
  int level;
  std::string function;
  std::string message;
};

using LogSink = std::function<void(const LogLine&)>;

// Replaces the sink; an empty function restores the default sink, which writes
// timestamped lines to stderr or to the file named by SetLogFile.
HYPERVALE_API void SetLogSink(LogSink sink);
// Makes the default sink append to `path`; an empty path returns it to stderr.
// Returns false when the file cannot be opened (the sink then stays as it was).
HYPERVALE_API bool SetLogFile(const std::string& path);
// Lines whose level is above the threshold are neither formatted nor delivered.
// The default, 2, keeps errors, progress and trace level 0 (request bodies after EnableDebug).
HYPERVALE_API void SetLogThreshold(int threshold);
HYPERVALE_API int GetLogThreshold();

// Configuration values, looked up by section and key.
HYPERVALE_API void SetConfigValue(const std::string& section, const std::string& key,
                                  const std::string& value);
HYPERVALE_API void RemoveConfigValue(const std::string& section, const std::string& key);
HYPERVALE_API void ClearConfig();
// Loads "[Section]" headers and "key = value" lines; '#' and ';' start comments.
// Values already set for other keys stay. Returns false when the file cannot be read.
HYPERVALE_API bool LoadConfigFile(const std::string& path);

// Replaces how the library sleeps between polls and retries; an empty function restores
// the real sleep. Tests install a recorder.
using Sleeper = std::function<void(unsigned long milliseconds)>;
HYPERVALE_API void SetSleeper(Sleeper sleeper);

}  // namespace Hypervale

namespace Hypervale {

// The XML library (Xerces-C) must be initialised process-wide before the first connect.
// A host that already uses Xerces-C calls xercesc::XMLPlatformUtils::Initialize() itself;
// others may call these two, which pair up (reference counted) and may be called from
// several threads. A library call made before initialisation fails with an error line.
HYPERVALE_API void InitializeXmlLibrary();
HYPERVALE_API void TerminateXmlLibrary();

}  // namespace Hypervale
