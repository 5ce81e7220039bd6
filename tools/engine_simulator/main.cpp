// hypervale-engine-simulator: the engine simulator as a stand-alone program, for trying the
// library or its examples by hand against a stateful local engine.
#include <signal.h>

#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "engine_simulator/engine_simulator.h"
#include "test_engine/program.h"

namespace {

constexpr const char* kProgram = "hypervale-engine-simulator";

constexpr const char* kUsage =
    R"(Usage: hypervale-engine-simulator [options]

Simulates the virtualization engine's REST API (XML) on 127.0.0.1 until SIGINT or SIGTERM.
One port takes plain HTTP and HTTPS; plain HTTP serves only the CA certificate, which needs no
authentication:
  http://127.0.0.1:PORT/ovirt-engine/services/pki-resource?resource=ca-certificate&format=X509-PEM-CA
The API is under https://localhost:PORT/ovirt-engine/api, with Basic authentication or, from
generation 4.0, a bearer token from /ovirt-engine/sso/oauth/token as the engine's SDKs use it.
The manual is tools/engine_simulator/README.md.

Options:
  --generation G      engine release to simulate: 3.6, 4.0.0, 4.0.1, 4.0.2, 4.1 (default),
                      4.2, 4.3, 4.4, 4.5.0, 4.5.1 or any other 4.x[.y[.z]]; 3.x answers in
                      API v3 form
  --seed FILE         inventory from a seed file (see tools/engine_simulator/seeds/)
  --vms N             generated inventory with N VMs (default 10) when no seed is given
  --polls N           every asynchronous change completes after N polls (default 1)
  --delay-ms MS       ... and not before MS milliseconds (default 2000)
  --login-ms MS       real time every engine login takes (default 0)
  --request-ms MS     real time every request takes before its answer (default 0)
  --session-idle-sec S
                      engine sessions end after S seconds idle (default 1800)
  --snapshot-polls N  a snapshot's creation (and its job) needs N polls instead, and
  --snapshot-delay-ms MS   MS milliseconds: a snapshot that outlasts a client's status wait
  --workers N         connections served at once (default 256); more wait their turn
  --idle-ms MS        a kept-alive connection idle this long is closed (default 5000)
  --port N            port to listen on; 0 (default) picks a free one
  --user U            user name for Basic authentication (default admin@internal)
  --password-file F   read the password from file F (trailing newline ignored)
  --no-auth           accept requests without authentication
  --ca-out FILE       write the CA certificate (PEM) to FILE, for the client to trust
  --help              show this text

One of --password-file and --no-auth is required. On start it prints one line,
"listening on 127.0.0.1:PORT". On exit it prints on stderr what the engine did, as
engine logins: N, live sessions: N, requests: N (GET N, POST N, ...)
)";

[[noreturn]] void usageError(const std::string& message) {
  hvtest::program::UsageError(kProgram, message);
}

unsigned long number(const std::string& flag, const std::string& text, unsigned long max) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || text[0] == '-' || value > max) {
    usageError("bad value for " + flag + ": " + text);
  }
  return value;
}

struct Args {
  hvsim::SimulatorOptions options;
  std::optional<std::string> passwordFile;
  bool noAuth = false;
  std::optional<std::string> caOut;
};

Args parseArgs(int argc, char** argv) {
  Args args;
  unsigned polls = hvsim::Timing::kDefault.polls;
  auto delayMs = static_cast<unsigned long>(hvsim::Timing::kDefault.time.count());
  std::optional<unsigned> snapshotPolls;
  std::optional<unsigned long> snapshotDelayMs;
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
    } else if (flag == "--generation") {
      args.options.generation = value();
    } else if (flag == "--seed") {
      args.options.seedFile = value();
    } else if (flag == "--vms") {
      args.options.generate.vms = static_cast<unsigned>(number(flag, value(), 1000000));
    } else if (flag == "--polls") {
      polls = static_cast<unsigned>(number(flag, value(), 1000000));
    } else if (flag == "--delay-ms") {
      delayMs = number(flag, value(), 3600000);
    } else if (flag == "--login-ms") {
      args.options.sessions.loginCost = std::chrono::milliseconds(number(flag, value(), 600000));
    } else if (flag == "--request-ms") {
      args.options.sessions.requestCost = std::chrono::milliseconds(number(flag, value(), 600000));
    } else if (flag == "--session-idle-sec") {
      args.options.sessions.idleLimit = std::chrono::seconds(number(flag, value(), 86400 * 7));
    } else if (flag == "--snapshot-polls") {
      snapshotPolls = static_cast<unsigned>(number(flag, value(), 1000000));
    } else if (flag == "--snapshot-delay-ms") {
      snapshotDelayMs = number(flag, value(), 86400000);
    } else if (flag == "--workers") {
      args.options.server.maxConnections = number(flag, value(), 100000);
      if (args.options.server.maxConnections == 0) usageError("--workers needs at least 1");
    } else if (flag == "--idle-ms") {
      args.options.server.idleTimeout = std::chrono::milliseconds(number(flag, value(), 3600000));
    } else if (flag == "--port") {
      args.options.server.port = static_cast<uint16_t>(number(flag, value(), 65535));
    } else if (flag == "--user") {
      args.options.server.user = value();
    } else if (flag == "--password-file") {
      args.passwordFile = value();
    } else if (flag == "--no-auth") {
      args.noAuth = true;
    } else if (flag == "--ca-out") {
      args.caOut = value();
    } else if (flag == "--password") {
      usageError("the password is read from a file only: use --password-file");
    } else {
      usageError("unknown option " + flag);
    }
  }
  if (args.passwordFile) {
    args.options.server.password = hvtest::program::ReadPasswordFile(kProgram, *args.passwordFile);
  } else if (!args.noAuth) {
    usageError("give --password-file or --no-auth");
  }
  args.options.server.requireAuth = !args.noAuth;
  hvsim::Delay delay = hvsim::Delay::afterPolls(polls);
  delay.time = std::chrono::milliseconds(delayMs);
  args.options.timing = hvsim::Timing::uniform(delay);
  hvsim::Delay& snapshot = args.options.timing.snapshotCreate;
  snapshot.polls = snapshotPolls.value_or(snapshot.polls);
  snapshot.time = std::chrono::milliseconds(snapshotDelayMs.value_or(snapshot.time.count()));
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  Args args = parseArgs(argc, argv);

  const sigset_t signals = hvtest::program::BlockStopSignals();

  try {
    hvsim::EngineSimulator simulator(args.options);
    std::cerr << "engine " << simulator.generation().fullVersion() << "\n";
    if (!hvtest::program::ServeUntilStopped(kProgram, signals, simulator.port(),
                                            simulator.engine().caPem(), args.caOut)) {
      return 1;
    }
    simulator.stop();
    std::cerr << hvsim::describe(simulator.sessionStats()) << "\n";
  } catch (const std::exception& e) {
    std::cerr << "hypervale-engine-simulator: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
