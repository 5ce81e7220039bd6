#include "host/logCore.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "host/logText.h"

namespace Hypervale {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

const char* SeverityName(LogSeverity severity) {
  switch (severity) {
    case LogSeverity::Error:
      return "ERROR";
    case LogSeverity::Debug:
      return "DEBUG";
    case LogSeverity::Trace:
      return "TRACE";
  }
  return "?";
}

std::string Timestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  char withMillis[40];
  std::snprintf(withMillis, sizeof withMillis, "%s.%03d", text, static_cast<int>(millis));
  return withMillis;
}

// The default sink: stderr or a file the host named. Writes are serialised so lines from
// several facades on several threads never interleave.
class DefaultSink {
 public:
  bool setFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path.empty()) {
      file_.reset();
      return true;
    }
    FilePtr opened(std::fopen(path.c_str(), "a"));
    if (!opened) return false;
    file_ = std::move(opened);
    return true;
  }

  void write(const LogLine& line) {
    const std::string stamp = Timestamp();
    std::lock_guard<std::mutex> lock(mutex_);
    std::FILE* out = file_ ? file_.get() : stderr;
    std::fprintf(out, "%s %s %s: %s\n", stamp.c_str(), SeverityName(line.severity),
                 line.function.c_str(), line.message.c_str());
    std::fflush(out);
  }

 private:
  std::mutex mutex_;
  FilePtr file_;
};

struct LogState {
  std::mutex mutex;
  std::shared_ptr<const LogSink> sink;  // null: default sink
  DefaultSink defaultSink;
  std::atomic<int> threshold{2};
};

LogState& Logging() {
  // Never destroyed, for the same reason as the configuration: facades may log at exit.
  static LogState* const state = new LogState;
  return *state;
}

// A line longer than this is cut, saying how long it was: a value from the engine may be
// megabytes long.
constexpr size_t kMaxLineBytes = 64 * 1024;

// The message formatted into at most kMaxLineBytes, without allocating for what is cut.
std::string FormatBounded(const char* format, va_list args) {
  char small[512];
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(small, sizeof small, format, measure);
  va_end(measure);
  if (needed < 0) return "(a log line that could not be formatted)";
  const size_t length = static_cast<size_t>(needed);
  if (length < sizeof small) return std::string(small, length);
  std::string message(std::min(length, kMaxLineBytes) + 1, '\0');
  std::vsnprintf(&message[0], message.size(), format, args);
  message.resize(message.size() - 1);
  return host::CutPart(message, length, kMaxLineBytes);
}

}  // namespace

void SetLogSink(LogSink sink) {
  auto replacement = sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
  std::lock_guard<std::mutex> lock(Logging().mutex);
  Logging().sink = std::move(replacement);
}

bool SetLogFile(const std::string& path) { return Logging().defaultSink.setFile(path); }

void SetLogThreshold(int threshold) { Logging().threshold.store(threshold); }

int GetLogThreshold() { return Logging().threshold.load(); }

namespace host {

int TraceLevelToLineLevel(int traceLevel) { return 2 + (traceLevel < 0 ? 0 : traceLevel); }

bool LogLevelEnabled(int lineLevel) { return lineLevel <= Logging().threshold.load(); }

void LogFormatted(LogSeverity severity, int lineLevel, const char* function, const char* format,
                  va_list args) {
  if (!LogLevelEnabled(lineLevel) || !format) return;
  // Values from the engine land in log lines: none may start a line of its own or drive the
  // terminal the log is read on.
  const LogLine line{severity, lineLevel, function ? function : "",
                     host::Printable(FormatBounded(format, args))};

  std::shared_ptr<const LogSink> sink;
  {
    std::lock_guard<std::mutex> lock(Logging().mutex);
    sink = Logging().sink;
  }
  // A host sink must never fail a call of ours.
  try {
    if (sink) {
      (*sink)(line);
    } else {
      Logging().defaultSink.write(line);
    }
  } catch (...) {
  }
}

}  // namespace host
}  // namespace Hypervale
