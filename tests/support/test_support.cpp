#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace hvtest {

LogCapture::LogCapture() : previousThreshold_(Hypervale::GetLogThreshold()) {
  Hypervale::SetLogThreshold(100);
  Hypervale::SetLogSink([this](const Hypervale::LogLine& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  });
}

LogCapture::~LogCapture() {
  Hypervale::SetLogSink(nullptr);
  Hypervale::SetLogThreshold(previousThreshold_);
}

std::vector<Hypervale::LogLine> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<std::string> LogCapture::errors() const {
  std::vector<std::string> result;
  for (const auto& line : lines()) {
    if (line.severity == Hypervale::LogSeverity::Error) result.push_back(line.message);
  }
  return result;
}

bool LogCapture::contains(const std::string& text) const {
  for (const auto& line : lines()) {
    if (line.message.find(text) != std::string::npos) return true;
  }
  return false;
}

bool LogCapture::containsError(const std::string& text) const {
  for (const auto& message : errors()) {
    if (message.find(text) != std::string::npos) return true;
  }
  return false;
}

std::string LogCapture::all() const {
  std::string text;
  for (const auto& line : lines()) text += line.function + ": " + line.message + "\n";
  return text;
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

SleepRecorder::SleepRecorder(std::function<void(unsigned long)> onSleep) {
  Hypervale::SetSleeper([this, onSleep = std::move(onSleep)](unsigned long ms) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sleeps_.push_back(ms);
    }
    if (onSleep) onSleep(ms);
  });
}

SleepRecorder::~SleepRecorder() { Hypervale::SetSleeper(nullptr); }

std::vector<unsigned long> SleepRecorder::sleeps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sleeps_;
}

ConfigScope::~ConfigScope() { Hypervale::ClearConfig(); }

ConfigScope& ConfigScope::set(const std::string& key, const std::string& value,
                              const std::string& section) {
  Hypervale::SetConfigValue(section, key, value);
  return *this;
}

std::string Fixture(const std::string& relativePath) {
  const std::string path = std::string(HV_FIXTURE_DIR) + "/" + relativePath;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "missing fixture " << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace hvtest
