#include "engine_simulator/api.h"

#include <utility>

#include "engine_simulator/follow.h"
#include "engine_simulator/values.h"
#include "test_engine/http_message.h"

namespace hvsim {

Api::Api(Generation generation, Inventory inventory, Timing timing, Behaviour behaviour,
         TimeSource clock)
    : clock_(clock ? std::move(clock) : TimeSource([] { return Clock::now(); })),
      renderer_(generation),
      inventory_(std::move(inventory)),
      timing_(timing),
      behaviour_(std::move(behaviour)) {}

const std::vector<Api::Route>& Api::routes() {
  static const std::vector<Route> table = {
      {"GET", "", &Api::getRoot},
      {"GET", "datacenters", &Api::listDataCenters},
      {"GET", "datacenters/*", &Api::getDataCenter},
      {"GET", "datacenters/*/clusters", &Api::listDataCenterClusters},
      {"GET", "datacenters/*/networks", &Api::listDataCenterNetworks},
      {"GET", "datacenters/*/storagedomains", &Api::listAttachedDomains},
      {"POST", "datacenters/*/storagedomains", &Api::attachDomain},
      {"GET", "datacenters/*/storagedomains/*", &Api::getAttachedDomain},
      {"GET", "datacenters/*/storagedomains/*/disks", &Api::listAttachedDomainDisks},
      {"POST", "datacenters/*/storagedomains/*/activate", &Api::activateDomain},
      {"POST", "datacenters/*/storagedomains/*/deactivate", &Api::deactivateDomain},
      {"GET", "clusters", &Api::listClusters},
      {"GET", "clusters/*", &Api::getCluster},
      {"GET", "hosts", &Api::listHosts},
      {"GET", "hosts/*", &Api::getHost},
      {"GET", "networks", &Api::listNetworks},
      {"GET", "networks/*", &Api::getNetwork},
      {"GET", "vnicprofiles", &Api::listVnicProfiles},
      {"GET", "vnicprofiles/*", &Api::getVnicProfile},
      {"GET", "tags", &Api::listTags},
      {"GET", "tags/*", &Api::getTag},
      {"GET", "jobs", &Api::listJobs},
      {"GET", "jobs/*", &Api::getJob},
      {"GET", "vms", &Api::listVms},
      {"POST", "vms", &Api::createVm},
      {"GET", "vms/*", &Api::getVm},
      {"GET", "vms/*/creation_status/*", &Api::getVmCreation},
      {"DELETE", "vms/*", &Api::deleteVm},
      {"POST", "vms/*/start", &Api::startVm},
      {"POST", "vms/*/stop", &Api::stopVm},
      {"POST", "vms/*/shutdown", &Api::stopVm},
      {"GET", "vms/*/nics", &Api::listNics},
      {"POST", "vms/*/nics", &Api::addNic},
      {"GET", "vms/*/nics/*", &Api::getNic},
      {"GET", "vms/*/snapshots", &Api::listSnapshots},
      {"POST", "vms/*/snapshots", &Api::createSnapshot},
      {"GET", "vms/*/snapshots/*", &Api::getSnapshot},
      {"DELETE", "vms/*/snapshots/*", &Api::deleteSnapshot},
      {"GET", "vms/*/snapshots/*/disks", &Api::listSnapshotDisks},
      {"GET", "vms/*/snapshots/*/disks/*", &Api::getSnapshotDisk},
      {"GET", "vms/*/disks", &Api::listVmDisks, Served::VmDisks},
      {"POST", "vms/*/disks", &Api::attachVmDisk, Served::VmDisks},
      {"GET", "vms/*/disks/*", &Api::getVmDisk, Served::VmDisks},
      {"PUT", "vms/*/disks/*", &Api::updateVmDisk, Served::VmDisks},
      {"DELETE", "vms/*/disks/*", &Api::deleteVmDisk, Served::VmDisks},
      {"POST", "vms/*/disks/*/activate", &Api::activateVmDisk, Served::VmDisks},
      {"POST", "vms/*/disks/*/deactivate", &Api::deactivateVmDisk, Served::VmDisks},
      {"GET", "vms/*/disks/*/creation_status/*", &Api::getAttachedDiskCreation, Served::VmDisks},
      {"GET", "vms/*/diskattachments", &Api::listAttachments, Served::DiskAttachments},
      {"POST", "vms/*/diskattachments", &Api::addAttachment, Served::DiskAttachments},
      {"GET", "vms/*/diskattachments/*", &Api::getAttachment, Served::DiskAttachments},
      {"DELETE", "vms/*/diskattachments/*", &Api::deleteAttachment, Served::DiskAttachments},
      {"GET", "vms/*/diskattachments/*/creation_status/*", &Api::getAttachedDiskCreation,
       Served::DiskAttachments},
      {"GET", "disks", &Api::listDisks},
      {"POST", "disks", &Api::createDisk},
      {"GET", "disks/*", &Api::getDisk},
      {"DELETE", "disks/*", &Api::deleteDisk},
      {"POST", "disks/*/move", &Api::moveDisk},
      {"GET", "disks/*/creation_status/*", &Api::getDiskCreation},
      {"GET", "storagedomains", &Api::listStorageDomains},
      {"POST", "storagedomains", &Api::createStorageDomain},
      {"GET", "storagedomains/*", &Api::getStorageDomain},
      {"DELETE", "storagedomains/*", &Api::destroyStorageDomain},
      {"GET", "storagedomains/*/disks", &Api::listDomainDisks},
      {"GET", "storagedomains/*/disks/*", &Api::getDomainDisk},
  };
  return table;
}

namespace {

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> out;
  size_t from = 0;
  while (from < text.size()) {
    size_t slash = text.find('/', from);
    if (slash == std::string::npos) slash = text.size();
    if (slash > from) out.push_back(text.substr(from, slash - from));
    from = slash + 1;
  }
  return out;
}

// Captures of `pattern` in `segments`, or nullopt when they do not match.
std::optional<std::vector<std::string>> match(const char* pattern,
                                              const std::vector<std::string>& segments) {
  std::vector<std::string> parts = split(pattern);
  if (parts.size() != segments.size()) return std::nullopt;
  std::vector<std::string> captures;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i] == "*") {
      captures.push_back(segments[i]);
    } else if (parts[i] != segments[i]) {
      return std::nullopt;
    }
  }
  return captures;
}

}  // namespace

namespace {

// The client asked for all content: the header (both versions), or the v4 parameter.
bool asksAllContent(const hvtest::Request& request, const QueryParams& query,
                    const Generation& generation) {
  if (hvtest::equalsIgnoreCase(request.header("All-Content"), "true")) return true;
  std::optional<std::string> parameter = queryValue(query, "all_content");
  return generation.v4() && parameter && hvtest::equalsIgnoreCase(*parameter, "true");
}

// Actions are POSTs to a verb below the object they act on.
bool isAction(const std::string& segment) {
  for (const char* verb : {"start", "stop", "shutdown", "activate", "deactivate", "move"}) {
    if (segment == verb) return true;
  }
  return false;
}

// An id of the path that names nothing. Reads, updates and removals look it up and answer 404
// without a body, as for a malformed id. A POST goes to the engine's validation, which refuses
// an unknown object as bad input: 400, as an action's failure for actions.
Failure unknownInPath(const Failure& unknown, const Call& call) {
  if (call.request.method != "POST" || !isUuid(unknown.id)) return unknown;
  const std::string& last = call.segments.back();
  const bool action = isAction(last);
  const std::string& kind = unknown.detail;
  return Failure{400, "Operation Failed",
                 "[Cannot " + (action ? last : std::string("add")) + " " + kind + ". " + kind +
                     " is not found.]",
                 action ? Failure::Form::Action : Failure::Form::Fault};
}

}  // namespace

std::optional<hvtest::Answer> Api::handle(const hvtest::Request& request) {
  std::string path = normalizePath(request.path);
  const std::string base = Renderer::kApiBase;
  if (path != base && path.rfind(base + "/", 0) != 0) return std::nullopt;
  Call call{request};
  call.segments = split(path.substr(base.size()));
  call.query = parseQuery(request.query);
  call.number = ++requestCounter_;
  call.allContent = asksAllContent(request, call.query, renderer_.generation());
  call.waitForCreation = request.header("X-Ovirt-Expect").find("201-created") != std::string::npos;
  std::lock_guard<std::mutex> lock(mutex_);
  call.now = clock_();
  tasks_.sweep(inventory_, call.now);
  try {
    return dispatch(call);
  } catch (const Failure& f) {
    return xml(f.status, renderer_.failure(f, request.path));
  }
}

bool Api::serves(Served served) const {
  switch (served) {
    case Served::Always:
      return true;
    case Served::VmDisks:
      return renderer_.generation().servesVmDisks();
    case Served::DiskAttachments:
      return renderer_.generation().v4();
  }
  return false;
}

hvtest::Answer Api::dispatch(Call& call) {
  bool pathKnown = false;
  for (const Route& route : routes()) {
    if (!serves(route.served)) continue;
    std::optional<Params> params = match(route.pattern, call.segments);
    if (!params) continue;
    pathKnown = true;
    if (call.request.method != route.method) continue;
    // Below 4.2 no resource declares "follow": the REST layer ignores it.
    std::optional<std::string> follow = queryValue(call.query, "follow");
    if (follow && call.request.method == "GET" && renderer_.generation().follows()) {
      call.follow = parseFollow(route.pattern, *follow);
    }
    try {
      return (this->*route.handler)(call, *params);
    } catch (const Failure& f) {
      if (f.form != Failure::Form::Unknown) throw;
      throw unknownInPath(f, call);
    }
  }
  if (pathKnown) {
    throw Failure{405, "Method Not Allowed",
                  "Method " + call.request.method + " is not allowed here"};
  }
  throw Failure::notFound(call.request.path);
}

const XmlNode* Api::optionalBody(Call& call) {
  if (!call.bodyParsed) {
    call.bodyParsed = true;
    if (trim(call.request.body).empty()) return nullptr;
    std::string error;
    call.parsedBody = parseXml(call.request.body, &error);
    if (!call.parsedBody) {
      throw Failure{400, "Bad Request", "Request syntactically incorrect: " + error};
    }
    checkIdentifiers(*call.parsedBody);
  }
  return call.parsedBody ? &*call.parsedBody : nullptr;
}

const XmlNode& Api::body(Call& call, const char* root) {
  const XmlNode* node = optionalBody(call);
  if (!node) throw Failure::missing("Request body is missing");
  if (node->name != root) {
    throw Failure{400, "Bad Request",
                  "Request syntactically incorrect: expected <" + std::string(root) + ">"};
  }
  return *node;
}

void Api::seen(Call& call, const std::string& key) {
  tasks_.observe(key, call.number, inventory_, call.now);
}

std::string Api::correlationId(const Call& call) const {
  std::string given =
      queryValue(call.query, "correlation_id").value_or(call.request.header("Correlation-Id"));
  // The engine keeps letters, digits, '_' and '-' and at most 36 of them.
  std::string kept;
  for (char c : given) {
    const bool allowed = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                         (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
    if (allowed && kept.size() < 36) kept += c;
  }
  return kept;
}

std::string Api::startJob(Call& call, const std::string& description) {
  Job job;
  job.id = inventory_.newId(IdKind::Job);
  job.description = description;
  job.correlationId = correlationId(call);
  job.startTime = job.lastUpdated = WallClock::now();
  return inventory_.jobs.add(std::move(job)).id;
}

void Api::run(Call& call, Task task, std::optional<FailingTask> kind) {
  task.holdJob = task.holdJob || behaviour_.jobsNeverEnd;
  if (kind) {
    auto failing = behaviour_.failing.find(*kind);
    if (failing != behaviour_.failing.end() && failing->second.left > 0) {
      task.failWith = failing->second.jobStatus;
      if (--failing->second.left == 0) behaviour_.failing.erase(failing);
    }
  }
  tasks_.start(std::move(task), inventory_, call.now);
}

std::optional<Search> Api::search(const Call& call) {
  std::optional<std::string> text = queryValue(call.query, "search");
  if (!text) return std::nullopt;
  std::string error;
  std::optional<Search> parsed = parseSearch(*text, &error);
  if (!parsed) throw Failure{400, "Operation Failed", error};
  parsed->caseSensitive = behaviour_.caseSensitiveSearch;
  if (std::optional<std::string> cs = queryValue(call.query, "case_sensitive")) {
    parsed->caseSensitive = *cs == "true";
  }
  return parsed;
}

Api::Listing Api::listing(const Call& call) {
  Listing listing;
  listing.search = search(call);
  if (std::optional<std::string> max = queryValue(call.query, "max")) {
    const bool digits = !max->empty() && max->size() < 10 &&
                        max->find_first_not_of("0123456789") == std::string::npos;
    if (!digits && *max != "-1") throw Failure::badValue("Invalid value for max: '" + *max + "'");
    if (digits) listing.left = std::stoul(*max);
  }
  return listing;
}

bool Api::shows(Listing& listing, const FieldValues& values) {
  if (!passes(listing.search, values) || listing.left == 0) return false;
  --listing.left;
  return true;
}

bool Api::passes(const std::optional<Search>& search, const FieldValues& values) {
  if (!search) return true;
  std::string unknown;
  bool ok = searchMatches(*search, values, &unknown);
  if (!unknown.empty()) {
    throw Failure{400, "Operation Failed", "Search field [" + unknown + "] is not supported"};
  }
  return ok;
}

hvtest::Answer Api::xml(int status, std::string body) const {
  return hvtest::Answer::xml(status, std::move(body));
}

hvtest::Answer Api::created(std::string body, const std::string& location) const {
  hvtest::Answer answer = hvtest::Answer::xml(201, std::move(body));
  answer.headers.emplace_back("Location", location);
  return answer;
}

hvtest::Answer Api::createdOrAccepted(bool pending, std::string body,
                                      const std::string& location) const {
  if (pending) return xml(202, std::move(body));
  return created(std::move(body), location);
}

Delay Api::creationDelay(const Call& call, Delay usual) const {
  return call.waitForCreation ? Delay::instant() : usual;
}

hvtest::Answer Api::creationStatus(Call& call, const std::string& ownerTail,
                                   const std::string& creationId, const std::string& diskId) {
  // Read after the poll, which may end the creation.
  seen(call, watch::creation(creationId));
  const Disk* made = diskId.empty() ? nullptr : inventory_.disks.find(diskId);
  const char* state = made && made->creationFailed               ? "failed"
                      : tasks_.busy(watch::creation(creationId)) ? "pending"
                                                                 : "complete";
  return xml(200, renderer_.creation(ownerTail, creationId, state));
}

hvtest::Answer Api::actionDone(const std::string& jobId) const {
  ActionAnswer answer;
  if (!behaviour_.actionsNameNoJob) answer.jobId = jobId;
  return xml(200, renderer_.action(answer));
}

DataCenter& Api::dataCenter(const std::string& id) {
  if (DataCenter* dc = inventory_.dataCenters.find(id)) return *dc;
  throw Failure::unknown("Data Center", id);
}

StorageDomain& Api::storageDomain(const std::string& id) {
  if (StorageDomain* sd = inventory_.storageDomains.find(id)) return *sd;
  throw Failure::unknown("Storage Domain", id);
}

Vm& Api::vm(const std::string& id) {
  if (Vm* found = inventory_.vms.find(id)) return *found;
  throw Failure::unknown("VM", id);
}

Vm* Api::listedVm(const std::string& id) {
  if (!isUuid(id)) throw Failure::unknown("VM", id);
  return inventory_.vms.find(id);
}

void Api::seenFollowed(Call& call, const Vm& shown) {
  const Follow& follow = call.follow;
  std::vector<std::string> keys;
  for (const DiskAttachment& att : shown.attachments) {
    if (follow.diskAttachments) keys.push_back(watch::attachment(shown.id, att.diskId));
    if (follow.disks) keys.push_back(watch::disk(att.diskId));
  }
  for (const Snapshot& s : shown.snapshots) {
    if (follow.snapshots) keys.push_back(watch::snapshot(s.id));
  }
  for (const Nic& nic : shown.nics) {
    if (follow.nics) keys.push_back(watch::nic(nic.id));
  }
  // Collected first: completing a task may change the lists.
  for (const std::string& key : keys) seen(call, key);
}

Disk& Api::disk(const std::string& id) {
  if (Disk* found = inventory_.disks.find(id)) return *found;
  throw Failure::unknown("Disk", id);
}

Snapshot& Api::snapshot(Vm& owner, const std::string& id) {
  if (Snapshot* found = Inventory::findSnapshot(owner, id)) return *found;
  throw Failure::unknown("Snapshot", id);
}

DiskAttachment& Api::attachment(Vm& owner, const std::string& diskId) {
  if (DiskAttachment* found = Inventory::findAttachment(owner, diskId)) return *found;
  throw Failure::unknown("Disk", diskId);
}

template <class T>
T& Api::resolve(const Table<T>& table, const XmlNode& reference, const char* what) {
  if (std::optional<std::string> id = givenId(reference)) {
    if (T* found = table.find(*id)) return *found;
    throw Failure::notFound(std::string(what) + ": id=" + *id);
  }
  std::optional<std::string> name = givenName(reference);
  if (!name) {
    throw Failure::missing(std::string(what) + " [id|name] required for " + reference.name);
  }
  if (T* found = table.findByName(*name)) return *found;
  throw Failure::notFound(std::string(what) + ": name=" + *name);
}

template DataCenter& Api::resolve(const Table<DataCenter>&, const XmlNode&, const char*);
template Cluster& Api::resolve(const Table<Cluster>&, const XmlNode&, const char*);
template Host& Api::resolve(const Table<Host>&, const XmlNode&, const char*);
template StorageDomain& Api::resolve(const Table<StorageDomain>&, const XmlNode&, const char*);
template VnicProfile& Api::resolve(const Table<VnicProfile>&, const XmlNode&, const char*);
template Disk& Api::resolve(const Table<Disk>&, const XmlNode&, const char*);

const DiskAttachment* Api::firstUse(const std::string& diskId) {
  std::vector<Vm*> users = inventory_.vmsUsingDisk(diskId);
  return users.empty() ? nullptr : Inventory::findAttachment(*users.front(), diskId);
}

Host* Api::hostByNameOrId(const XmlNode* hostElement, const std::string& nameOrId) {
  if (!nameOrId.empty()) {
    if (Host* byId = inventory_.hosts.find(nameOrId)) return byId;
    return inventory_.hosts.findByName(nameOrId);
  }
  return hostElement ? &resolve(inventory_.hosts, *hostElement, "Host") : nullptr;
}

}  // namespace hvsim
