// Disks: the top-level collection, creation (with its creation status), moves, and a
// VM's disks through its per-VM "disks" collection and its disk attachments.
#include <algorithm>

#include "engine_simulator/api.h"
#include "engine_simulator/ovf.h"
#include "engine_simulator/values.h"

namespace hvsim {

namespace {

using Values = std::optional<std::vector<std::string>>;

Failure conflict(const std::string& detail, bool action = false) {
  return Failure::conflict(detail, action);
}

// Below 4.0.2 clients deactivate a disk before they detach it, and the engine insists.
bool detachNeedsDeactivation(const Generation& g) { return g.code() < 4000002; }

// A new sparse image holds its format's header before any data is written.
constexpr uint64_t kEmptySparseImageBytes = 204800;

std::string checkedFormat(const std::string& value) {
  if (value == "cow" || value == "raw") return value;
  throw Failure::badValue("Invalid value for format: '" + value + "'; expected cow or raw");
}

}  // namespace

void Api::listDisksOn(XmlOut& x, Call& call, const StorageDomain& sd, const std::string& hrefBase) {
  std::vector<std::string> ids;
  for (Disk* d : inventory_.disksOnDomain(sd.id)) ids.push_back(d->id);
  for (const std::string& id : ids) seen(call, watch::disk(id));
  auto uses = inventory_.firstUses();
  x.open("disks");
  for (const std::string& id : ids) {
    if (const Disk* d = inventory_.disks.find(id); d && d->storageDomainId == sd.id) {
      auto use = uses.find(id);
      renderer_.disk(x, inventory_, *d, hrefBase, use == uses.end() ? nullptr : use->second);
    }
  }
  x.close();
}

hvtest::Answer Api::listDisks(Call& call, const Params&) {
  Listing s = listing(call);
  std::vector<std::string> ids;
  for (const auto& d : inventory_.disks.items()) {
    bool keep = shows(s, [&](const std::string& f) -> Values {
      if (f == "name" || f == "alias") return Values{{d->name}};
      if (f == "id") return Values{{d->id}};
      if (f == "status") return Values{{d->status}};
      return std::nullopt;
    });
    if (keep) ids.push_back(d->id);
  }
  for (const std::string& id : ids) seen(call, watch::disk(id));
  auto uses = inventory_.firstUses();
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("disks");
    for (const std::string& id : ids) {
      auto use = uses.find(id);
      if (const Disk* d = inventory_.disks.find(id)) {
        renderer_.disk(x, inventory_, *d, "disks", use == uses.end() ? nullptr : use->second);
      }
    }
    x.close();
  }));
}

hvtest::Answer Api::getDisk(Call& call, const Params& p) {
  disk(p[0]);
  seen(call, watch::disk(p[0]));
  const Disk& found = disk(p[0]);
  const DiskAttachment* use = firstUse(found.id);
  return xml(200, renderer_.document(
                      [&](XmlOut& x) { renderer_.disk(x, inventory_, found, "disks", use); }));
}

Disk& Api::newDisk(Call& call, const XmlNode& element) {
  Disk d;
  d.id = inventory_.newId(IdKind::Disk);
  d.name = element.textAt("name").value_or(element.textAt("alias").value_or(""));
  if (d.name.empty()) d.name = "disk-" + d.id.substr(d.id.size() - 6);
  d.description = element.textAt("description").value_or("");
  const XmlNode* sdRef = element.find("storage_domains/storage_domain");
  if (!sdRef) sdRef = element.child("storage_domain");
  if (!sdRef) throw Failure::missing("Disk [storage_domains.storage_domain] required for add");
  const StorageDomain& sd = resolve(inventory_.storageDomains, *sdRef, "Storage Domain");
  std::optional<uint64_t> size = element.numberAt("provisioned_size");
  if (!size) size = element.numberAt("size");
  if (!size || *size == 0) throw Failure::missing("Disk [provisioned_size] required for add");
  std::optional<std::string> format = element.textAt("format");
  if (!format) throw Failure::missing("Disk [format] required for add");
  if (std::optional<std::string> iface = element.textAt("interface")) checkedInterface(*iface);
  d.storageDomainId = sd.id;
  d.provisionedSize = *size;
  d.format = checkedFormat(*format);
  d.sparse = givenFlag(element, "sparse").value_or(true);
  d.shareable = givenFlag(element, "shareable").value_or(false);
  d.wipeAfterDelete = givenFlag(element, "wipe_after_delete").value_or(false);
  d.actualSize = element.numberAt("initial_size")
                     .value_or(d.sparse ? kEmptySparseImageBytes : d.provisionedSize);
  d.imageId = inventory_.newId(IdKind::Image);
  d.status = "locked";
  d.creationId = inventory_.newId(IdKind::Creation);
  Disk& added = inventory_.disks.add(std::move(d));
  std::string id = added.id;
  Task task;
  task.name = "disk create";
  task.watch = {watch::disk(id), watch::creation(added.creationId)};
  task.delay = creationDelay(call, timing_.diskCreate);
  task.jobId = startJob(call, "Adding Disk " + added.name);
  task.finish = [id](Inventory& inv) {
    if (Disk* found = inv.disks.find(id); found && found->status == "locked") found->status = "ok";
  };
  task.fail = [id](Inventory& inv) {
    if (Disk* found = inv.disks.find(id)) {
      found->status = "illegal";
      found->creationFailed = true;
    }
  };
  run(call, std::move(task), FailingTask::DiskCreate);
  return *inventory_.disks.find(id);
}

hvtest::Answer Api::createDisk(Call& call, const Params&) {
  const XmlNode& doc = body(call, "disk");
  Disk& added = newDisk(call, doc);
  // The image is created on storage: until then the answer is 202 with the creation status.
  const bool pending = !pendingCreation(added.id).empty();
  std::string answer = renderer_.document(
      [&](XmlOut& x) { renderer_.disk(x, inventory_, added, "disks", nullptr, pending); });
  return createdOrAccepted(pending, std::move(answer), renderer_.href("disks/" + added.id));
}

hvtest::Answer Api::getDiskCreation(Call& call, const Params& p) {
  const Disk& found = disk(p[0]);
  if (found.creationId != p[1]) throw Failure::unknown("Creation", p[1]);
  return creationStatus(call, "disks/" + found.id, p[1], found.id);
}

hvtest::Answer Api::deleteDisk(Call& call, const Params& p) {
  Disk& found = disk(p[0]);
  optionalBody(call);
  if (found.status == "locked") {
    throw conflict("Cannot remove Virtual Disk. Disk " + found.name +
                   " is locked. Please try again in a few minutes.");
  }
  for (Vm* user : inventory_.vmsUsingDisk(found.id)) {
    DiskAttachment* att = Inventory::findAttachment(*user, found.id);
    if (att && att->active && user->status != "down") {
      throw conflict("Cannot remove Virtual Disk. Disk is plugged to running VM " + user->name +
                     ".");
    }
  }
  std::string jobId = startJob(call, "Removing Disk " + found.name);
  inventory_.removeDisk(found.id);
  endJob(inventory_, jobId, "finished");
  return actionDone(jobId);
}

hvtest::Answer Api::moveDisk(Call& call, const Params& p) {
  Disk& found = disk(p[0]);
  const XmlNode& doc = body(call, "action");
  const XmlNode* target = doc.child("storage_domain");
  if (!target) throw Failure::missing("Action [storage_domain.id|name] required for move");
  const StorageDomain* sd = &resolve(inventory_.storageDomains, *target, "Storage Domain");
  if (found.status == "locked") {
    throw conflict("Cannot move Virtual Disk. Disk " + found.name + " is locked.", true);
  }
  if (sd->id == found.storageDomainId) {
    throw conflict("Cannot move Virtual Disk. The disk is already on the target Storage Domain.",
                   true);
  }
  found.status = "locked";
  std::string diskId = found.id, sdId = sd->id;
  // A running VM keeps using the disk: the engine moves it live, behind a snapshot.
  for (Vm* user : inventory_.vmsUsingDisk(diskId)) {
    if (user->status != "up") continue;
    Snapshot snap =
        captureSnapshot(inventory_, *user, {diskId}, "Auto-generated for Live Storage Migration");
    snap.id = inventory_.newId(IdKind::Snapshot);
    startSnapshot(
        call, *user, std::move(snap),
        "Creating VM Snapshot Auto-generated for Live Storage Migration for VM " + user->name,
        timing_.diskMove);
  }
  Disk& moving = disk(diskId);
  Task task;
  task.name = "disk move";
  task.watch = {watch::disk(diskId)};
  task.delay = timing_.diskMove;
  task.jobId = startJob(call, "Moving Disk " + moving.name + " to " + sd->name);
  task.finish = [diskId, sdId](Inventory& inv) {
    if (Disk* d = inv.disks.find(diskId)) {
      d->storageDomainId = sdId;
      if (d->status == "locked") d->status = "ok";
    }
  };
  // A failed move leaves the disk where it was, usable again.
  task.fail = [diskId](Inventory& inv) {
    if (Disk* d = inv.disks.find(diskId); d && d->status == "locked") d->status = "ok";
  };
  std::string jobId = task.jobId;
  run(call, std::move(task), FailingTask::DiskMove);
  return actionDone(jobId);
}

hvtest::Answer Api::listVmDisks(Call& call, const Params& p) {
  std::vector<std::string> ids;
  if (Vm* owner = listedVm(p[0])) {
    for (const DiskAttachment& att : owner->attachments) ids.push_back(att.diskId);
  }
  for (const std::string& id : ids) {
    seen(call, watch::disk(id));
    seen(call, watch::attachment(p[0], id));
  }
  Vm* owner = listedVm(p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("disks");
    if (owner) {
      for (const DiskAttachment& att : owner->attachments) {
        renderer_.vmDisk(x, inventory_, *owner, att);
      }
    }
    x.close();
  }));
}

hvtest::Answer Api::getVmDisk(Call& call, const Params& p) {
  Vm& owner = vm(p[0]);
  attachment(owner, p[1]);
  seen(call, watch::disk(p[1]));
  seen(call, watch::attachment(owner.id, p[1]));
  const DiskAttachment& att = attachment(owner, p[1]);
  return xml(200,
             renderer_.document([&](XmlOut& x) { renderer_.vmDisk(x, inventory_, owner, att); }));
}

DiskAttachment& Api::plug(Call& call, Vm& owner, const XmlNode& diskElement, const XmlNode& flags,
                          bool interfaceRequired, bool createdForIt) {
  std::optional<std::string> givenDisk = givenId(diskElement);
  if (!givenDisk) throw Failure::missing("Disk [id] required for attach");
  std::string diskId = *givenDisk;
  Disk& d = disk(diskId);
  std::string snapshotId;
  if (const XmlNode* snapRef = diskElement.child("snapshot")) {
    std::optional<std::string> givenSnapshot = givenId(*snapRef);
    if (!givenSnapshot) throw Failure::missing("Disk [snapshot.id] required for attach");
    snapshotId = *givenSnapshot;
    Vm* source = inventory_.vmOfSnapshot(snapshotId);
    if (!source) throw Failure::notFound(snapshotId);
    const Snapshot& snap = snapshot(*source, snapshotId);
    bool holds = std::any_of(snap.images.begin(), snap.images.end(),
                             [&](const SnapshotImage& i) { return i.diskId == diskId; });
    if (!holds) throw Failure::notFound("disk " + diskId + " in snapshot " + snapshotId);
    if (snap.status == "locked") {
      throw conflict("Cannot attach Virtual Disk. The snapshot " + snap.description +
                     " is locked.");
    }
  } else {
    if (d.status == "locked" && !createdForIt) {
      throw conflict("Cannot attach Virtual Disk. Disk " + d.name + " is locked.");
    }
    std::vector<Vm*> users = inventory_.vmsUsingDisk(diskId);
    if (!d.shareable && !users.empty() && users.front() != &owner) {
      throw conflict(
          "Cannot attach Virtual Disk. The disk is not shareable and is already "
          "attached to VM " +
          users.front()->name + ".");
    }
  }
  if (Inventory::findAttachment(owner, diskId)) {
    throw conflict("Cannot attach Virtual Disk. The disk is already attached to VM " + owner.name +
                   ".");
  }
  // The attachment needs an interface; the documented API v3 form of attaching an existing
  // disk names none and gets the default.
  std::optional<std::string> iface = flags.textAt("interface");
  if (!iface && interfaceRequired) {
    throw Failure::missing("DiskAttachment [interface] required for add");
  }
  DiskAttachment att;
  att.diskId = diskId;
  att.snapshotId = snapshotId;
  att.interface = iface ? checkedInterface(*iface) : std::string("virtio");
  att.bootable = givenFlag(flags, "bootable").value_or(false);
  att.readOnly = givenFlag(flags, "read_only").value_or(false);
  att.active = false;
  att.logicalName = Inventory::nextLogicalName(owner, att.interface);
  // Without "active" the attachment stays inactive: the engine's result is undefined.
  const bool active = givenFlag(flags, "active").value_or(false);
  owner.attachments.push_back(att);
  DiskAttachment& added = owner.attachments.back();
  if (active) setActive(call, owner, added, true, true);
  return *Inventory::findAttachment(owner, diskId);
}

void Api::setActive(Call& call, Vm& owner, DiskAttachment& att, bool active, bool immediately) {
  std::string vmId = owner.id, diskId = att.diskId;
  // Once plugged, the guest reports the device after a while (when it runs an agent).
  Task report;
  report.name = "logical name";
  report.watch = {watch::attachment(vmId, diskId)};
  report.delay = timing_.logicalName;
  report.finish = [vmId, diskId](Inventory& inv) {
    Vm* v = inv.vms.find(vmId);
    DiskAttachment* a = v ? Inventory::findAttachment(*v, diskId) : nullptr;
    if (a && a->active) a->logicalNameReady = true;
  };
  if (immediately) {
    att.active = active;
    if (!active) att.logicalNameReady = false;
    if (active && !att.logicalNameReady) run(call, std::move(report));
    return;
  }
  Task task;
  task.name = active ? "disk activate" : "disk deactivate";
  task.watch = {watch::attachment(vmId, diskId)};
  task.delay = timing_.diskActivation;
  task.finish = [vmId, diskId, active](Inventory& inv) {
    Vm* v = inv.vms.find(vmId);
    DiskAttachment* a = v ? Inventory::findAttachment(*v, diskId) : nullptr;
    if (!a) return;
    a->active = active;
    if (!active) a->logicalNameReady = false;
  };
  if (active && !att.logicalNameReady) task.then = std::make_shared<Task>(std::move(report));
  run(call, std::move(task));
}

hvtest::Answer Api::attachVmDisk(Call& call, const Params& p) {
  Vm& owner = vm(p[0]);
  const XmlNode& doc = body(call, "disk");
  std::string diskId;
  if (!givenId(doc)) {
    diskId = newDisk(call, doc).id;
    XmlNode ref;
    ref.name = "disk";
    ref.attributes.emplace_back("id", diskId);
    plug(call, owner, ref, doc, false, true);
  } else {
    diskId = *givenId(doc);
    plug(call, owner, doc, doc, false);
  }
  const DiskAttachment& att = attachment(owner, diskId);
  const std::string creationId = pendingCreation(diskId);
  return createdOrAccepted(!creationId.empty(), renderer_.document([&](XmlOut& x) {
    renderer_.vmDisk(x, inventory_, owner, att, creationId);
  }),
                           renderer_.href("vms/" + owner.id + "/disks/" + diskId));
}

std::string Api::pendingCreation(const std::string& diskId) {
  const Disk& d = disk(diskId);
  return tasks_.busy(watch::creation(d.creationId)) ? d.creationId : std::string();
}

hvtest::Answer Api::getAttachedDiskCreation(Call& call, const Params& p) {
  const Vm& owner = vm(p[0]);
  attachment(vm(p[0]), p[1]);
  const Disk& d = disk(p[1]);
  if (d.creationId != p[2]) throw Failure::unknown("Creation", p[2]);
  // "disks" (v3) or "diskattachments" (v4), as the request names it.
  const std::string tail = "vms/" + owner.id + "/" + call.segments[2] + "/" + d.id;
  return creationStatus(call, tail, p[2], d.id);
}

hvtest::Answer Api::updateVmDisk(Call& call, const Params& p) {
  Vm& owner = vm(p[0]);
  DiskAttachment& att = attachment(owner, p[1]);
  Disk& d = disk(p[1]);
  const XmlNode& doc = body(call, "disk");
  // What the document holds is taken as given: an empty name blanks the disk's alias.
  if (std::optional<std::string> iface = doc.textAt("interface")) {
    att.interface = checkedInterface(*iface);
  }
  if (std::optional<std::string> format = doc.textAt("format")) checkedFormat(*format);
  if (std::optional<std::string> name = doc.textAt("alias")) d.name = *name;
  if (std::optional<std::string> name = doc.textAt("name")) d.name = *name;
  if (std::optional<std::string> text = doc.textAt("description")) d.description = *text;
  att.bootable = givenFlag(doc, "bootable").value_or(att.bootable);
  att.readOnly = givenFlag(doc, "read_only").value_or(att.readOnly);
  d.shareable = givenFlag(doc, "shareable").value_or(d.shareable);
  d.wipeAfterDelete = givenFlag(doc, "wipe_after_delete").value_or(d.wipeAfterDelete);
  return xml(200,
             renderer_.document([&](XmlOut& x) { renderer_.vmDisk(x, inventory_, owner, att); }));
}

void Api::detach(Call&, Vm& owner, const std::string& diskId) {
  DiskAttachment& att = attachment(owner, diskId);
  if (detachNeedsDeactivation(renderer_.generation()) && att.active && owner.status != "down") {
    throw conflict("Cannot detach Virtual Disk. The disk is plugged to the running VM " +
                   owner.name + "; deactivate it first.");
  }
  auto& list = owner.attachments;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const DiskAttachment& a) { return a.diskId == diskId; }),
             list.end());
}

hvtest::Answer Api::deleteVmDisk(Call& call, const Params& p) {
  Vm& owner = vm(p[0]);
  attachment(owner, p[1]);
  const XmlNode* doc = optionalBody(call);
  if (doc && doc->name != "action") {
    throw Failure{400, "Bad Request", "Request syntactically incorrect: expected <action>"};
  }
  // Without <detach>true</detach> the engine removes the disk itself, whichever VM or snapshot
  // it was reached through: a snapshot's disk plugged into a backup proxy is the source VM's.
  const bool detachOnly = doc && givenFlag(*doc, "detach").value_or(false);
  const std::string name = disk(p[1]).name;
  if (detachOnly) {
    detach(call, owner, p[1]);
  } else {
    if (disk(p[1]).status == "locked") {
      throw conflict("Cannot remove Virtual Disk. Disk " + name + " is locked.");
    }
    std::vector<Vm*> users = inventory_.vmsUsingDisk(p[1]);
    users.push_back(&owner);
    for (Vm* user : users) {
      const DiskAttachment* use = Inventory::findAttachment(*user, p[1]);
      if (use && use->active && user->status != "down") {
        throw conflict("Cannot remove Virtual Disk. Disk is plugged to running VM " + user->name +
                       ".");
      }
    }
    inventory_.removeDisk(p[1]);
  }
  std::string jobId = startJob(
      call, (detachOnly ? "Detaching Disk " : "Removing Disk ") + name + " from VM " + owner.name);
  endJob(inventory_, jobId, "finished");
  return actionDone(jobId);
}

hvtest::Answer Api::diskAction(Call& call, const Params& p, bool activate) {
  Vm& owner = vm(p[0]);
  DiskAttachment& att = attachment(owner, p[1]);
  optionalBody(call);
  if (att.active == activate || tasks_.busy(watch::attachment(owner.id, att.diskId))) {
    throw conflict(activate ? "Cannot activate VM Disk. The disk is already activated."
                            : "Cannot deactivate VM Disk. The disk is already deactivated.",
                   true);
  }
  std::string name = disk(p[1]).name;
  std::string jobId = startJob(call, std::string(activate ? "Plugging" : "Unplugging") + " disk " +
                                         name + " (VM " + owner.name + ")");
  endJob(inventory_, jobId, "finished");
  setActive(call, owner, att, activate, false);
  return actionDone(jobId);
}

hvtest::Answer Api::activateVmDisk(Call& call, const Params& p) {
  return diskAction(call, p, true);
}

hvtest::Answer Api::deactivateVmDisk(Call& call, const Params& p) {
  return diskAction(call, p, false);
}

hvtest::Answer Api::listAttachments(Call& call, const Params& p) {
  std::vector<std::string> ids;
  if (Vm* owner = listedVm(p[0])) {
    for (const DiskAttachment& att : owner->attachments) ids.push_back(att.diskId);
  }
  for (const std::string& id : ids) {
    seen(call, watch::attachment(p[0], id));
    if (call.follow.disks) seen(call, watch::disk(id));
  }
  Vm* owner = listedVm(p[0]);
  const Inventory* diskFrom = call.follow.disks ? &inventory_ : nullptr;
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("disk_attachments");
    if (owner) {
      for (const DiskAttachment& att : owner->attachments) {
        renderer_.diskAttachment(x, *owner, att, {diskFrom, "", ""});
      }
    }
    x.close();
  }));
}

hvtest::Answer Api::getAttachment(Call& call, const Params& p) {
  Vm& owner = vm(p[0]);
  attachment(owner, p[1]);
  seen(call, watch::attachment(owner.id, p[1]));
  if (call.follow.disks) seen(call, watch::disk(p[1]));
  const DiskAttachment& att = attachment(owner, p[1]);
  const Inventory* diskFrom = call.follow.disks ? &inventory_ : nullptr;
  return xml(200, renderer_.document([&](XmlOut& x) {
    renderer_.diskAttachment(x, owner, att, {diskFrom, "", ""});
  }));
}

hvtest::Answer Api::addAttachment(Call& call, const Params& p) {
  Vm& owner = vm(p[0]);
  const XmlNode& doc = body(call, "disk_attachment");
  const XmlNode* diskElement = doc.child("disk");
  if (!diskElement) throw Failure::missing("DiskAttachment [disk] required for add");
  std::string diskId;
  if (!givenId(*diskElement)) {
    diskId = newDisk(call, *diskElement).id;
    XmlNode ref;
    ref.name = "disk";
    ref.attributes.emplace_back("id", diskId);
    plug(call, owner, ref, doc, true, true);
  } else {
    diskId = *givenId(*diskElement);
    plug(call, owner, *diskElement, doc, true);
  }
  const DiskAttachment& att = attachment(owner, diskId);
  // Up to 4.4.1 the engine built this answer's href before it knew the VM: "vms/null/...".
  const std::string vmInHref =
      renderer_.generation().nullVmInAddedAttachment() ? std::string("null") : owner.id;
  const AttachmentExtras extras{nullptr,
                                renderer_.href("vms/" + vmInHref + "/diskattachments/" + diskId),
                                pendingCreation(diskId)};
  return createdOrAccepted(!extras.pendingCreation.empty(), renderer_.document([&](XmlOut& x) {
    renderer_.diskAttachment(x, owner, att, extras);
  }),
                           extras.self);
}

hvtest::Answer Api::deleteAttachment(Call& call, const Params& p) {
  Vm& owner = vm(p[0]);
  DiskAttachment& att = attachment(owner, p[1]);
  bool removeDisk =
      queryValue(call.query, "detach_only") == std::string("false") && att.snapshotId.empty();
  std::string name = disk(p[1]).name;
  detach(call, owner, p[1]);
  if (removeDisk) inventory_.removeDisk(p[1]);
  std::string jobId = startJob(call, "Detaching Disk " + name + " from VM " + owner.name);
  endJob(inventory_, jobId, "finished");
  return actionDone(jobId);
}

}  // namespace hvsim
