// The simulated engine's REST API: routing of requests to resource handlers, the handlers
// themselves (split by area over api_*.cpp) and the state they share. All state is guarded by
// one mutex; every request holds it while it is decided.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine_simulator/failure.h"
#include "engine_simulator/faults.h"
#include "engine_simulator/inventory.h"
#include "engine_simulator/operations.h"
#include "engine_simulator/render.h"
#include "engine_simulator/search.h"
#include "engine_simulator/timing.h"
#include "engine_simulator/xml_in.h"
#include "test_engine/http_message.h"

namespace hvsim {

struct Behaviour {
  // Searches without "case_sensitive=true" ignore letter case.
  bool caseSensitiveSearch = false;
  // Faults: tasks started while set keep their job "started" / their snapshot "locked".
  bool jobsNeverEnd = false;
  bool snapshotsStayLocked = false;
  // Fault: answers to actions and removals name no job.
  bool actionsNameNoJob = false;
  // Faults: the next tasks of a kind fail, their jobs ending with the given status.
  struct Failing {
    unsigned left = 0;
    std::string jobStatus;
  };
  std::map<FailingTask, Failing> failing;
};

// One request being decided.
struct Call {
  explicit Call(const hvtest::Request& r) : request(r) {}
  const hvtest::Request& request;
  std::vector<std::string> segments;  // below the API base, decoded
  QueryParams query;
  uint64_t number = 0;  // sequence number, so that a GET counts once per task
  Clock::time_point now;
  bool allContent = false;  // the client asked for all content (a snapshot's OVF)
  // "X-Ovirt-Expect: 201-created": a create is answered once its work is done.
  bool waitForCreation = false;
  Follow follow;  // links the GET follows (from 4.2)
  std::optional<XmlNode> parsedBody;
  bool bodyParsed = false;
};

class Api {
 public:
  Api(Generation generation, Inventory inventory, Timing timing, Behaviour behaviour,
      TimeSource clock);

  // nullopt for requests outside the API (the CA resource, other paths): the network core's
  // own handling then applies.
  std::optional<hvtest::Answer> handle(const hvtest::Request& request);

  // Callers hold mutex() while touching these.
  std::mutex& mutex() { return mutex_; }
  Inventory& inventory() { return inventory_; }
  Timing& timing() { return timing_; }
  Behaviour& behaviour() { return behaviour_; }
  Tasks& tasks() { return tasks_; }
  const Renderer& renderer() const { return renderer_; }

 private:
  using Params = std::vector<std::string>;
  using Handler = hvtest::Answer (Api::*)(Call&, const Params&);
  // Collections that only some generations serve.
  enum class Served { Always, VmDisks, DiskAttachments };
  struct Route {
    const char* method;
    const char* pattern;  // segments, '*' captures one
    Handler handler;
    Served served = Served::Always;
  };
  bool serves(Served served) const;
  static const std::vector<Route>& routes();
  hvtest::Answer dispatch(Call& call);

  // Shared helpers (api.cpp).
  // The request document, its root and identifiers checked.
  const XmlNode& body(Call& call, const char* root);
  const XmlNode* optionalBody(Call& call);
  void seen(Call& call, const std::string& key);
  std::string startJob(Call& call, const std::string& description);
  // Starts a task; one of a kind told to fail (see Behaviour::failing) fails.
  void run(Call& call, Task task, std::optional<FailingTask> kind = std::nullopt);
  std::optional<Search> search(const Call& call);
  // Whether a record passes the request's search; throws Failure for unknown fields.
  bool passes(const std::optional<Search>& search, const FieldValues& values);
  // Which records a collection GET shows: those that pass its search, at most `max` of them.
  struct Listing {
    std::optional<Search> search;
    size_t left = SIZE_MAX;
  };
  Listing listing(const Call& call);
  bool shows(Listing& listing, const FieldValues& values);
  hvtest::Answer xml(int status, std::string body) const;
  hvtest::Answer created(std::string body, const std::string& location) const;
  // A create whose work still runs is answered 202 (its body then shows the creation status),
  // one whose work is done 201.
  hvtest::Answer createdOrAccepted(bool pending, std::string body,
                                   const std::string& location) const;
  // The delay of a create's work: none when the client waits for it.
  Delay creationDelay(const Call& call, Delay usual) const;
  // The creation status of `ownerTail` ("disks/{id}"), pending while its creation runs; failed
  // when the disk `diskId` (if any) could not be made.
  hvtest::Answer creationStatus(Call& call, const std::string& ownerTail,
                                const std::string& creationId, const std::string& diskId);
  hvtest::Answer actionDone(const std::string& jobId = std::string()) const;
  std::string correlationId(const Call& call) const;

  // Lookups that fail with 404 the way the engine does.
  DataCenter& dataCenter(const std::string& id);
  StorageDomain& storageDomain(const std::string& id);
  Vm& vm(const std::string& id);
  // The VM whose sub-collection is listed; null when there is none, because the engine lists
  // a sub-collection without looking its VM up. A malformed id is still unknown.
  Vm* listedVm(const std::string& id);
  // Counts the GET as a poll of what the followed links show.
  void seenFollowed(Call& call, const Vm& vm);
  Disk& disk(const std::string& id);
  Snapshot& snapshot(Vm& vm, const std::string& id);
  DiskAttachment& attachment(Vm& vm, const std::string& diskId);
  const DiskAttachment* firstUse(const std::string& diskId);
  Host* hostByNameOrId(const XmlNode* hostElement, const std::string& nameOrId);
  // The record a reference names: by its id when it carries one, else by its name. Failure
  // 404 naming `what` when there is none.
  template <class T>
  T& resolve(const Table<T>& table, const XmlNode& reference, const char* what);

  // api_inventory.cpp
  hvtest::Answer getRoot(Call&, const Params&);
  hvtest::Answer listDataCenters(Call&, const Params&);
  hvtest::Answer getDataCenter(Call&, const Params&);
  hvtest::Answer listDataCenterClusters(Call&, const Params&);
  hvtest::Answer listDataCenterNetworks(Call&, const Params&);
  hvtest::Answer listClusters(Call&, const Params&);
  hvtest::Answer getCluster(Call&, const Params&);
  hvtest::Answer listHosts(Call&, const Params&);
  hvtest::Answer getHost(Call&, const Params&);
  hvtest::Answer listNetworks(Call&, const Params&);
  hvtest::Answer getNetwork(Call&, const Params&);
  hvtest::Answer listVnicProfiles(Call&, const Params&);
  hvtest::Answer getVnicProfile(Call&, const Params&);
  hvtest::Answer listTags(Call&, const Params&);
  hvtest::Answer getTag(Call&, const Params&);
  hvtest::Answer listJobs(Call&, const Params&);
  hvtest::Answer getJob(Call&, const Params&);
  std::string clustersDocument(Call& call, const std::string& dataCenterId);

  // api_vms.cpp
  hvtest::Answer listVms(Call&, const Params&);
  hvtest::Answer getVm(Call&, const Params&);
  hvtest::Answer createVm(Call&, const Params&);
  hvtest::Answer getVmCreation(Call&, const Params&);
  hvtest::Answer deleteVm(Call&, const Params&);
  hvtest::Answer startVm(Call&, const Params&);
  hvtest::Answer stopVm(Call&, const Params&);
  hvtest::Answer listNics(Call&, const Params&);
  hvtest::Answer getNic(Call&, const Params&);
  hvtest::Answer addNic(Call&, const Params&);
  hvtest::Answer listSnapshots(Call&, const Params&);
  hvtest::Answer getSnapshot(Call&, const Params&);
  hvtest::Answer createSnapshot(Call&, const Params&);
  hvtest::Answer deleteSnapshot(Call&, const Params&);
  hvtest::Answer listSnapshotDisks(Call&, const Params&);
  hvtest::Answer getSnapshotDisk(Call&, const Params&);
  void startSnapshot(Call& call, Vm& vm, Snapshot snapshot, const std::string& jobDescription,
                     Delay delay);

  // api_disks.cpp
  hvtest::Answer listDisks(Call&, const Params&);
  hvtest::Answer getDisk(Call&, const Params&);
  hvtest::Answer createDisk(Call&, const Params&);
  hvtest::Answer deleteDisk(Call&, const Params&);
  hvtest::Answer moveDisk(Call&, const Params&);
  hvtest::Answer getDiskCreation(Call&, const Params&);
  hvtest::Answer getAttachedDiskCreation(Call&, const Params&);
  // The creation status id of a disk still being created, else "".
  std::string pendingCreation(const std::string& diskId);
  hvtest::Answer listVmDisks(Call&, const Params&);
  hvtest::Answer getVmDisk(Call&, const Params&);
  hvtest::Answer attachVmDisk(Call&, const Params&);
  hvtest::Answer updateVmDisk(Call&, const Params&);
  hvtest::Answer deleteVmDisk(Call&, const Params&);
  hvtest::Answer activateVmDisk(Call&, const Params&);
  hvtest::Answer deactivateVmDisk(Call&, const Params&);
  hvtest::Answer listAttachments(Call&, const Params&);
  hvtest::Answer getAttachment(Call&, const Params&);
  hvtest::Answer addAttachment(Call&, const Params&);
  hvtest::Answer deleteAttachment(Call&, const Params&);
  // A new disk from a <disk> element, locked until its creation task ends.
  Disk& newDisk(Call& call, const XmlNode& element);
  // Plugs an existing disk (or a snapshot of it) into a VM, inactive unless `flags` say
  // "active"; a disk created for it may still be locked.
  DiskAttachment& plug(Call& call, Vm& vm, const XmlNode& diskElement, const XmlNode& flags,
                       bool interfaceRequired, bool createdForIt = false);
  void setActive(Call& call, Vm& vm, DiskAttachment& att, bool active, bool immediately);
  void detach(Call& call, Vm& vm, const std::string& diskId);
  hvtest::Answer diskAction(Call& call, const Params& p, bool activate);
  void listDisksOn(XmlOut& x, Call& call, const StorageDomain& sd, const std::string& hrefBase);

  // api_storage.cpp
  hvtest::Answer listStorageDomains(Call&, const Params&);
  hvtest::Answer getStorageDomain(Call&, const Params&);
  hvtest::Answer createStorageDomain(Call&, const Params&);
  hvtest::Answer destroyStorageDomain(Call&, const Params&);
  hvtest::Answer listDomainDisks(Call&, const Params&);
  hvtest::Answer getDomainDisk(Call&, const Params&);
  hvtest::Answer listAttachedDomains(Call&, const Params&);
  hvtest::Answer getAttachedDomain(Call&, const Params&);
  hvtest::Answer attachDomain(Call&, const Params&);
  hvtest::Answer activateDomain(Call&, const Params&);
  hvtest::Answer deactivateDomain(Call&, const Params&);
  hvtest::Answer listAttachedDomainDisks(Call&, const Params&);
  StorageDomain& attachedDomain(const DataCenter& dc, const std::string& id);

  std::mutex mutex_;
  TimeSource clock_;
  std::atomic<uint64_t> requestCounter_{0};
  Renderer renderer_;
  Inventory inventory_;
  Timing timing_;
  Behaviour behaviour_;
  Tasks tasks_;
};

// The search fields of a VM.
FieldValues vmFields(const Inventory& inventory, const Vm& vm);

}  // namespace hvsim
