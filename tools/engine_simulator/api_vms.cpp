// VMs: listing, creation (also from an OVF), removal, power, NICs and snapshots.
#include <algorithm>

#include "engine_simulator/api.h"
#include "engine_simulator/ovf.h"
#include "engine_simulator/values.h"

namespace hvsim {

namespace {

std::string checkedNicInterface(const std::string& value) {
  for (const char* known :
       {"virtio", "rtl8139", "e1000", "rtl8139_virtio", "pci_passthrough", "spapr_vlan"}) {
    if (value == known) return value;
  }
  throw Failure::badValue("Invalid value for interface: '" + value + "'");
}

bool hasLockedSnapshot(const Vm& vm) {
  for (const Snapshot& s : vm.snapshots) {
    if (s.status == "locked") return true;
  }
  return false;
}

}  // namespace

hvtest::Answer Api::listVms(Call& call, const Params&) {
  Listing s = listing(call);
  std::vector<Vm*> shown;
  for (const auto& vm : inventory_.vms.items()) {
    if (shows(s, vmFields(inventory_, *vm))) shown.push_back(vm.get());
  }
  for (Vm* vm : shown) {
    seen(call, watch::vm(vm->id));
    seenFollowed(call, *vm);
  }
  const VmExtras extras{&inventory_, call.follow, false};
  std::string out;
  out.reserve(shown.size() * 4096 + 256);
  XmlOut x(out);
  x.declaration();
  x.open("vms");
  for (Vm* vm : shown) renderer_.vm(x, *vm, extras);
  x.close();
  return xml(200, std::move(out));
}

hvtest::Answer Api::getVm(Call& call, const Params& p) {
  Vm& found = vm(p[0]);
  seen(call, watch::vm(found.id));
  seenFollowed(call, found);
  const VmExtras extras{&inventory_, call.follow, false};
  return xml(200, renderer_.document([&](XmlOut& x) { renderer_.vm(x, found, extras); }));
}

hvtest::Answer Api::createVm(Call& call, const Params&) {
  const XmlNode& doc = body(call, "vm");
  std::string ovf;
  if (const XmlNode* config = doc.find("initialization/configuration")) {
    ovf = config->textAt("data").value_or("");
  }
  std::string name = doc.textAt("name").value_or("");
  if (name.empty()) name = ovfVmName(ovf);
  if (name.empty()) throw Failure::missing("Vm [name] required for add");
  const XmlNode* clusterRef = doc.child("cluster");
  if (!clusterRef) throw Failure::missing("Vm [cluster.id|name] required for add");
  const Cluster* cluster = &resolve(inventory_.clusters, *clusterRef, "Cluster");
  if (const XmlNode* templateRef = doc.child("template")) {
    // Only the blank template exists here.
    std::optional<std::string> id = givenId(*templateRef);
    if (id ? *id != Inventory::kBlankTemplateId : givenName(*templateRef) != std::string("Blank")) {
      throw Failure::notFound("Template: " + (id ? *id : givenName(*templateRef).value_or("")));
    }
  }
  if (inventory_.vms.findByName(name)) {
    throw Failure::conflict(
        "Cannot add VM. The VM name is already in use, please choose a unique name "
        "and try again.");
  }
  // A VM made from an OVF keeps the identifiers it holds unless asked to regenerate them.
  const bool regenerate = givenFlag(doc, "initialization/regenerate_ids").value_or(false);
  Vm vm;
  vm.id = givenId(doc).value_or(regenerate ? std::string() : ovfVmId(ovf));
  if (!vm.id.empty() && !isUuid(vm.id)) throw Failure::badValue("Invalid UUID string in the OVF");
  if (vm.id.empty()) {
    vm.id = inventory_.newId(IdKind::Vm);
  } else if (inventory_.vms.find(vm.id)) {
    throw Failure::conflict("Cannot add VM. VM with the same identifier already exists.");
  }
  vm.name = name;
  vm.description = doc.textAt("description").value_or("");
  vm.clusterId = cluster->id;
  vm.ovf = ovf;
  vm.memory = doc.numberAt("memory").value_or(vm.memory);
  unsigned cores = static_cast<unsigned>(doc.numberAt("cpu/topology/cores").value_or(0));
  unsigned sockets = static_cast<unsigned>(doc.numberAt("cpu/topology/sockets").value_or(0));
  if (sockets) vm.sockets = sockets;
  if (cores) vm.cores = cores;
  vm.osType = doc.textAt("os/type").value_or(vm.osType);
  vm.creationId = inventory_.newId(IdKind::Creation);
  vm.creationTime = WallClock::now();
  vm.status = "image_locked";
  Snapshot active;
  active.id = inventory_.newId(IdKind::Snapshot);
  active.description = "Active VM";
  active.type = "active";
  active.date = vm.creationTime;
  vm.snapshots.push_back(active);
  Vm& added = inventory_.vms.add(std::move(vm));
  std::string id = added.id;

  // Only the copy of an OVF's disks is storage work the answer can wait for, and from 4.5.0.6
  // the engine always waits for it.
  const bool fromOvf = !ovf.empty();
  const bool waits = fromOvf && renderer_.generation().waitsForOvfImport();
  Task task;
  task.name = "vm create";
  task.watch = {watch::vm(id), watch::creation(added.creationId)};
  task.delay = waits ? Delay::instant() : creationDelay(call, timing_.vmCreate);
  task.jobId =
      startJob(call, "Creating VM " + name + " from Template Blank in Cluster " + cluster->name);
  task.finish = [id](Inventory& inv) {
    if (Vm* v = inv.vms.find(id); v && v->status == "image_locked") v->status = "down";
  };
  run(call, std::move(task));
  Vm& shown = *inventory_.vms.find(id);
  const bool pending = fromOvf && tasks_.busy(watch::vm(id));
  const VmExtras extras{nullptr, Follow(), pending};
  return createdOrAccepted(pending,
                           renderer_.document([&](XmlOut& x) { renderer_.vm(x, shown, extras); }),
                           renderer_.href("vms/" + id));
}

hvtest::Answer Api::getVmCreation(Call& call, const Params& p) {
  const Vm& found = vm(p[0]);
  if (found.creationId != p[1]) throw Failure::unknown("Creation", p[1]);
  return creationStatus(call, "vms/" + found.id, p[1], std::string());
}

hvtest::Answer Api::deleteVm(Call& call, const Params& p) {
  Vm& found = vm(p[0]);
  optionalBody(call);
  if (found.status == "image_locked") {
    throw Failure::conflict("Cannot remove VM: VM is locked. Please try again in a few minutes.");
  }
  if (found.status != "down") throw Failure::conflict("Cannot remove VM. VM is running.");
  if (hasLockedSnapshot(found))
    throw Failure::conflict("Cannot remove VM. VM is during a snapshot.");
  std::string jobId = startJob(call, "Removing VM " + found.name + " from system");
  inventory_.removeVm(found.id);
  endJob(inventory_, jobId, "finished");
  return actionDone(jobId);
}

hvtest::Answer Api::startVm(Call& call, const Params& p) {
  Vm& found = vm(p[0]);
  optionalBody(call);
  if (found.status != "down") {
    throw Failure::conflict(found.status == "image_locked" ? "Cannot run VM: VM is locked."
                                                           : "Cannot run VM. VM is running.",
                            true);
  }
  const Host* chosen = nullptr;
  for (const auto& host : inventory_.hosts.items()) {
    if (host->clusterId == found.clusterId && host->status == "up") {
      chosen = host.get();
      break;
    }
  }
  if (!chosen) {
    throw Failure::conflict(
        "Cannot run VM. There is no host that satisfies current scheduling "
        "constraints.",
        true);
  }
  found.status = "powering_up";
  found.hostId = chosen->id;
  found.startTime = WallClock::now();
  if (found.fqdn.empty()) found.fqdn = found.name + ".example.com";
  std::string id = found.id;
  Task task;
  task.name = "vm start";
  task.watch = {watch::vm(id)};
  task.delay = timing_.vmStart;
  task.jobId = startJob(call, "Launching VM " + found.name);
  task.finish = [id](Inventory& inv) {
    if (Vm* v = inv.vms.find(id); v && v->status == "powering_up") v->status = "up";
  };
  std::string jobId = task.jobId;
  run(call, std::move(task));
  return actionDone(jobId);
}

hvtest::Answer Api::stopVm(Call& call, const Params& p) {
  Vm& found = vm(p[0]);
  optionalBody(call);
  if (found.status == "down" || found.status == "image_locked") {
    throw Failure::conflict("Cannot stop VM. VM is not running.", true);
  }
  found.status = "powering_down";
  std::string id = found.id;
  Task task;
  task.name = "vm stop";
  task.watch = {watch::vm(id)};
  task.delay = timing_.vmStop;
  task.jobId = startJob(call, "Stopping VM " + found.name);
  task.finish = [id](Inventory& inv) {
    if (Vm* v = inv.vms.find(id); v && v->status == "powering_down") {
      v->status = "down";
      v->hostId.clear();
    }
  };
  std::string jobId = task.jobId;
  run(call, std::move(task));
  return actionDone(jobId);
}

hvtest::Answer Api::listNics(Call& call, const Params& p) {
  Vm* found = listedVm(p[0]);
  if (found) {
    for (const Nic& nic : found->nics) seen(call, watch::nic(nic.id));
  }
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("nics");
    if (found) {
      for (const Nic& nic : found->nics) renderer_.nic(x, *found, nic);
    }
    x.close();
  }));
}

hvtest::Answer Api::getNic(Call& call, const Params& p) {
  Vm& found = vm(p[0]);
  seen(call, watch::nic(p[1]));
  for (const Nic& nic : found.nics) {
    if (nic.id == p[1]) {
      return xml(200, renderer_.document([&](XmlOut& x) { renderer_.nic(x, found, nic); }));
    }
  }
  throw Failure::unknown("NIC", p[1]);
}

hvtest::Answer Api::addNic(Call& call, const Params& p) {
  Vm& found = vm(p[0]);
  const XmlNode& doc = body(call, "nic");
  Nic nic;
  nic.name = doc.textAt("name").value_or("");
  if (nic.name.empty()) throw Failure::missing("Nic [name] required for add");
  for (const Nic& other : found.nics) {
    if (other.name == nic.name) {
      throw Failure::conflict(
          "Cannot add Interface. The VM Network Interface name is already in use.");
    }
  }
  if (std::optional<std::string> iface = doc.textAt("interface")) {
    nic.interface = checkedNicInterface(*iface);
  }
  if (const XmlNode* profileRef = doc.child("vnic_profile")) {
    const VnicProfile& profile = resolve(inventory_.vnicProfiles, *profileRef, "VnicProfile");
    const Network* network = inventory_.networks.find(profile.networkId);
    const Cluster* cluster = inventory_.clusters.find(found.clusterId);
    if (!network || !cluster || !inventory_.networkInCluster(*network, *cluster)) {
      throw Failure::conflict("Cannot add Interface. Network doesn't exist in the Cluster.");
    }
    nic.vnicProfileId = profile.id;
  }
  nic.id = inventory_.newId(IdKind::Nic);
  nic.mac = inventory_.newMac();
  nic.plugged = givenFlag(doc, "plugged").value_or(true);
  nic.linked = false;
  found.nics.push_back(nic);
  std::string vmId = found.id, nicId = nic.id;
  Task task;
  task.name = "nic link";
  task.watch = {watch::nic(nicId)};
  task.delay = timing_.nicLink;
  task.finish = [vmId, nicId](Inventory& inv) {
    if (Vm* v = inv.vms.find(vmId)) {
      for (Nic& n : v->nics) {
        if (n.id == nicId) n.linked = true;
      }
    }
  };
  run(call, std::move(task));
  Vm& owner = vm(vmId);
  const Nic& shown = owner.nics.back();
  return created(renderer_.document([&](XmlOut& x) { renderer_.nic(x, owner, shown); }),
                 renderer_.href("vms/" + vmId + "/nics/" + nicId));
}

hvtest::Answer Api::listSnapshots(Call& call, const Params& p) {
  std::vector<std::string> ids;
  if (Vm* found = listedVm(p[0])) {
    for (const Snapshot& s : found->snapshots) ids.push_back(s.id);
  }
  for (const std::string& id : ids) seen(call, watch::snapshot(id));
  Vm* owner = listedVm(p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("snapshots");
    if (owner) {
      for (const Snapshot& s : owner->snapshots) renderer_.snapshot(x, *owner, s, call.allContent);
    }
    x.close();
  }));
}

hvtest::Answer Api::getSnapshot(Call& call, const Params& p) {
  vm(p[0]);
  seen(call, watch::snapshot(p[1]));
  Vm& owner = vm(p[0]);
  const Snapshot& found = snapshot(owner, p[1]);
  return xml(200, renderer_.document(
                      [&](XmlOut& x) { renderer_.snapshot(x, owner, found, call.allContent); }));
}

void Api::startSnapshot(Call& call, Vm& owner, Snapshot snap, const std::string& jobDescription,
                        Delay delay) {
  std::string vmId = owner.id, snapId = snap.id;
  snap.status = "locked";
  owner.snapshots.push_back(std::move(snap));
  Task task;
  task.name = "snapshot create";
  task.watch = {watch::snapshot(snapId)};
  task.delay = delay;
  task.jobId = startJob(call, jobDescription);
  task.holdResource = behaviour_.snapshotsStayLocked;
  task.finish = [vmId, snapId](Inventory& inv) {
    Vm* v = inv.vms.find(vmId);
    Snapshot* s = v ? Inventory::findSnapshot(*v, snapId) : nullptr;
    if (s && s->status == "locked") s->status = "ok";
  };
  // A failed snapshot is rolled back: gone, and its disks on the images they had.
  task.fail = [vmId, snapId](Inventory& inv) {
    Vm* v = inv.vms.find(vmId);
    Snapshot* s = v ? Inventory::findSnapshot(*v, snapId) : nullptr;
    if (!s) return;
    for (const SnapshotImage& image : s->images) {
      if (Disk* d = inv.disks.find(image.diskId)) d->imageId = image.imageId;
    }
    auto& list = v->snapshots;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const Snapshot& each) { return each.id == snapId; }),
               list.end());
  };
  run(call, std::move(task), FailingTask::SnapshotCreate);
}

hvtest::Answer Api::createSnapshot(Call& call, const Params& p) {
  Vm& owner = vm(p[0]);
  const XmlNode& doc = body(call, "snapshot");
  std::optional<std::string> description = doc.textAt("description");
  if (!description) throw Failure::missing("Snapshot [description] required for add");
  if (owner.status == "image_locked" || hasLockedSnapshot(owner)) {
    throw Failure::conflict("Cannot create Snapshot. Snapshot is currently being created for VM " +
                            owner.name + ".");
  }
  // A subset of disks may be named (v3 <disks>, v4 <disk_attachments>); else all of them.
  std::vector<std::string> chosen;
  if (const XmlNode* list = doc.child("disks")) {
    for (const XmlNode& d : list->children)
      chosen.push_back(resolve(inventory_.disks, d, "Disk").id);
  }
  if (const XmlNode* list = doc.child("disk_attachments")) {
    for (const XmlNode& a : list->children) {
      const XmlNode* d = a.child("disk");
      if (!d) throw Failure::missing("DiskAttachment [disk.id] required for snapshot");
      chosen.push_back(resolve(inventory_.disks, *d, "Disk").id);
    }
  }
  for (const DiskAttachment& att : owner.attachments) {
    if (!att.snapshotId.empty()) continue;
    if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), att.diskId) == chosen.end()) {
      continue;
    }
    const Disk& d = disk(att.diskId);
    if (d.status == "locked") {
      throw Failure::conflict("Cannot create Snapshot. Disk " + d.name +
                              " is locked. Please try again "
                              "in a few minutes.");
    }
  }
  Snapshot snap = captureSnapshot(inventory_, owner, chosen, *description);
  snap.id = inventory_.newId(IdKind::Snapshot);
  snap.persistMemory = givenFlag(doc, "persist_memorystate").value_or(false);
  // The answer shows the snapshot as it starts, however fast it then ends.
  Snapshot starting = snap;
  starting.status = "locked";
  std::string answer =
      renderer_.document([&](XmlOut& x) { renderer_.snapshot(x, owner, starting, false); });
  std::string location = renderer_.href("vms/" + owner.id + "/snapshots/" + snap.id);
  startSnapshot(call, owner, std::move(snap),
                "Creating VM Snapshot " + *description + " for VM " + owner.name,
                timing_.snapshotCreate);
  return created(std::move(answer), location);
}

hvtest::Answer Api::deleteSnapshot(Call& call, const Params& p) {
  Vm& owner = vm(p[0]);
  Snapshot& snap = snapshot(owner, p[1]);
  optionalBody(call);
  if (snap.type == "active") {
    throw Failure::conflict(
        "Cannot remove Snapshot. The active snapshot of a VM cannot be removed.");
  }
  if (snap.status == "locked") {
    throw Failure::conflict(
        "Cannot remove Snapshot. Snapshot is currently being created or removed for "
        "VM " +
        owner.name + ".");
  }
  for (const auto& other : inventory_.vms.items()) {
    for (const DiskAttachment& att : other->attachments) {
      if (att.snapshotId == snap.id) {
        throw Failure::conflict("Cannot remove Snapshot. The snapshot's disks are attached to VM " +
                                other->name + ".");
      }
    }
  }
  snap.status = "locked";
  std::string vmId = owner.id, snapId = snap.id;
  Task task;
  task.name = "snapshot remove";
  task.watch = {watch::snapshot(snapId)};
  task.delay = timing_.snapshotRemove;
  task.jobId = startJob(call, "Removing Snapshot " + snap.description + " of VM " + owner.name);
  task.finish = [vmId, snapId](Inventory& inv) {
    if (Vm* v = inv.vms.find(vmId)) {
      auto& list = v->snapshots;
      list.erase(std::remove_if(list.begin(), list.end(),
                                [&](const Snapshot& s) { return s.id == snapId; }),
                 list.end());
    }
  };
  task.fail = [vmId, snapId](Inventory& inv) {
    Vm* v = inv.vms.find(vmId);
    if (Snapshot* s = v ? Inventory::findSnapshot(*v, snapId) : nullptr) s->status = "ok";
  };
  std::string jobId = task.jobId;
  run(call, std::move(task), FailingTask::SnapshotRemove);
  return actionDone(jobId);
}

hvtest::Answer Api::listSnapshotDisks(Call&, const Params& p) {
  Vm& owner = vm(p[0]);
  const Snapshot& snap = snapshot(owner, p[1]);
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("disks");
    for (const SnapshotImage& image : snap.images) renderer_.snapshotDisk(x, snap, image);
    x.close();
  }));
}

hvtest::Answer Api::getSnapshotDisk(Call&, const Params& p) {
  Vm& owner = vm(p[0]);
  const Snapshot& snap = snapshot(owner, p[1]);
  for (const SnapshotImage& image : snap.images) {
    if (image.diskId == p[2]) {
      return xml(200,
                 renderer_.document([&](XmlOut& x) { renderer_.snapshotDisk(x, snap, image); }));
    }
  }
  throw Failure::unknown("Disk", p[2]);
}

}  // namespace hvsim
