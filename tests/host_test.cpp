// Host services: formatting, configuration, sleeping and the log.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>
#include <tuple>

#include "host/kwDebug.h"
#include "host/logText.h"
#include "host/platformInfo.h"
#include "host/ubString.h"
#include "support/temp_folder.h"
#include "support/test_support.h"

namespace Hypervale {
namespace {

TEST(UbStringTest, PositionalAndPrintfFormats) {
  const std::tuple<const char*, std::vector<CUbString>, const char*> cases[] = {
      {"{1}?search=name={2}", {"api/vms", "my vm"}, "api/vms?search=name=my vm"},
      {"{2}-{1}-{2}", {"a", "b"}, "b-a-b"},
      {"{1}/{3}", {"a", "b"}, "a/{3}"},  // no matching argument: kept as written
      {"{0}{x}{}{", {"a"}, "{0}{x}{}{"},
      {"{10}", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "ten"}, "ten"},
      {"{1}{2}", {"{2}", "b"}, "{2}b"},  // an argument is not expanded again
  };
  for (const auto& [format, args, expected] : cases) {
    EXPECT_EQ(CUbString::Format(format, args).str(), expected) << format;
  }
  EXPECT_STREQ(CUbString::Format("{1}/{2}/{3}/{4}/{5}/{6}", "a", "b", "c", "d", "e", "f").c_str(),
               "a/b/c/d/e/f");
  std::string out = "old";
  const std::string big(100000, 'x');
  FormatString(out, "%s_%ld=%s", "backup", 1700000000L, big.c_str());
  EXPECT_EQ(out, "backup_1700000000=" + big);
}

TEST(PlatformInfoTest, ValuesFromTheStoreOrAFileAndAbsentKeysLeaveOutputsUnchanged) {
  hvtest::ConfigScope config;
  const hvtest::TempFolder folder;
  const std::string path = folder.file("hypervale.ini");
  std::ofstream(path) << "# comment\n[VirtualServer]\n nRHEVMAPIRETRYCT = 3 \r\n"
                         "sRhevNicInterfaceName=virtio\n; another\nnot a pair\n[Other]\n"
                         "nRHEVMAPIRETRYCT=9\n";
  ASSERT_TRUE(LoadConfigFile(path));
  EXPECT_FALSE(LoadConfigFile(folder.file("missing.ini")));
  config.set("nRHEVMAPISLEEPINTERVAL", "soon");
  const TzPlatformInfo info;
  std::string text = "default";
  unsigned long numbers[2] = {20, 20};
  EXPECT_TRUE(info.getNumber("VirtualServer", "nRHEVMAPIRETRYCT", &numbers[0]));
  EXPECT_TRUE(info.getNumber("Other", "nRHEVMAPIRETRYCT", &numbers[1]));
  EXPECT_TRUE(info.getString("VirtualServer", "sRhevNicInterfaceName", &text));
  EXPECT_EQ(std::to_string(numbers[0]) + std::to_string(numbers[1]) + text, "39virtio");
  unsigned long number = 9;
  // Not a number counts as absent.
  EXPECT_FALSE(info.getNumber("VirtualServer", "nRHEVMAPISLEEPINTERVAL", &number));
  EXPECT_FALSE(info.getNumber("VirtualServer", "missing", &number));
  EXPECT_FALSE(info.getString("OtherSection", "sRhevNicInterfaceName", &text));
  EXPECT_EQ(std::to_string(number) + text, "9virtio");
}

class Logger : public KwDebug {
 public:
  void work(int level) const {
    Error(HV_FUNC, "Failed to get info for link [%s]", "vms/1");
    Debug(HV_FUNC, "progress %d", 1);
    DebugLvl(HV_FUNC, level, "trace [%s]", "body");
  }
};

// Lines carry the caller's signature and respect the threshold; the default sink writes them
// timestamped to the named file.
TEST(LogTest, LinesCarryTheCallersSignatureAndRespectTheThreshold) {
  {
    hvtest::LogCapture capture;
    Logger().work(0);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].severity, LogSeverity::Error);
    EXPECT_EQ(lines[2].level, 2);
    capture.clear();
    SetLogThreshold(1);  // errors and progress only
    Logger().work(4);
    EXPECT_EQ(capture.lines().size(), 2u);
    SetLogThreshold(2);
    Logger().work(2);  // trace level 2 is line level 4: filtered
    EXPECT_EQ(capture.lines().size(), 4u);
  }
  const hvtest::TempFolder folder;
  ASSERT_TRUE(SetLogFile(folder.file("hypervale.log")));
  Logger().work(4);
  ASSERT_TRUE(SetLogFile(""));
  std::stringstream text;
  text << std::ifstream(folder.file("hypervale.log")).rdbuf();
  // "YYYY-MM-DD HH:MM:SS.mmm ERROR <signature>: <message>"
  EXPECT_EQ(text.str().find("ERROR "), 24u) << text.str();
  EXPECT_NE(text.str().find("Logger::work(int) const: Failed to get info for link [vms/1]\n"),
            std::string::npos);
  EXPECT_EQ(text.str().find("trace [body]"), std::string::npos);
  EXPECT_FALSE(SetLogFile(folder.file("no-such-dir/x.log")));
}

// Engine values in log lines: runs of plain ASCII go over unchanged, around them nothing that
// starts a line or drives a terminal, and invalid UTF-8 is replaced byte by byte.
TEST(LogTest, ValuesAreEscapedAroundPlainText) {
  const struct {
    std::string value, logged;
  } cases[] = {
      {"plain ~ text", "plain ~ text"},
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {std::string("\0\x1b[2J\x7f", 6), "\\x00\\x1b[2J\\x7f"},
      {"caf\xC3\xA9 \xC2\x85 \xE2\x80\xA8\xE2\x80\xA9 \xF0\x9D\x84\x9E",
       "caf\xC3\xA9 \\u0085 \\u2028\\u2029 \xF0\x9D\x84\x9E"},
      {"x\xC3(\xED\xA0\x80y", "x\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDy"},
  };
  for (const auto& c : cases) EXPECT_EQ(host::Printable(c.value), c.logged) << c.logged;
}

// Hosts may change the configuration while facades read it on other threads (the sleeper and
// the log from several threads are the concurrency test's).
TEST(PlatformInfoTest, ConfigurationIsSafeFromSeveralThreads) {
  hvtest::ConfigScope config;
  std::atomic<int> seen{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &seen] {
      const std::string key = "key" + std::to_string(t);
      for (int i = 0; i < 500; ++i) {
        SetConfigValue("VirtualServer", key, std::to_string(i));
        std::string value;
        if (TzPlatformInfo().getString("VirtualServer", key, &value)) ++seen;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(seen.load(), 2000);
}

}  // namespace
}  // namespace Hypervale
