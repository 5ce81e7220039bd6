// hypervale-test-engine: the test engine as a stand-alone program, for trying the library or
// its examples by hand against a local endpoint.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "test_engine/program.h"
#include "test_engine/script_dir.h"
#include "test_engine/test_engine.h"

namespace {

constexpr const char* kProgram = "hypervale-test-engine";

constexpr const char* kUsage =
    R"(Usage: hypervale-test-engine [options]

Serves a scripted engine REST endpoint on 127.0.0.1, plain HTTP and HTTPS on the same port,
until SIGINT or SIGTERM.

Options:
  --port N              port to listen on; 0 (default) picks a free one
  --user U              user name for Basic authentication (default admin@internal)
  --password-file F     read the password from file F (trailing newline ignored)
  --no-auth             accept requests without authentication
  --ca-out FILE         write the CA certificate (PEM) to FILE, for the client to trust
  --script DIR          answer requests from canned files in DIR (see below)
  --help                show this text

One of --password-file and --no-auth is required. The CA is also served without
authentication at
  /ovirt-engine/services/pki-resource?resource=ca-certificate&format=X509-PEM-CA

Script directory: a file named <METHOD>__<path>.xml answers METHOD on that path, with any
query, with 200 and the file's content as application/xml. In <path>, '_' stands for '/'
and %XX for a byte, so write "%5F" for a literal underscore. A leading '/' is implied:
  GET__ovirt-engine_api.xml                        -> GET /ovirt-engine/api
  GET__ovirt-engine_api_vms.xml                    -> GET /ovirt-engine/api/vms
  GET__ovirt-engine_api_vms_42_disk%5Fattachments.xml
                                                   -> GET /ovirt-engine/api/vms/42/disk_attachments
Anything else gets a 404 fault.

On start it prints one line, "listening on 127.0.0.1:PORT".
)";

struct Args {
  hvtest::Options options;
  std::optional<std::string> passwordFile;
  bool noAuth = false;
  std::optional<std::string> caOut;
  std::optional<std::string> scriptDir;
};

[[noreturn]] void usageError(const std::string& message) {
  hvtest::program::UsageError(kProgram, message);
}

Args parseArgs(int argc, char** argv) {
  Args args;
  for (int i = 1; i < argc; ++i) {
    std::string flag = argv[i];
    std::optional<std::string> inlineValue;
    if (size_t eq = flag.find('='); flag.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = flag.substr(eq + 1);
      flag.resize(eq);
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= argc) usageError(flag + " needs a value");
      return argv[++i];
    };
    if (flag == "--help" || flag == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else if (flag == "--port") {
      std::string text = value();
      char* end = nullptr;
      long port = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || port < 0 || port > 65535) {
        usageError("bad port " + text);
      }
      args.options.port = static_cast<uint16_t>(port);
    } else if (flag == "--user") {
      args.options.user = value();
    } else if (flag == "--password-file") {
      args.passwordFile = value();
    } else if (flag == "--no-auth") {
      args.noAuth = true;
    } else if (flag == "--ca-out") {
      args.caOut = value();
    } else if (flag == "--script") {
      args.scriptDir = value();
    } else if (flag == "--password") {
      usageError("the password is read from a file only: use --password-file");
    } else {
      usageError("unknown option " + flag);
    }
  }
  if (args.passwordFile) {
    args.options.password = hvtest::program::ReadPasswordFile(kProgram, *args.passwordFile);
  } else if (!args.noAuth) {
    usageError("give --password-file or --no-auth");
  }
  args.options.requireAuth = !args.noAuth;
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  Args args = parseArgs(argc, argv);

  const sigset_t signals = hvtest::program::BlockStopSignals();

  try {
    hvtest::TestEngine engine(args.options);
    if (args.scriptDir) {
      size_t n = hvtest::loadScriptDirectory(engine, *args.scriptDir);
      std::cerr << "scripted " << n << " answer(s) from " << *args.scriptDir << "\n";
    }
    if (!hvtest::program::ServeUntilStopped(kProgram, signals, engine.port(), engine.caPem(),
                                            args.caOut)) {
      return 1;
    }
    engine.stop();
  } catch (const std::exception& e) {
    std::cerr << "hypervale-test-engine: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
