// Host services: formatting, trimming, configuration, sleeping and the log.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/kwDebug.h"
#include "host/platformInfo.h"
#include "host/ubSleep.h"
#include "host/ubString.h"
#include "support/test_support.h"

namespace Hypervale {
namespace {

TEST(UbStringTest, PositionalFormatExpandsNumberedPlaceholders) {
  struct Case {
    const char* format;
    std::vector<CUbString> args;
    const char* expected;
  };
  const Case cases[] = {
      {"{1}/{2}", {"ovirt-engine/api/vms", "abc"}, "ovirt-engine/api/vms/abc"},
      {"{1}?search=name={2}",
       {"ovirt-engine/api/vms", "my vm"},
       "ovirt-engine/api/vms?search=name=my vm"},
      {"{2}-{1}-{2}", {"a", "b"}, "b-a-b"},
      {"{1}/{3}", {"a", "b"}, "a/{3}"},  // no matching argument: kept as written
      {"{0}{x}{}{", {"a"}, "{0}{x}{}{"},
      {"{10}", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "ten"}, "ten"},
      {"{1}", {"{2}"}, "{2}"},  // an argument is not expanded again
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CUbString::Format(c.format, c.args).str(), c.expected) << c.format;
  }
  EXPECT_STREQ(CUbString::Format("{1}/{2}/{3}/{4}/{5}/{6}", "a", "b", "c", "d", "e", "f").c_str(),
               "a/b/c/d/e/f");
}

TEST(UbStringTest, PrintfFormattingAndTrimming) {
  std::string out = "old";
  FormatString(out, "%s_%ld", "backup", 1700000000L);
  EXPECT_EQ(out, "backup_1700000000");
  const std::string big(100000, 'x');
  FormatString(out, "%s?search=correlation_id=%s", "ovirt-engine/api/jobs", big.c_str());
  EXPECT_EQ(out.size(),
            std::string("ovirt-engine/api/jobs?search=correlation_id=").size() + big.size());

  std::string text = " \t up\t \t";
  TrimString(text, " \t");
  EXPECT_EQ(text, "up");
  text = "a b";
  TrimString(text, " \t");
  EXPECT_EQ(text, "a b");
  text = " \t \t";
  TrimString(text, " \t");
  EXPECT_EQ(text, "");
  text = "\nup\n";
  TrimString(text, " \t");  // only the given characters
  EXPECT_EQ(text, "\nup\n");
}

TEST(PlatformInfoTest, AbsentKeysLeaveOutputsUnchanged) {
  hvtest::ConfigScope config;
  config.set("sRHEVMAPIVERSION", "3")
      .set("nRHEVMAPIRETRYCT", "7")
      .set("nRHEVMAPISLEEPINTERVAL", "soon");
  const TzPlatformInfo info;
  std::string text = "default";
  unsigned long number = 20;
  EXPECT_FALSE(info.getString("VirtualServer", "missing", &text));
  EXPECT_EQ(text, "default");
  EXPECT_FALSE(info.getString("OtherSection", "sRHEVMAPIVERSION", &text));
  EXPECT_EQ(text, "default");
  EXPECT_TRUE(info.getString("VirtualServer", "sRHEVMAPIVERSION", &text));
  EXPECT_EQ(text, "3");
  EXPECT_TRUE(info.getNumber("VirtualServer", "nRHEVMAPIRETRYCT", &number));
  EXPECT_EQ(number, 7u);
  number = 10000;
  EXPECT_FALSE(info.getNumber("VirtualServer", "nRHEVMAPISLEEPINTERVAL", &number));
  EXPECT_EQ(number, 10000u);  // not a number: treated as absent
  EXPECT_FALSE(info.getNumber("VirtualServer", "missing", &number));
  EXPECT_EQ(number, 10000u);
}

TEST(PlatformInfoTest, LoadsSectionsFromFile) {
  hvtest::ConfigScope config;
  const std::string path = ::testing::TempDir() + "hypervale_config_test.ini";
  {
    std::ofstream out(path);
    out << "# comment\n[VirtualServer]\n nRHEVMAPIRETRYCT = 3 \r\nsRhevNicInterfaceName=virtio\n"
           "; another\nnot a pair\n[Other]\nnRHEVMAPIRETRYCT=9\n";
  }
  ASSERT_TRUE(LoadConfigFile(path));
  const TzPlatformInfo info;
  unsigned long retries = 0;
  std::string nic;
  info.getNumber("VirtualServer", "nRHEVMAPIRETRYCT", &retries);
  info.getString("VirtualServer", "sRhevNicInterfaceName", &nic);
  EXPECT_EQ(retries, 3u);
  EXPECT_EQ(nic, "virtio");
  info.getNumber("Other", "nRHEVMAPIRETRYCT", &retries);
  EXPECT_EQ(retries, 9u);
  EXPECT_FALSE(LoadConfigFile(path + ".missing"));
  std::remove(path.c_str());
}

TEST(SleepTest, ReplaceableSleeperRecordsInsteadOfSleeping) {
  hvtest::SleepRecorder recorder;
  UBSLEEP(5000, __FILE__, __LINE__);
  UBSLEEP(2000, __FILE__, __LINE__);
  EXPECT_EQ(recorder.sleeps(), (std::vector<unsigned long>{5000, 2000}));
}

class Logger : public KwDebug {
 public:
  void work(int level) const {
    Error(HV_FUNC, "Failed to get info for link [%s]", "vms/1");
    Debug(HV_FUNC, "progress %d", 1);
    DebugLvl(HV_FUNC, level, "trace [%s]", "body");
  }
};

TEST(LogTest, LinesCarryTheCallersSignatureAndRespectTheThreshold) {
  hvtest::LogCapture capture;
  Logger().work(0);
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].severity, LogSeverity::Error);
  EXPECT_EQ(lines[0].message, "Failed to get info for link [vms/1]");
  EXPECT_NE(lines[0].function.find("void Hypervale::{anonymous}::Logger::work(int) const"),
            std::string::npos)
      << lines[0].function;
  EXPECT_EQ(lines[2].level, 2);

  capture.clear();
  SetLogThreshold(1);  // errors and progress only
  Logger().work(4);
  EXPECT_EQ(capture.lines().size(), 2u);
  SetLogThreshold(2);
  Logger().work(2);  // trace level 2 is line level 4: filtered
  EXPECT_EQ(capture.lines().size(), 4u);
}

TEST(LogTest, DefaultSinkWritesTimestampedLinesToTheNamedFile) {
  const std::string path = ::testing::TempDir() + "hypervale_log_test.log";
  std::remove(path.c_str());
  ASSERT_TRUE(SetLogFile(path));
  Logger().work(4);
  ASSERT_TRUE(SetLogFile(""));
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string content = text.str();
  // "YYYY-MM-DD HH:MM:SS.mmm ERROR <signature>: <message>"
  EXPECT_EQ(content.find("ERROR "), 24u) << content;
  EXPECT_NE(content.find("Logger::work(int) const: Failed to get info for link [vms/1]\n"),
            std::string::npos);
  EXPECT_EQ(content.find("trace [body]"), std::string::npos);
  EXPECT_FALSE(SetLogFile("/nonexistent-dir/x.log"));
  std::remove(path.c_str());
}

TEST(HostConcurrencyTest, HooksAreSafeFromSeveralThreads) {
  hvtest::LogCapture capture;
  hvtest::ConfigScope config;
  std::atomic<int> seen{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &seen] {
      const TzPlatformInfo info;
      for (int i = 0; i < 500; ++i) {
        SetConfigValue("VirtualServer", "key" + std::to_string(t), std::to_string(i));
        std::string value;
        if (info.getString("VirtualServer", "key" + std::to_string(t), &value)) ++seen;
        Logger().work(0);
        UBSLEEP(0, __FILE__, __LINE__);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(seen.load(), 2000);
  EXPECT_EQ(capture.lines().size(), 6000u);
}

}  // namespace
}  // namespace Hypervale
