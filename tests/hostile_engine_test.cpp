// A hostile or broken engine over real HTTPS: ids and links that would name another resource,
// answers that trickle, lie about their length or never end, bodies built to exhaust memory or
// time, and texts built to forge log lines. Every row asserts the call's outcome and, where it
// is a bound, the bound by what was sent, made or logged.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "hypervale/hypervale.h"
#include "support/engine_fixture.h"
#include "transport/libCurl.h"

namespace Hypervale {
namespace {

using hvtest::Answer;
using hvtest::TestEngine;
using hvtest::TestPassword;
using std::chrono::milliseconds;

const char kVmList[] = "/ovirt-engine/api/vms";

std::string Times(const std::string& text, size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  while (times-- > 0) out += text;
  return out;
}

class HostileEngineTest : public hvtest::EngineTest {
 protected:
  // The targets of the requests with this method, as sent.
  std::vector<std::string> targets(const std::string& method) const {
    std::vector<std::string> sent;
    for (const auto& request : engine->requests()) {
      if (request.method == method) sent.push_back(request.target);
    }
    return sent;
  }
  // No log line holds a byte that could end a line or drive a terminal.
  void expectPrintableLog() const {
    for (const auto& line : logs.lines()) {
      for (const char c : line.message) {
        const unsigned char byte = static_cast<unsigned char>(c);
        ASSERT_FALSE(byte < 0x20 || byte == 0x7F) << line.message.substr(0, 200);
      }
    }
  }
  size_t logBytes() const {
    size_t bytes = 0;
    for (const auto& line : logs.lines()) bytes += line.message.size();
    return bytes;
  }
};

TEST_F(HostileEngineTest, EveryHostileAnswerEndsBoundedAndNamesNoOtherResource) {
  const std::string lie = "/ovirt-engine/api/lie";
  TzLibCurl client;  // the row that reads the HTTP client's own counters
  std::vector<SVMInfoLib> list;
  // Reads the VM list into a list holding one record, which a refused read must leave as is.
  const auto readList = [&](TzHypervale& hv) {
    list.assign(1, SVMInfoLib());
    return hv.getVMInfoList(list, 0);
  };
  SVMInfoLib vm;
  SDiskInfoLib disk;
  const struct Row {
    const char* name;
    std::function<void()> serve;  // the engine's answers and the configuration
    bool connectFirst;
    std::function<bool(TzHypervale&)> call;
    bool succeeds;
    std::function<void()> check;
  } rows[] = {
      {"a caller's id with dot segments stays one segment", [] {}, true,
       [&](TzHypervale& hv) {
         disk.id = "../../VICTIM";
         return hv.detachDisk("PROXY", disk);
       },
       false,
       [&] {
         EXPECT_EQ(targets("DELETE"),
                   (std::vector<std::string>{"/ovirt-engine/api/vms/PROXY/diskattachments/"
                                             "..%2F..%2FVICTIM"}));
       }},
      {"a caller's id '..' is refused before anything is sent", [] {}, true,
       [&](TzHypervale& hv) {
         disk.id = "..";
         return hv.detachDisk("PROXY", disk);
       },
       // The attachment list (404 here) cannot tell whether such a disk is attached.
       false,
       [&] {
         EXPECT_TRUE(targets("DELETE").empty());
         EXPECT_TRUE(logs.containsError("Refusing the id [..]"));
       }},
      {"query and fragment delimiters in an id are encoded", [] {}, true,
       [&](TzHypervale& hv) {
         return hv.checkDiskExistence("D1?force=true&x=") || hv.checkVMExistence("a?b#c");
       },
       false,
       [&] {
         EXPECT_EQ(targets("GET"),
                   (std::vector<std::string>{"/ovirt-engine/api/disks/D1%3Fforce%3Dtrue%26x%3D",
                                             "/ovirt-engine/api/vms/a%3Fb%23c"}));
       }},
      {"an engine's id is encoded like a caller's",
       [&] {
         engine->answer("GET", kVmList,
                        Answer::xml(200, "<vms><vm id=\"x?force=true\"><name>n</name></vm></vms>"));
       },
       true, [&](TzHypervale& hv) { return hv.deleteVM("n", ""); }, false,
       [&] {
         EXPECT_EQ(targets("DELETE"),
                   (std::vector<std::string>{"/ovirt-engine/api/vms/x%3Fforce%3Dtrue"}));
       }},
      {"an engine link that climbs out of its resource is refused",
       [&] {
         engine->answer(
             "GET", "/ovirt-engine/api/vms/V",
             Answer::xml(200, "<vm id=\"V\" href=\"/ovirt-engine/api/vms/V/../VICTIM\"/>"));
       },
       true, [&](TzHypervale& hv) { return hv.deleteVM("", "V"); }, false,
       [&] {
         EXPECT_TRUE(targets("DELETE").empty());
         EXPECT_TRUE(logs.containsError("Refusing the engine link"));
       }},
      {"an answer trickled below the stall check ends at the request's deadline",
       [&] {
         config.set("nRhevRequestTimeoutSec", "1");
         engine->answer("GET", kVmList,
                        Answer::trickle(200, "<vms>" + std::string(2000, ' ') + "</vms>", 2,
                                        milliseconds(100)));
       },
       true, [&](TzHypervale& hv) { return hv.getVMInfoList(list, 0); }, false,
       [&] { EXPECT_TRUE(logs.containsError("Operation timed out after")) << logs.all(); }},
      {"a trickled certificate probe ends at the probe's own deadline",
       [&] {
         config.set("nRhevConnectTimeoutSec", "1");
         engine->answer("GET", TestEngine::kCaResourcePath,
                        Answer::trickle(200, std::string(4000, 'c'), 10, milliseconds(100)));
       },
       false, [&](TzHypervale& hv) { return hv.connect(server(), "admin", TestPassword()); }, false,
       [&] {
         EXPECT_TRUE(logs.containsError("Operation timed out after")) << logs.all();
         EXPECT_EQ(count("GET", "/ovirt-engine/api"), 0u);
       }},
      {"a certificate probe of 1 MiB is read",
       [&] {
         engine->answer("GET", TestEngine::kCaResourcePath,
                        Answer::xml(200, std::string(1u << 20, 'c')));
       },
       false, [&](TzHypervale& hv) { return hv.connect(server(), "admin", TestPassword()); }, true,
       [] {}},
      {"a certificate probe one byte longer is not",
       [&] {
         engine->answer("GET", TestEngine::kCaResourcePath,
                        Answer::xml(200, std::string((1u << 20) + 1, 'c')));
       },
       false, [&](TzHypervale& hv) { return hv.connect(server(), "admin", TestPassword()); }, false,
       [&] {
         EXPECT_TRUE(logs.containsError("larger than the limit of 1048576 bytes"));
         EXPECT_EQ(count("GET", "/ovirt-engine/api"), 0u);
       }},
      {"a list of more items than nRhevMaxListItems",
       [&] {
         config.set("nRhevMaxListItems", "1000");
         engine->answer("GET", kVmList,
                        Answer::xml(200, "<vms>" + Times("<vm/>", 1001) + "</vms>"));
       },
       true, readList, false,
       [&] {
         EXPECT_EQ(list.size(), 1u);  // the caller's list as it was
         EXPECT_TRUE(logs.containsError("it holds more than 1000 items"));
       }},
      {"a list whose records would outgrow its body",
       [&] {
         engine->answer("GET", kVmList,
                        Answer::xml(200, "<vms>" + Times("<vm/>", 100000) + "</vms>"));
       },
       true, readList, false,
       [&] {
         EXPECT_EQ(list.size(), 1u);
         // Four times the body and the fixed allowance.
         EXPECT_TRUE(logs.containsError("its records would take more than " +
                                        std::to_string(4 * (5 * 100000 + 11) + (16u << 20)) +
                                        " bytes"));
       }},
      {"an element of 80,000 attributes is read, its last one too",
       [&] {
         std::string wide = "<vm";
         for (int i = 0; i < 80000; ++i) wide += " a" + std::to_string(i) + "=\"v\"";
         engine->answer("GET", "/ovirt-engine/api/vms/W", Answer::xml(200, wide + " id=\"W\"/>"));
       },
       true, [&](TzHypervale& hv) { return hv.getVMInfo("", "W", vm, 0); }, true,
       [&] { EXPECT_EQ(vm.id, "W"); }},
      {"a megabyte unreadable answer is logged once, cut, its control bytes escaped",
       [&] {
         engine->answer("GET", "/ovirt-engine/api",
                        Answer::html(500, "oops\n2024-01-01 00:00:00.000 ERROR forged\x1b[2J\x07" +
                                              std::string(1u << 20, 'x')));
       },
       true, [&](TzHypervale& hv) { return hv.checkConnection(); }, false,
       [&] {
         EXPECT_TRUE(
             logs.containsError("oops\\n2024-01-01 00:00:00.000 ERROR forged\\x1b[2J\\x07"));
         EXPECT_LT(logBytes(), 16u * 1024);
       }},
      {"a megabyte fault is logged once per send, cut, and cut as the last error",
       [&] {
         engine->answer("GET", "/ovirt-engine/api",
                        Answer::engineFault(409, "Operation Failed",
                                            "busy\nERROR forged" + std::string(1u << 20, 'd')));
       },
       true,
       [&](TzHypervale& hv) {
         const bool checked = hv.checkConnection();
         EXPECT_EQ(hv.getLastError().rfind("busy\\nERROR forgedddd", 0), 0u);
         EXPECT_LT(hv.getLastError().size(), 4200u);
         return checked;
       },
       false,
       [&] {
         size_t answerLines = 0;
         for (const auto& line : logs.errors()) answerLines += line.rfind("  Rsp: [", 0) == 0;
         EXPECT_EQ(answerLines, 4u);  // four sends of a conflict
         EXPECT_LT(logBytes(), 32u * 1024);
         EXPECT_TRUE(logs.containsError(" bytes in all]"));
       }},
      {"an XML 1.1 answer is not read",
       [&] {
         engine->answer("GET", "/ovirt-engine/api/vms/X",
                        Answer::xml(200,
                                    "<?xml version=\"1.1\"?><vm id=\"X\"><name>a&#x1B;b</name>"
                                    "</vm>"));
       },
       true, [&](TzHypervale& hv) { return hv.getVMInfo("", "X", vm, 0); }, false,
       [&] { EXPECT_TRUE(logs.containsError("declares the version [1.1]")); }},
      {"a Content-Length that lies sets aside at most 16 MiB",
       [&] {
         engine->answer("GET", lie, Answer::lyingLength(200, std::string(200, 'x'), 1000000000));
       },
       false,
       [&](TzHypervale&) {
         TransportSettings settings;
         settings.caFile = engine->caFile();
         const std::string credentials = std::string("admin@internal:") + TestPassword();
         EXPECT_TRUE(client.TzLibCurlInit(settings, "Accept: application/xml", true) &&
                     client.TzLibCurlAppendHeader(HTTP_HDR_CREDENTIALS, credentials.c_str()));
         return client.TzLibCurlSendHttpReq(HTTP_REQ_GET, ("https://" + server() + lie).c_str(),
                                            nullptr, 0, false, nullptr);
       },
       false,
       [&] {
         EXPECT_EQ(client.GetBodyBytes(), 100u);
         EXPECT_LE(client.GetReservedBytes(), 16u << 20);
       }},
      {"a configuration changed while connecting reaches no request of that connect",
       [&] {
         // Read at the probe, both would break the API root's request: a trust store that
         // does not exist, and the connections of a pool the probe still holds.
         engine->setFallback([this](const hvtest::Request& request) -> std::optional<Answer> {
           if (request.path == TestEngine::kCaResourcePath) {
             config.set("sRhevCAFile", "/nonexistent/ca.pem").set("nRhevReuseConnections", "0");
           }
           return std::nullopt;
         });
       },
       false, [&](TzHypervale& hv) { return hv.connect(server(), "admin", TestPassword()); }, true,
       [&] { engine->setFallback(nullptr); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    config.set("sRhevCAFile", engine->caFile())
        .set("nRhevConnectTimeoutSec", "5")
        .set("nRhevReuseConnections", "1")
        .set("nRhevRequestTimeoutSec", "900")
        .set("nRhevMaxListItems", "200000");
    engine->reset();
    serveApiRoot("v4/api.xml");
    TzHypervale hv;
    if (row.connectFirst) {
      ASSERT_TRUE(hv.connect(server(), "admin", TestPassword()));
    }
    row.serve();
    engine->clearRequests();
    logs.clear();
    EXPECT_EQ(row.call(hv), row.succeeds);
    row.check();
    expectPrintableLog();
  }
}

}  // namespace
}  // namespace Hypervale
