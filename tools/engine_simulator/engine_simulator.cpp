#include "engine_simulator/engine_simulator.h"

#include <stdexcept>

#include "engine_simulator/api.h"
#include "engine_simulator/search.h"
#include "engine_simulator/sso.h"

namespace hvsim {

namespace {

Generation parseGeneration(const std::string& text) {
  std::optional<Generation> g = Generation::parse(text);
  if (!g) throw std::invalid_argument("unknown engine generation '" + text + "'");
  return *g;
}

Inventory buildInventory(const SimulatorOptions& options, bool v3) {
  if (!options.seedFile.empty()) return loadSeedFile(options.seedFile, v3);
  if (!options.seedText.empty()) return loadSeed(options.seedText, v3);
  return generateInventory(options.generate, v3);
}

std::string defaultDetail(int status) {
  if (status == 409) {
    return "[Cannot complete the operation. Related operation is currently in progress. "
           "Please try again later.]";
  }
  if (status == 503) return "Service Unavailable";
  return "Internal Server Error";
}

std::string htmlPage(int status) {
  std::string code = std::to_string(status) + " " + hvtest::reasonPhrase(status);
  return "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head><title>" + code +
         "</title></head><body><h1>" + hvtest::reasonPhrase(status) +
         "</h1><p>The server is temporarily unable to service your request.</p><hr>"
         "<address>Apache Server at engine Port 443</address></body></html>\n";
}

// Requests turned down before the API reads them. The web server in front of the engine takes
// no expectation but 100-continue. A 4.x engine serves API v4, and v3 (asked for by the header or
// the /v3 prefix) up to 4.3 only: 4.4 removed it. This simulator serves one form per generation,
// so it refuses v3 on 4.0 to 4.3 as it does any other unknown version. 3.x ignores the header.
std::optional<hvtest::Answer> refusedUpFront(const Generation& generation,
                                             const hvtest::Request& request) {
  std::optional<std::string> expect = request.headers.get("Expect");
  if (expect && !hvtest::equalsIgnoreCase(*expect, "100-continue")) {
    return hvtest::Answer::html(
        417,
        "<html><head><title>417 Expectation Failed</title></head><body><h1>Expectation Failed"
        "</h1><p>The expectation given in the Expect request-header field could not be met by "
        "this server.</p></body></html>\n");
  }
  if (!generation.v4()) return std::nullopt;
  const std::string path = normalizePath(request.path);
  const std::string v3Base = std::string(Renderer::kApiBase) + "/v3";
  const bool v3Path = path == v3Base || path.rfind(v3Base + "/", 0) == 0;
  std::optional<std::string> version = request.headers.get("Version");
  if (generation.droppedApiV3() && (v3Path || version == std::string("3"))) {
    return hvtest::Answer::engineFault(405, "Method Not Allowed",
                                       "Version 3 of the API is no longer supported");
  }
  if (v3Path || (version && *version != "4")) {
    const std::string asked = v3Path ? std::string("3") : *version;
    return hvtest::Answer::engineFault(400, "Operation Failed",
                                       "Version " + asked + " of the API is not served here");
  }
  return std::nullopt;
}

hvtest::Answer plainHttpRefused() {
  return hvtest::Answer::html(
      403,
      "<html><head><title>403 Forbidden</title></head><body><h1>Forbidden"
      "</h1><p>This resource is served over HTTPS only.</p></body></html>\n");
}

}  // namespace

EngineSimulator::EngineSimulator(SimulatorOptions options)
    : generation_(parseGeneration(options.generation)) {
  Behaviour behaviour;
  behaviour.caseSensitiveSearch = options.caseSensitiveSearch;
  api_ = std::make_unique<Api>(generation_, buildInventory(options, generation_.v3()),
                               options.timing, behaviour, options.clock);
  auto credentialCheck = [this](const std::string& user, const std::string& password) {
    return engine_->validCredentials(user, password);
  };
  sessions_ =
      std::make_unique<Sessions>(generation_, options.sessions, options.clock, credentialCheck);
  sso_ = std::make_unique<SsoService>(credentialCheck, *sessions_);
  options.server.authorizer = [this](const hvtest::Request& request) { return authorize(request); };
  engine_ = std::make_unique<hvtest::TestEngine>(options.server);
  engine_->setFallback([this](const hvtest::Request& request) { return decide(request); });
}

EngineSimulator::~EngineSimulator() { stop(); }

void EngineSimulator::stop() { engine_->stop(); }

uint16_t EngineSimulator::port() const { return engine_->port(); }

std::string EngineSimulator::apiUrl() const { return engine_->httpsUrl() + Renderer::kApiBase; }

std::optional<hvtest::Authorization> EngineSimulator::authorize(const hvtest::Request& request) {
  // Plain HTTP goes on to decide(), which refuses all but the CA: a 401 would only invite the
  // client to send its credentials in the clear.
  if (!request.tls) return hvtest::Authorization{};
  // The token endpoint checks the credentials it is given; 3.x has none (404 without a login).
  if (SsoService::handles(request.path)) {
    sessions_->charge(request);
    return hvtest::Authorization{};
  }
  return sessions_->authorize(request);
}

std::optional<hvtest::Answer> EngineSimulator::decide(const hvtest::Request& request) {
  bool caResource = request.path == hvtest::TestEngine::kCaResourcePath;
  if (!request.tls && !caResource) return plainHttpRefused();
  if (generation_.v4() && SsoService::handles(request.path)) return sso_->answer(request);
  if (std::optional<hvtest::Answer> refused = refusedUpFront(generation_, request)) return refused;
  if (!caResource && faults_.takeSessionExpiry()) {
    sessions_->expireAll();
    return Sessions::unauthorized();
  }
  std::optional<Fault> fault = faults_.take(request.method, normalizePath(request.path));
  if (fault) {
    switch (fault->kind) {
      case Fault::Kind::Status:
        return hvtest::Answer::engineFault(
            fault->status, "Operation Failed",
            fault->detail.empty() ? defaultDetail(fault->status) : fault->detail);
      case Fault::Kind::Html:
        return hvtest::Answer::html(
            fault->status, fault->detail.empty() ? htmlPage(fault->status) : fault->detail);
      case Fault::Kind::Drop:
        return hvtest::Answer::drop();
      case Fault::Kind::Stall:
        return hvtest::Answer::stall(fault->duration);
      case Fault::Kind::Partial:
      case Fault::Kind::Slow:
        break;
    }
  }
  std::optional<hvtest::Answer> answer = api_->handle(request);
  if (!fault) return answer;
  if (!answer) {
    if (caResource) {
      answer = hvtest::Answer::xml(200, engine_->caPem());
      answer->contentType = "application/x-x509-ca-cert";
    } else {
      answer =
          hvtest::Answer::engineFault(404, "Operation Failed", "Entity not found: " + request.path);
    }
  }
  if (fault->kind == Fault::Kind::Partial)
    return hvtest::Answer::partial(answer->status, answer->body);
  return hvtest::Answer::delayed(fault->duration, std::move(*answer));
}

void EngineSimulator::withInventory(const std::function<void(Inventory&)>& fn) {
  std::lock_guard<std::mutex> lock(api_->mutex());
  fn(api_->inventory());
}

std::string EngineSimulator::idOf(Kind kind, const std::string& name) {
  std::lock_guard<std::mutex> lock(api_->mutex());
  Inventory& inv = api_->inventory();
  auto idIn = [&](const auto& table) {
    auto* found = table.findByName(name);
    return found ? found->id : std::string();
  };
  switch (kind) {
    case Kind::DataCenter:
      return idIn(inv.dataCenters);
    case Kind::Cluster:
      return idIn(inv.clusters);
    case Kind::Host:
      return idIn(inv.hosts);
    case Kind::StorageDomain:
      return idIn(inv.storageDomains);
    case Kind::Network:
      return idIn(inv.networks);
    case Kind::VnicProfile:
      return idIn(inv.vnicProfiles);
    case Kind::Tag:
      return idIn(inv.tags);
    case Kind::Vm:
      return idIn(inv.vms);
    case Kind::Disk:
      return idIn(inv.disks);
  }
  return std::string();
}

std::optional<Vm> EngineSimulator::vm(const std::string& id) {
  std::lock_guard<std::mutex> lock(api_->mutex());
  const Vm* found = api_->inventory().vms.find(id);
  return found ? std::optional<Vm>(*found) : std::nullopt;
}

std::optional<Disk> EngineSimulator::disk(const std::string& id) {
  std::lock_guard<std::mutex> lock(api_->mutex());
  const Disk* found = api_->inventory().disks.find(id);
  return found ? std::optional<Disk>(*found) : std::nullopt;
}

std::optional<StorageDomain> EngineSimulator::storageDomain(const std::string& id) {
  std::lock_guard<std::mutex> lock(api_->mutex());
  const StorageDomain* found = api_->inventory().storageDomains.find(id);
  return found ? std::optional<StorageDomain>(*found) : std::nullopt;
}

std::vector<Job> EngineSimulator::jobs() {
  std::lock_guard<std::mutex> lock(api_->mutex());
  std::vector<Job> out;
  for (const auto& job : api_->inventory().jobs.items()) out.push_back(*job);
  return out;
}

size_t EngineSimulator::pendingTasks() {
  std::lock_guard<std::mutex> lock(api_->mutex());
  return api_->tasks().size();
}

Timing EngineSimulator::timing() {
  std::lock_guard<std::mutex> lock(api_->mutex());
  return api_->timing();
}

void EngineSimulator::setTiming(const Timing& timing) {
  std::lock_guard<std::mutex> lock(api_->mutex());
  api_->timing() = timing;
}

void EngineSimulator::setCaseSensitiveSearch(bool on) {
  std::lock_guard<std::mutex> lock(api_->mutex());
  api_->behaviour().caseSensitiveSearch = on;
}

void EngineSimulator::setGuestAgent(const std::string& vmId, bool present) {
  std::lock_guard<std::mutex> lock(api_->mutex());
  if (Vm* found = api_->inventory().vms.find(vmId)) found->guestAgent = present;
}

void EngineSimulator::injectFault(const std::string& method, const std::string& path, Fault fault,
                                  unsigned times) {
  faults_.add(method, path, std::move(fault), times);
}

void EngineSimulator::conflictBurst(const std::string& method, const std::string& path,
                                    unsigned times) {
  Fault fault;
  fault.status = 409;
  injectFault(method, path, fault, times);
}

void EngineSimulator::serverErrors(const std::string& method, const std::string& path, int status,
                                   unsigned times) {
  Fault fault;
  fault.status = status;
  injectFault(method, path, fault, times);
}

void EngineSimulator::htmlErrors(const std::string& method, const std::string& path, int status,
                                 unsigned times) {
  Fault fault;
  fault.kind = Fault::Kind::Html;
  fault.status = status;
  injectFault(method, path, fault, times);
}

void EngineSimulator::dropConnections(const std::string& method, const std::string& path,
                                      unsigned times) {
  Fault fault;
  fault.kind = Fault::Kind::Drop;
  injectFault(method, path, fault, times);
}

void EngineSimulator::slowAnswers(const std::string& method, const std::string& path,
                                  std::chrono::milliseconds delay, unsigned times) {
  Fault fault;
  fault.kind = Fault::Kind::Slow;
  fault.duration = delay;
  injectFault(method, path, fault, times);
}

void EngineSimulator::expireSessionOnce() { faults_.expireSessionOnce(); }

void EngineSimulator::setJobsNeverEnd(bool on) {
  std::lock_guard<std::mutex> lock(api_->mutex());
  api_->behaviour().jobsNeverEnd = on;
}

void EngineSimulator::setSnapshotsStayLocked(bool on) {
  std::lock_guard<std::mutex> lock(api_->mutex());
  api_->behaviour().snapshotsStayLocked = on;
}

void EngineSimulator::failTasks(FailingTask task, unsigned times, const std::string& jobStatus) {
  if (jobStatus != "failed" && jobStatus != "aborted") {
    throw std::invalid_argument("a failed task's job ends failed or aborted, not " + jobStatus);
  }
  std::lock_guard<std::mutex> lock(api_->mutex());
  api_->behaviour().failing[task] = Behaviour::Failing{times, jobStatus};
}

void EngineSimulator::setActionsNameNoJob(bool on) {
  std::lock_guard<std::mutex> lock(api_->mutex());
  api_->behaviour().actionsNameNoJob = on;
}

void EngineSimulator::clearFaults() {
  faults_.clear();
  std::lock_guard<std::mutex> lock(api_->mutex());
  Behaviour& behaviour = api_->behaviour();
  behaviour.jobsNeverEnd = false;
  behaviour.snapshotsStayLocked = false;
  behaviour.actionsNameNoJob = false;
  behaviour.failing.clear();
}

}  // namespace hvsim
