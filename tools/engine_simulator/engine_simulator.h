// A stateful stand-in for the virtualization engine's REST API (XML, API v3 and v4), for
// end-to-end tests of the library and for trying it by hand (hypervale-engine-simulator).
// It sits on the test engine's network core: one loopback port serving HTTP and HTTPS, Basic
// authentication, the generated CA at the CA resource, scripted answers before everything
// else (engine().script(...)) and the request log (engine().requests()).
//
//   hvsim::SimulatorOptions options;
//   options.generation = "4.0.1";
//   options.seedFile = "tools/engine_simulator/seeds/example.seed";   // or options.generate
//   options.timing = hvsim::Timing::uniform(hvsim::Delay::afterPolls(2));
//   hvsim::EngineSimulator sim(options);
//   // client: https://localhost:<sim.port()>/ovirt-engine/api, CA file sim.engine().caFile(),
//   // user options.server.user ("admin@internal"), password options.server.password
//
// GENERATIONS. "3.6" (any 3.x) answers in the API v3 forms: <status><state>..</state></status>,
// version numbers as attributes (the API root's product_info/version plus a full_version
// sibling), cpu topology and os type as attributes, snapshot kind in <type>, tag parents as
// <parent><tag/></parent>, a VM's disks as its "disks" sub-collection (link rel="disks"),
// asynchronous disk creation (202 with a creation_status link), actions answered
// <action><status><state>complete</state></status>..</action> and refused with an <action>
// holding <status><state>failed</state></status> and a <fault>. "4.0.0", "4.0.1", "4.0.2",
// "4.1" and later answer in the v4 forms (plain <status>, version children, snapshot_type,
// link rel="diskattachments", jobs in lower case). The base path is /ovirt-engine/api for all.
// The generation also decides: a storage domain attached to a data center is activated by the
// engine from 4.0.2 on and waits in "maintenance" for an explicit "activate" before; below
// 4.0.2 a disk must be deactivated before it can be detached from a running VM.
//
// PATHS (under /ovirt-engine/api; percent-decoding, repeated '/' and a trailing '/' are
// tolerated; '+' in a query is a blank). Every collection GET honours "search" (below).
//   GET    ""                                        API root (product version of the generation)
//   GET    datacenters[/{id}]                        search: name, id, status
//   GET    datacenters/{id}/clusters|networks
//   GET    datacenters/{id}/storagedomains[/{sd}]    status as attached: active, maintenance,
//                                                    locked, activating, preparing_for_maintenance
//                                                    search: name, id, status, type
//   GET    datacenters/{id}/storagedomains/{sd}/disks
//   POST   datacenters/{id}/storagedomains           <storage_domain id=".."/> or <name>: attach
//                                                    (201); the domain must be "unattached"
//   POST   datacenters/{id}/storagedomains/{sd}/activate|deactivate   <action/>: 200 action;
//                                                    activate needs maintenance, deactivate active
//   GET    clusters[/{id}]                           search: name, id, datacenter
//   GET    hosts[/{id}]                              search: name, id, address, status, cluster,
//                                                    datacenter, tag
//   GET    networks[/{id}], vnicprofiles[/{id}], tags[/{id}]   (tags: the root tag first)
//   GET    jobs[/{id}]                               search: correlation_id, description, status;
//                                                    v3 STARTED/FINISHED, v4 started/finished
//   GET    vms[/{id}]                                search: name, id, description, status,
//                                                    cluster, datacenter, host, tag
//   POST   vms                                       <vm>: name, cluster (id attribute or <name>),
//                                                    template, memory, cpu/topology/cores|sockets,
//                                                    os/type, initialization/configuration/data
//                                                    (OVF; its <Name> when name is absent),
//                                                    initialization/regenerate_ids, id attribute
//                                                    (kept unless regenerate_ids): 201,
//                                                    image_locked then down; job
//   DELETE vms/{id}                                  optional <action/>: 200 action; VM must be
//   down POST   vms/{id}/start | stop | shutdown          <action/>: 200 action with job;
//   powering_up
//                                                    then up (on the cluster's first up host) /
//                                                    powering_down then down; 409 when already so
//   GET    vms/{id}/nics[/{nic}]
//   POST   vms/{id}/nics                             <nic>: name, interface, vnic_profile id:
//                                                    201, plugged true, linked false then true
//   GET    vms/{id}/snapshots[/{s}]                  the "Active VM" snapshot first; regular ones
//                                                    carry initialization/configuration/data (OVF)
//   POST   vms/{id}/snapshots[?correlation_id=X]     <snapshot>: description, persist_memorystate,
//                                                    optional <disks> or <disk_attachments> subset:
//                                                    201, "locked" then "ok"; a job whose
//                                                    description ends with "(correlation id X)";
//                                                    409 while another snapshot is locked
//   DELETE vms/{id}/snapshots/{s}                    optional <action/>: 200 action with job;
//                                                    "locked", then gone (404); 409 when locked,
//                                                    active, or its disks are attached elsewhere
//   GET    vms/{id}/snapshots/{s}/disks[/{disk}]     the disks as the snapshot holds them
//   GET    vms/{id}/disks[/{disk}]                   all generations: attachment flags (interface,
//                                                    bootable, active, read_only) and logical_name
//   POST   vms/{id}/disks                            <disk id="D"> [<snapshot id="S"/>]: attach
//                                                    existing disk (or its image in snapshot S),
//                                                    inactive unless <active>true</active>; without
//                                                    id: create a disk and attach it active. 201
//   PUT    vms/{id}/disks/{disk}                     <disk>: bootable, shareable, read_only,
//                                                    wipe_after_delete, interface. 200
//   DELETE vms/{id}/disks/{disk}                     v3: with
//   <action><detach>true</detach></action>
//                                                    detach, else delete the disk; v4: detach.
//                                                    200 action
//   POST   vms/{id}/disks/{disk}/activate|deactivate <action/>: 200 action; active flag follows
//   GET    vms/{id}/diskattachments[/{disk}]         v4 only (v3: 404)
//   POST   vms/{id}/diskattachments                  v4 only: <disk_attachment> with active
//   (default
//                                                    true), bootable, interface, read_only and
//                                                    <disk id="D"> [<snapshot id="S"/>], or a new
//                                                    <disk> without id. 201
//   DELETE vms/{id}/diskattachments/{disk}           v4 only: detach ("?detach_only=false" also
//                                                    deletes the disk). 200 action
//   GET    disks[/{id}]                              search: name, alias, id, status
//   POST   disks                                     <disk>: name|alias, storage_domains/
//                                                    storage_domain (id or name attribute) or
//                                                    storage_domain, provisioned_size|size, format,
//                                                    sparse, shareable, initial_size: "locked" then
//                                                    "ok"; v3: 202 + creation_status link, v4: 201
//   GET    disks/{id}/creation_status/{c}            v3: <creation><status><state>pending|complete
//   DELETE disks/{id}                                optional <action/>: 200 action; 409 when
//   locked
//                                                    or plugged into a running VM
//   POST   disks/{id}/move                           <action><storage_domain id=".."/></action>:
//                                                    200 action with job; "locked", then "ok" on
//                                                    the target; a running VM using it gets a
//                                                    locked "Auto-generated for Live Storage
//                                                    Migration" snapshot for the same time
//   GET    storagedomains[/{id}]                     status only while unattached (locked, then
//                                                    unattached); search: name, id, type, status,
//                                                    datacenter
//   POST   storagedomains                            <storage_domain>: name, type, storage_format,
//                                                    storage/type|address|path, host/name|id. 201
//   DELETE storagedomains/{id}?host=NAME&destroy=true   optional <action/> (or <host>, <destroy> in
//                                                    the body): 200 action; refused (409) while
//                                                    active in a data center, and without destroy
//                                                    while attached; its disks go with it
//   GET    storagedomains/{id}/disks[/{disk}]
//   The CA resource /ovirt-engine/services/pki-resource?resource=ca-certificate&format=X509-PEM-CA
//   is served without authentication. Other methods on known paths: 405; unknown paths and ids:
//   404 <fault> "Entity not found: ..."; malformed bodies: 400; refusals: 409 with
//   <fault><reason>Operation Failed</reason><detail>[Cannot ...]</detail></fault>.
//   Headers: "Correlation-Id" works like the correlation_id parameter; "Version", "Prefer",
//   "Filter" and "All-Content" are accepted and ignored.
//
// SEARCH. "search=field=value [and field!=value ...]" ('*' wildcards, optional quotes, trailing
// "sortby ..." and "page N" ignored). Values compare without regard to letter case unless the
// request says "case_sensitive=true" (or setCaseSensitiveSearch(true)), so "name=web01" also
// returns "WEB01": clients must filter for the exact name. An unknown field is a 400.
//
// TIMING (timing.h). Every asynchronous change has a Delay counted in polls (GETs that show the
// resource, a list holding it, its job or its creation status; each request counts once) and/or
// milliseconds. Delay::instant() makes the change before the starting request is answered.
// The logical name of a plugged disk (/dev/vdX on virtio, /dev/sdX else) is reported after
// Timing::logicalName once the attachment is active, and only while the VM is up and has a
// guest agent (setGuestAgent). Each task's job finishes together with the task.
//
// FAULTS. Paths in the fault calls are decoded paths without the query (e.g.
// "/ovirt-engine/api/vms/ID/snapshots"); a trailing '*' makes a prefix; method "*" any; times 0
// means until clearFaults(). Faults are consulted before the simulated engine, after
// authentication; scripted answers (engine().script) take precedence over both.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine_simulator/faults.h"
#include "engine_simulator/generation.h"
#include "engine_simulator/inventory.h"
#include "engine_simulator/seed.h"
#include "engine_simulator/timing.h"
#include "test_engine/test_engine.h"

namespace hvsim {

class Api;

struct SimulatorOptions {
  std::string generation = "4.1";
  hvtest::Options server;  // user, password, port (0: ephemeral), limits
  std::string seedFile;    // inventory from this seed file, else from seedText,
  std::string seedText;    // else generated by `generate`
  GenerateOptions generate;
  Timing timing;
  bool caseSensitiveSearch = false;
  bool correlationIdInJobDescription = true;
};

enum class Kind { DataCenter, Cluster, Host, StorageDomain, Network, VnicProfile, Tag, Vm, Disk };

class EngineSimulator {
 public:
  // Builds the inventory and starts serving. Throws std::invalid_argument for an unknown
  // generation, SeedError for a bad seed, std::system_error when the port cannot be bound.
  explicit EngineSimulator(SimulatorOptions options = SimulatorOptions());
  ~EngineSimulator();
  EngineSimulator(const EngineSimulator&) = delete;
  EngineSimulator& operator=(const EngineSimulator&) = delete;

  // The network core: URLs, CA file, request log, scripted answers, credentials.
  hvtest::TestEngine& engine() { return *engine_; }
  uint16_t port() const;
  std::string apiUrl() const;  // https://localhost:PORT/ovirt-engine/api
  const Generation& generation() const { return generation_; }
  void stop();

  // --- State. The callbacks run under the simulator's lock: no requests meanwhile, and they
  // must not call back into the simulator.
  void withInventory(const std::function<void(Inventory&)>& fn);
  // Id of the first record of that kind with exactly this name; "" when there is none.
  std::string idOf(Kind kind, const std::string& name);
  std::optional<Vm> vm(const std::string& id);
  std::optional<Disk> disk(const std::string& id);
  std::optional<StorageDomain> storageDomain(const std::string& id);
  std::vector<Job> jobs();
  size_t pendingTasks();

  Timing timing();
  void setTiming(const Timing& timing);  // for tasks started from now on
  void setCaseSensitiveSearch(bool on);
  void setCorrelationIdInJobDescription(bool on);
  // A VM without a guest agent never reports fqdn nor disk device names.
  void setGuestAgent(const std::string& vmId, bool present);

  // --- Faults.
  void injectFault(const std::string& method, const std::string& path, Fault fault,
                   unsigned times = 1);
  // 409 "[Cannot ... Related operation is currently in progress. Please try again later.]"
  void conflictBurst(const std::string& method, const std::string& path, unsigned times);
  void serverErrors(const std::string& method, const std::string& path, int status, unsigned times);
  void htmlErrors(const std::string& method, const std::string& path, int status, unsigned times);
  void dropConnections(const std::string& method, const std::string& path, unsigned times);
  void slowAnswers(const std::string& method, const std::string& path,
                   std::chrono::milliseconds delay, unsigned times);
  // The next authenticated request is answered 401 (an expired session), once.
  void expireSessionOnce();
  // Tasks started while set keep their job "started" for ever (the resource still completes).
  void setJobsNeverEnd(bool on);
  // Snapshots created while set stay "locked" for ever (their job still finishes).
  void setSnapshotsStayLocked(bool on);
  void clearFaults();
  size_t pendingFaults() const { return faults_.pending(); }

 private:
  std::optional<hvtest::Answer> decide(const hvtest::Request& request);

  Generation generation_;
  std::unique_ptr<Api> api_;
  FaultTable faults_;
  std::unique_ptr<hvtest::TestEngine> engine_;  // last: stopped before the state it calls into
};

}  // namespace hvsim
