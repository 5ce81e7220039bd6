// Shared test helpers: log capture, sleep recording, configuration and fixtures.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "hypervale/host.h"

namespace hvtest {

// Captures every log line (all levels) while alive, keeping the lines the library hands over.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<Hypervale::LogLine> lines() const;
  std::vector<std::string> errors() const;
  bool contains(const std::string& text) const;
  bool containsError(const std::string& text) const;
  // The whole capture as one text, for "never contains" checks.
  std::string all() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Hypervale::LogLine> lines_;
  int previousThreshold_;
};

// Records requested sleeps instead of sleeping while alive, and hands each to `onSleep` when
// given (e.g. to advance a simulator's clock by what the client asked to sleep).
class SleepRecorder {
 public:
  explicit SleepRecorder(std::function<void(unsigned long)> onSleep = nullptr);
  ~SleepRecorder();
  SleepRecorder(const SleepRecorder&) = delete;
  SleepRecorder& operator=(const SleepRecorder&) = delete;

  std::vector<unsigned long> sleeps() const;

 private:
  mutable std::mutex mutex_;
  std::vector<unsigned long> sleeps_;
};

// Sets configuration values for its lifetime and clears the whole store afterwards.
class ConfigScope {
 public:
  ConfigScope() = default;
  ~ConfigScope();
  ConfigScope& set(const std::string& key, const std::string& value,
                   const std::string& section = "VirtualServer");
};

// Text of a file under tests/fixtures, e.g. "v4/vm.xml". Fails the test when missing.
std::string Fixture(const std::string& relativePath);

}  // namespace hvtest
