// Storage domains: creation, attachment to a data center, activation, maintenance, removal,
// and the disks they hold.
#include "engine_simulator/api.h"
#include "engine_simulator/values.h"

namespace hvsim {

namespace {

using Values = std::optional<std::vector<std::string>>;

}  // namespace

hvtest::Answer Api::listStorageDomains(Call& call, const Params&) {
  Listing s = listing(call);
  std::vector<std::string> ids;
  for (const auto& sd : inventory_.storageDomains.items()) {
    bool keep = shows(s, [&](const std::string& f) -> Values {
      if (f == "name") return Values{{sd->name}};
      if (f == "id") return Values{{sd->id}};
      if (f == "type") return Values{{sd->type}};
      if (f == "status")
        return Values{{sd->dataCenterId.empty() ? sd->status : sd->dataCenterStatus}};
      if (f == "datacenter") {
        const DataCenter* dc = inventory_.dataCenters.find(sd->dataCenterId);
        return Values{{dc ? dc->name : std::string()}};
      }
      return std::nullopt;
    });
    if (keep) ids.push_back(sd->id);
  }
  for (const std::string& id : ids) seen(call, watch::storageDomain(id));
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("storage_domains");
    for (const std::string& id : ids) {
      if (const StorageDomain* sd = inventory_.storageDomains.find(id)) {
        renderer_.storageDomain(x, *sd, nullptr);
      }
    }
    x.close();
  }));
}

hvtest::Answer Api::getStorageDomain(Call& call, const Params& p) {
  storageDomain(p[0]);
  seen(call, watch::storageDomain(p[0]));
  const StorageDomain& sd = storageDomain(p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) { renderer_.storageDomain(x, sd, nullptr); }));
}

hvtest::Answer Api::createStorageDomain(Call& call, const Params&) {
  const XmlNode& doc = body(call, "storage_domain");
  StorageDomain sd;
  sd.name = doc.textAt("name").value_or("");
  if (sd.name.empty()) throw Failure::missing("StorageDomain [name] required for add");
  if (inventory_.storageDomains.findByName(sd.name)) {
    throw Failure::conflict("Cannot add Storage. The Storage Domain name is already in use.");
  }
  const XmlNode* host = doc.child("host");
  if (!host) throw Failure::missing("StorageDomain [host.id|name] required for add");
  resolve(inventory_.hosts, *host, "Host");
  sd.type = doc.textAt("type").value_or("data");
  sd.storageType = doc.textAt("storage/type").value_or("nfs");
  sd.address = doc.textAt("storage/address").value_or("");
  sd.path = doc.textAt("storage/path").value_or("");
  if (sd.storageType == "nfs" && (sd.address.empty() || sd.path.empty())) {
    throw Failure::missing("StorageDomain [storage.address, storage.path] required for add");
  }
  sd.storageFormat = doc.textAt("storage_format").value_or(renderer_.v3() ? "v3" : "v4");
  if (sd.storageFormat.empty()) sd.storageFormat = renderer_.v3() ? "v3" : "v4";
  sd.description = doc.textAt("description").value_or("");
  sd.id = inventory_.newId(IdKind::StorageDomain);
  sd.available = 107374182400ull;
  sd.used = 4294967296ull;
  sd.committed = 0;
  sd.status = "locked";
  std::string id = sd.id, name = sd.name, kind = sd.storageType;
  inventory_.storageDomains.add(std::move(sd));
  Task task;
  task.name = "storage domain create";
  task.watch = {watch::storageDomain(id)};
  task.delay = timing_.storageDomainCreate;
  for (char& c : kind) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  task.jobId = startJob(call, "Adding " + kind + " Storage Domain " + name);
  task.finish = [id](Inventory& inv) {
    if (StorageDomain* found = inv.storageDomains.find(id); found && found->status == "locked") {
      found->status = "unattached";
    }
  };
  run(call, std::move(task));
  const StorageDomain& shown = storageDomain(id);
  return created(renderer_.document([&](XmlOut& x) { renderer_.storageDomain(x, shown, nullptr); }),
                 renderer_.href("storagedomains/" + id));
}

hvtest::Answer Api::destroyStorageDomain(Call& call, const Params& p) {
  StorageDomain& sd = storageDomain(p[0]);
  const XmlNode* doc = optionalBody(call);
  std::string hostParam = queryValue(call.query, "host").value_or("");
  const XmlNode* hostElement = doc ? doc->child("host") : nullptr;
  if (hostParam.empty() && !hostElement) {
    throw Failure::missing("StorageDomain [host.id|name] required for remove");
  }
  if (!hostByNameOrId(hostElement, hostParam)) throw Failure::notFound("Host: name=" + hostParam);
  bool destroy = queryValue(call.query, "destroy") == std::string("true") ||
                 (doc && givenFlag(*doc, "destroy").value_or(false));
  if (!sd.dataCenterId.empty()) {
    // An attached domain goes only from maintenance: destroying an active one would pull the
    // storage from under running VMs.
    if (sd.dataCenterStatus != "maintenance") {
      throw Failure::conflict("Cannot " + std::string(destroy ? "destroy" : "remove") +
                              " Storage. The relevant Storage Domain's status is " +
                              sd.dataCenterStatus + ".");
    }
    if (!destroy) {
      throw Failure::conflict(
          "Cannot remove Storage. Storage Domain is attached to a Data Center; "
          "detach it first.");
    }
  } else if (sd.status == "locked") {
    throw Failure::conflict("Cannot remove Storage. Storage Domain is locked.");
  }
  std::string jobId = startJob(
      call, std::string(destroy ? "Destroying" : "Removing") + " Storage Domain " + sd.name);
  for (Disk* d : inventory_.disksOnDomain(sd.id)) inventory_.removeDisk(d->id);
  inventory_.storageDomains.remove(sd.id);
  endJob(inventory_, jobId, "finished");
  return actionDone(jobId);
}

hvtest::Answer Api::listDomainDisks(Call& call, const Params& p) {
  const StorageDomain& sd = storageDomain(p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) {
    listDisksOn(x, call, sd, "storagedomains/" + sd.id + "/disks");
  }));
}

hvtest::Answer Api::getDomainDisk(Call& call, const Params& p) {
  const StorageDomain& sd = storageDomain(p[0]);
  Disk& found = disk(p[1]);
  if (found.storageDomainId != sd.id) throw Failure::unknown("Disk", p[1]);
  seen(call, watch::disk(found.id));
  const Disk& shown = disk(p[1]);
  const DiskAttachment* use = firstUse(shown.id);
  return xml(200, renderer_.document([&](XmlOut& x) {
    renderer_.disk(x, inventory_, shown, "storagedomains/" + sd.id + "/disks", use);
  }));
}

StorageDomain& Api::attachedDomain(const DataCenter& dc, const std::string& id) {
  StorageDomain& sd = storageDomain(id);
  if (sd.dataCenterId != dc.id) throw Failure::unknown("Storage Domain", id);
  return sd;
}

hvtest::Answer Api::listAttachedDomains(Call& call, const Params& p) {
  const DataCenter& dc = dataCenter(p[0]);
  Listing s = listing(call);
  std::vector<std::string> ids;
  for (const auto& sd : inventory_.storageDomains.items()) {
    if (sd->dataCenterId != dc.id) continue;
    bool keep = shows(s, [&](const std::string& f) -> Values {
      if (f == "name") return Values{{sd->name}};
      if (f == "id") return Values{{sd->id}};
      if (f == "status") return Values{{sd->dataCenterStatus}};
      if (f == "type") return Values{{sd->type}};
      return std::nullopt;
    });
    if (keep) ids.push_back(sd->id);
  }
  for (const std::string& id : ids) seen(call, watch::storageDomain(id));
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("storage_domains");
    for (const std::string& id : ids) {
      const StorageDomain* sd = inventory_.storageDomains.find(id);
      if (sd && sd->dataCenterId == dc.id) renderer_.storageDomain(x, *sd, &dc);
    }
    x.close();
  }));
}

hvtest::Answer Api::getAttachedDomain(Call& call, const Params& p) {
  const DataCenter& dc = dataCenter(p[0]);
  attachedDomain(dc, p[1]);
  seen(call, watch::storageDomain(p[1]));
  const StorageDomain& sd = attachedDomain(dc, p[1]);
  return xml(200, renderer_.document([&](XmlOut& x) { renderer_.storageDomain(x, sd, &dc); }));
}

hvtest::Answer Api::listAttachedDomainDisks(Call& call, const Params& p) {
  const DataCenter& dc = dataCenter(p[0]);
  const StorageDomain& sd = attachedDomain(dc, p[1]);
  return xml(200, renderer_.document([&](XmlOut& x) {
    listDisksOn(x, call, sd, "storagedomains/" + sd.id + "/disks");
  }));
}

hvtest::Answer Api::attachDomain(Call& call, const Params& p) {
  DataCenter& dc = dataCenter(p[0]);
  const XmlNode& doc = body(call, "storage_domain");
  StorageDomain* sd = &resolve(inventory_.storageDomains, doc, "Storage Domain");
  if (!sd->dataCenterId.empty()) {
    throw Failure::conflict(
        "Cannot attach Storage. Storage Domain is already attached to a Data Center.");
  }
  if (sd->status != "unattached") {
    throw Failure::conflict("Cannot attach Storage. The Storage Domain's status is " + sd->status +
                            ".");
  }
  bool hasMaster = false;
  for (const auto& other : inventory_.storageDomains.items()) {
    hasMaster = hasMaster || (other->dataCenterId == dc.id && other->master);
  }
  sd->dataCenterId = dc.id;
  sd->master = !hasMaster && sd->type == "data";
  std::string sdId = sd->id;
  std::string jobId =
      startJob(call, "Attaching Storage Domain " + sd->name + " to Data Center " + dc.name);
  if (renderer_.generation().attachActivatesDomain()) {
    // From 4.0.2 on the engine activates what it attaches.
    sd->dataCenterStatus = "locked";
    Task task;
    task.name = "storage domain attach";
    task.watch = {watch::storageDomain(sdId)};
    task.delay = timing_.storageDomainActivate;
    task.jobId = jobId;
    task.finish = [sdId](Inventory& inv) {
      if (StorageDomain* found = inv.storageDomains.find(sdId);
          found && found->dataCenterStatus == "locked") {
        found->dataCenterStatus = "active";
      }
    };
    run(call, std::move(task));
  } else {
    sd->dataCenterStatus = "maintenance";
    endJob(inventory_, jobId, "finished");
  }
  const StorageDomain& shown = storageDomain(sdId);
  return created(renderer_.document([&](XmlOut& x) { renderer_.storageDomain(x, shown, &dc); }),
                 renderer_.href("datacenters/" + dc.id + "/storagedomains/" + sdId));
}

hvtest::Answer Api::activateDomain(Call& call, const Params& p) {
  const DataCenter& dc = dataCenter(p[0]);
  StorageDomain& sd = attachedDomain(dc, p[1]);
  optionalBody(call);
  if (sd.dataCenterStatus != "maintenance" && sd.dataCenterStatus != "inactive") {
    throw Failure::conflict(
        "Cannot activate Storage. The Storage Domain's status is " + sd.dataCenterStatus + ".",
        true);
  }
  sd.dataCenterStatus = "activating";
  std::string sdId = sd.id;
  Task task;
  task.name = "storage domain activate";
  task.watch = {watch::storageDomain(sdId)};
  task.delay = timing_.storageDomainActivate;
  task.jobId =
      startJob(call, "Activating Storage Domain " + sd.name + " in Data Center " + dc.name);
  task.finish = [sdId](Inventory& inv) {
    if (StorageDomain* found = inv.storageDomains.find(sdId);
        found && found->dataCenterStatus == "activating") {
      found->dataCenterStatus = "active";
    }
  };
  std::string jobId = task.jobId;
  run(call, std::move(task));
  return actionDone(jobId);
}

hvtest::Answer Api::deactivateDomain(Call& call, const Params& p) {
  const DataCenter& dc = dataCenter(p[0]);
  StorageDomain& sd = attachedDomain(dc, p[1]);
  optionalBody(call);
  if (sd.dataCenterStatus != "active") {
    throw Failure::conflict(
        "Cannot deactivate Storage. The Storage Domain's status is " + sd.dataCenterStatus + ".",
        true);
  }
  sd.dataCenterStatus = "preparing_for_maintenance";
  std::string sdId = sd.id;
  Task task;
  task.name = "storage domain deactivate";
  task.watch = {watch::storageDomain(sdId)};
  task.delay = timing_.storageDomainDeactivate;
  task.jobId =
      startJob(call, "Deactivating Storage Domain " + sd.name + " in Data Center " + dc.name);
  task.finish = [sdId](Inventory& inv) {
    if (StorageDomain* found = inv.storageDomains.find(sdId);
        found && found->dataCenterStatus == "preparing_for_maintenance") {
      found->dataCenterStatus = "maintenance";
    }
  };
  std::string jobId = task.jobId;
  run(call, std::move(task));
  return actionDone(jobId);
}

}  // namespace hvsim
