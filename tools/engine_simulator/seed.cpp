#include "engine_simulator/seed.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "engine_simulator/ovf.h"
#include "engine_simulator/values.h"

namespace hvsim {

namespace {

constexpr uint64_t kGiB = 1073741824ull;

// Adds records with the engine's defaults and keeps the relations consistent.
class Builder {
 public:
  Builder(Inventory& inv, bool v3) : inv_(inv), v3_(v3) {}

  std::string id(IdKind kind, const std::string& pinned) {
    return pinned.empty() ? inv_.newId(kind) : pinned;
  }

  DataCenter& dataCenter(const std::string& name, const std::string& pinned = "") {
    DataCenter dc;
    dc.id = id(IdKind::DataCenter, pinned);
    dc.name = name;
    if (v3_) {
      dc.storageFormat = "v3";
      dc.versionMajor = 3;
      dc.versionMinor = 6;
    }
    return inv_.dataCenters.add(std::move(dc));
  }

  Cluster& cluster(const std::string& name, const DataCenter& dc, const std::string& pinned = "") {
    Cluster c;
    c.id = id(IdKind::Cluster, pinned);
    c.name = name;
    c.dataCenterId = dc.id;
    c.versionMajor = dc.versionMajor;
    c.versionMinor = dc.versionMinor;
    return inv_.clusters.add(std::move(c));
  }

  Host& host(const std::string& name, const Cluster& cluster, const std::string& pinned = "") {
    Host h;
    h.id = id(IdKind::Host, pinned);
    h.name = name;
    h.clusterId = cluster.id;
    h.address = name + ".example.com";
    return inv_.hosts.add(std::move(h));
  }

  StorageDomain& domain(const std::string& name, const DataCenter* dc, bool ovfStores,
                        const std::string& pinned = "") {
    StorageDomain sd;
    sd.id = id(IdKind::StorageDomain, pinned);
    sd.name = name;
    sd.address = "nfs.example.com";
    sd.path = "/exports/" + name;
    sd.storageFormat = v3_ ? "v3" : "v4";
    if (dc) {
      sd.dataCenterId = dc->id;
      sd.dataCenterStatus = "active";
      bool hasMaster = false;
      for (const auto& other : inv_.storageDomains.items()) {
        hasMaster = hasMaster || (other->dataCenterId == dc->id && other->master);
      }
      sd.master = !hasMaster;
    }
    StorageDomain& added = inv_.storageDomains.add(std::move(sd));
    if (ovfStores) {
      for (int i = 0; i < 2; ++i) {
        Disk& store = disk("OVF_STORE", added, 134217728ull);
        store.description = "OVF_STORE";
        store.format = "raw";
        store.sparse = false;
        store.shareable = true;
        store.actualSize = store.provisionedSize;
      }
    }
    return added;
  }

  Network& network(const std::string& name, const DataCenter& dc, const std::string& pinned = "") {
    Network n;
    n.id = id(IdKind::Network, pinned);
    n.name = name;
    n.dataCenterId = dc.id;
    return inv_.networks.add(std::move(n));
  }

  VnicProfile& profile(const std::string& name, const Network& net,
                       const std::string& pinned = "") {
    VnicProfile p;
    p.id = id(IdKind::VnicProfile, pinned);
    p.name = name;
    p.networkId = net.id;
    return inv_.vnicProfiles.add(std::move(p));
  }

  Tag& tag(const std::string& name, const std::string& parentId, const std::string& pinned = "") {
    Tag t;
    t.id = id(IdKind::Tag, pinned);
    t.name = name;
    t.description = name;
    t.parentId = parentId.empty() ? Inventory::kRootTagId : parentId;
    return inv_.tags.add(std::move(t));
  }

  Vm& vm(const std::string& name, const Cluster& cluster, const std::string& pinned = "") {
    Vm v;
    v.id = id(IdKind::Vm, pinned);
    v.name = name;
    v.clusterId = cluster.id;
    v.creationTime = WallClock::now();
    Snapshot active;
    active.id = inv_.newId(IdKind::Snapshot);
    active.description = "Active VM";
    active.type = "active";
    active.date = v.creationTime;
    v.snapshots.push_back(active);
    return inv_.vms.add(std::move(v));
  }

  // Puts a VM in the up state on the given host, or the cluster's first up host.
  void run(Vm& vm, const Host* on) {
    if (!on) {
      for (const auto& h : inv_.hosts.items()) {
        if (h->clusterId == vm.clusterId && h->status == "up") {
          on = h.get();
          break;
        }
      }
    }
    if (!on) throw SeedError("VM " + vm.name + " is up but its cluster has no host that is up");
    vm.status = "up";
    vm.hostId = on->id;
    vm.startTime = WallClock::now();
    if (vm.fqdn.empty()) vm.fqdn = vm.name + ".example.com";
  }

  Disk& disk(const std::string& name, const StorageDomain& sd, uint64_t size,
             const std::string& pinned = "") {
    Disk d;
    d.id = id(IdKind::Disk, pinned);
    d.name = name;
    d.imageId = inv_.newId(IdKind::Image);
    d.storageDomainId = sd.id;
    d.provisionedSize = size;
    d.actualSize = size / 8;
    return inv_.disks.add(std::move(d));
  }

  DiskAttachment& attach(Vm& vm, const Disk& disk, const std::string& interface, bool bootable,
                         bool active) {
    DiskAttachment att;
    att.diskId = disk.id;
    att.interface = interface;
    att.bootable = bootable;
    att.active = active;
    att.logicalName = Inventory::nextLogicalName(vm, interface);
    att.logicalNameReady = active;
    vm.attachments.push_back(att);
    return vm.attachments.back();
  }

  Nic& nic(Vm& vm, const std::string& name, const VnicProfile* profile) {
    Nic n;
    n.id = inv_.newId(IdKind::Nic);
    n.name = name;
    n.mac = inv_.newMac();
    if (profile) n.vnicProfileId = profile->id;
    vm.nics.push_back(n);
    return vm.nics.back();
  }

  Snapshot& snapshot(Vm& vm, const std::string& description, const std::string& pinned = "") {
    Snapshot s = captureSnapshot(inv_, vm, {}, description);
    s.id = id(IdKind::Snapshot, pinned);
    vm.snapshots.push_back(std::move(s));
    return vm.snapshots.back();
  }

 private:
  Inventory& inv_;
  bool v3_;
};

std::string trimmed(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return text.substr(b, e - b);
}

std::vector<std::string> commaList(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    item = trimmed(item);
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

// One "[kind name]" section with its keys; each key is taken once and leftovers are errors.
struct Section {
  std::string kind, name;
  int line = 0;
  std::map<std::string, std::pair<std::string, int>> keys;  // value, line

  std::string take(const std::string& key, const std::string& fallback = "") {
    auto it = keys.find(key);
    if (it == keys.end()) return fallback;
    std::string value = it->second.first;
    keys.erase(it);
    return value;
  }
  std::string require(const std::string& key) {
    if (!keys.count(key)) fail("needs '" + key + " = ...'");
    return take(key);
  }
  bool flag(const std::string& key, bool fallback) {
    std::string value = take(key);
    if (value.empty()) return fallback;
    if (value == "true" || value == "yes" || value == "1") return true;
    if (value == "false" || value == "no" || value == "0") return false;
    fail("'" + key + "' must be true or false");
  }
  uint64_t number(const std::string& key, uint64_t fallback) {
    std::string value = take(key);
    if (value.empty()) return fallback;
    size_t used = 0;
    unsigned long long n = 0;
    try {
      n = std::stoull(value, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != value.size()) fail("'" + key + "' must be a number");
    return n;
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw SeedError("seed line " + std::to_string(line) + ": [" + kind + " " + name + "] " + what);
  }
  void finish() const {
    if (!keys.empty()) {
      throw SeedError("seed line " + std::to_string(keys.begin()->second.second) +
                      ": unknown key '" + keys.begin()->first + "' for " + kind);
    }
  }
};

template <class T>
T& lookup(const Table<T>& table, Section& s, const std::string& key, const char* what) {
  std::string name = s.require(key);
  T* found = table.findByName(name);
  if (!found) s.fail(std::string("refers to unknown ") + what + " '" + name + "'");
  return *found;
}

template <class T>
T* lookupOptional(const Table<T>& table, Section& s, const std::string& key, const char* what) {
  if (!s.keys.count(key)) return nullptr;
  return &lookup(table, s, key, what);
}

void applyVersion(Section& s, unsigned& major, unsigned& minor) {
  std::string v = s.take("version");
  if (v.empty()) return;
  size_t dot = v.find('.');
  try {
    major = static_cast<unsigned>(std::stoul(v.substr(0, dot)));
    minor = dot == std::string::npos ? 0 : static_cast<unsigned>(std::stoul(v.substr(dot + 1)));
  } catch (const std::exception&) {
    s.fail("bad version '" + v + "'");
  }
}

std::vector<std::string> tagIds(Inventory& inv, Section& s) {
  std::vector<std::string> ids;
  for (const std::string& name : commaList(s.take("tags"))) {
    Tag* t = inv.tags.findByName(name);
    if (!t) s.fail("refers to unknown tag '" + name + "'");
    ids.push_back(t->id);
  }
  return ids;
}

void apply(Inventory& inv, Builder& b, Section& s) {
  std::string pinned = s.take("id");
  if (!pinned.empty() && !isUuid(pinned)) s.fail("id '" + pinned + "' is not a UUID");
  std::string description = s.take("description");
  if (s.kind == "datacenter") {
    DataCenter& dc = b.dataCenter(s.name, pinned);
    dc.description = description;
    dc.status = s.take("status", dc.status);
    dc.storageFormat = s.take("storage_format", dc.storageFormat);
    applyVersion(s, dc.versionMajor, dc.versionMinor);
  } else if (s.kind == "cluster") {
    Cluster& c = b.cluster(s.name, lookup(inv.dataCenters, s, "datacenter", "data center"), pinned);
    c.description = description;
    c.cpuType = s.take("cpu", c.cpuType);
    applyVersion(s, c.versionMajor, c.versionMinor);
  } else if (s.kind == "host") {
    Host& h = b.host(s.name, lookup(inv.clusters, s, "cluster", "cluster"), pinned);
    h.description = description;
    h.address = s.take("address", h.address);
    h.status = s.take("status", h.status);
    h.tagIds = tagIds(inv, s);
  } else if (s.kind == "storagedomain") {
    DataCenter* dc = lookupOptional(inv.dataCenters, s, "datacenter", "data center");
    StorageDomain& sd = b.domain(s.name, dc, s.flag("ovf_store", false), pinned);
    sd.description = description;
    std::string status = s.take("status");
    if (dc) {
      if (!status.empty()) sd.dataCenterStatus = status;
    } else if (!status.empty()) {
      sd.status = status;
    }
    sd.type = s.take("type", sd.type);
    sd.storageType = s.take("storage", sd.storageType);
    sd.address = s.take("address", sd.address);
    sd.path = s.take("path", sd.path);
    sd.storageFormat = s.take("format", sd.storageFormat);
    sd.master = s.flag("master", sd.master);
  } else if (s.kind == "network") {
    Network& n = b.network(s.name, lookup(inv.dataCenters, s, "datacenter", "data center"), pinned);
    n.description = description;
    for (const std::string& name : commaList(s.take("clusters"))) {
      const Cluster* cluster = inv.clusters.findByName(name);
      if (!cluster || cluster->dataCenterId != n.dataCenterId) {
        s.fail("refers to unknown cluster '" + name + "' of its data center");
      }
      n.clusterIds.push_back(cluster->id);
    }
  } else if (s.kind == "vnicprofile") {
    b.profile(s.name, lookup(inv.networks, s, "network", "network"), pinned).description =
        description;
  } else if (s.kind == "tag") {
    Tag* parent = lookupOptional(inv.tags, s, "parent", "tag");
    Tag& t = b.tag(s.name, parent ? parent->id : std::string(), pinned);
    if (!description.empty()) t.description = description;
  } else if (s.kind == "vm") {
    if (inv.vms.findByName(s.name)) s.fail("a VM of that name exists already");
    Vm& v = b.vm(s.name, lookup(inv.clusters, s, "cluster", "cluster"), pinned);
    v.description = description;
    v.memory = s.number("memory", v.memory);
    v.sockets = static_cast<unsigned>(s.number("sockets", v.sockets));
    v.cores = static_cast<unsigned>(s.number("cores", v.cores));
    v.osType = s.take("os", v.osType);
    v.fqdn = s.take("fqdn");
    v.guestAgent = s.flag("guest_agent", true);
    v.tagIds = tagIds(inv, s);
    const Host* on = lookupOptional(inv.hosts, s, "host", "host");
    std::string status = s.take("status", "down");
    if (status == "up") {
      b.run(v, on);
    } else if (status != "down") {
      s.fail("status must be up or down");
    }
  } else if (s.kind == "disk") {
    StorageDomain& sd = lookup(inv.storageDomains, s, "storagedomain", "storage domain");
    Vm* v = lookupOptional(inv.vms, s, "vm", "VM");
    Disk& d = b.disk(s.name, sd, s.number("size", 10 * kGiB), pinned);
    d.description = description;
    d.actualSize = s.number("actual_size", d.actualSize);
    d.format = s.take("format", d.format);
    d.sparse = s.flag("sparse", d.sparse);
    d.shareable = s.flag("shareable", d.shareable);
    d.status = s.take("status", d.status);
    std::string interface = s.take("interface", "virtio");
    bool bootable = s.flag("bootable", false), active = s.flag("active", true);
    bool readOnly = s.flag("read_only", false);
    if (v) b.attach(*v, d, interface, bootable, active).readOnly = readOnly;
  } else if (s.kind == "nic") {
    Vm& v = lookup(inv.vms, s, "vm", "VM");
    VnicProfile* p = lookupOptional(inv.vnicProfiles, s, "profile", "vNIC profile");
    b.nic(v, s.name, p).interface = s.take("interface", "virtio");
  } else if (s.kind == "snapshot") {
    Vm& v = lookup(inv.vms, s, "vm", "VM");
    b.snapshot(v, s.name, pinned).status = s.take("status", "ok");
  } else {
    s.fail("unknown kind '" + s.kind + "'");
  }
  s.finish();
}

}  // namespace

Inventory loadSeed(const std::string& text, bool v3) {
  Inventory inv;
  Builder builder(inv, v3);
  std::istringstream in(text);
  std::string raw;
  Section current;
  bool open = false;
  int lineNo = 0;
  auto flush = [&] {
    if (open) apply(inv, builder, current);
    open = false;
  };
  while (std::getline(in, raw)) {
    ++lineNo;
    std::string line = trimmed(raw);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[') {
      flush();
      if (line.back() != ']')
        throw SeedError("seed line " + std::to_string(lineNo) + ": missing ']'");
      std::string inner = trimmed(line.substr(1, line.size() - 2));
      size_t blank = inner.find(' ');
      Section s;
      s.kind = inner.substr(0, blank);
      s.name = blank == std::string::npos ? std::string() : trimmed(inner.substr(blank + 1));
      s.line = lineNo;
      if (s.name.empty()) s.fail("needs a name");
      current = std::move(s);
      open = true;
      continue;
    }
    size_t eq = line.find('=');
    if (!open || eq == std::string::npos) {
      throw SeedError("seed line " + std::to_string(lineNo) +
                      ": expected [kind name] or key = value");
    }
    current.keys[trimmed(line.substr(0, eq))] = {trimmed(line.substr(eq + 1)), lineNo};
  }
  flush();
  return inv;
}

Inventory loadSeedFile(const std::string& path, bool v3) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SeedError("cannot read seed file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return loadSeed(text.str(), v3);
}

Inventory generateInventory(const GenerateOptions& o, bool v3) {
  Inventory inv;
  Builder b(inv, v3);
  inv.vms.reserve(o.vms + 1);
  inv.disks.reserve(static_cast<size_t>(o.vms) * o.disksPerVm + 16);
  std::vector<Cluster*> clusters;
  std::vector<std::vector<StorageDomain*>> domainsOf;  // per cluster: its data center's domains
  std::vector<VnicProfile*> profileOf;                 // per cluster
  std::vector<Tag*> tags;
  for (unsigned t = 1; t <= o.tags; ++t) tags.push_back(&b.tag("tag" + std::to_string(t), ""));
  for (unsigned d = 1; d <= std::max(1u, o.dataCenters); ++d) {
    std::string dcName = "dc" + std::to_string(d);
    DataCenter& dc = b.dataCenter(dcName);
    Network& net = b.network("ovirtmgmt", dc);
    VnicProfile& profile = b.profile("ovirtmgmt", net);
    std::vector<StorageDomain*> domains;
    for (unsigned s = 1; s <= std::max(1u, o.storageDomainsPerDataCenter); ++s) {
      domains.push_back(&b.domain(dcName + "-data" + std::to_string(s), &dc, true));
    }
    for (unsigned c = 1; c <= std::max(1u, o.clustersPerDataCenter); ++c) {
      std::string clusterName = dcName + "-cluster" + std::to_string(c);
      Cluster& cluster = b.cluster(clusterName, dc);
      for (unsigned h = 1; h <= std::max(1u, o.hostsPerCluster); ++h) {
        b.host(clusterName + "-host" + std::to_string(h), cluster);
      }
      clusters.push_back(&cluster);
      domainsOf.push_back(domains);
      profileOf.push_back(&profile);
    }
  }
  size_t width = std::to_string(std::max(1u, o.vms)).size();
  if (width < 5) width = 5;
  for (unsigned i = 1; i <= o.vms; ++i) {
    std::string number = std::to_string(i);
    std::string name = "vm" + std::string(width - number.size(), '0') + number;
    size_t c = (i - 1) % clusters.size();
    Vm& vm = b.vm(name, *clusters[c]);
    vm.memory = 2 * kGiB;
    vm.osType = "rhel_7x64";
    if (!tags.empty() && i % 3 == 0) vm.tagIds.push_back(tags[i % tags.size()]->id);
    const std::vector<StorageDomain*>& domains = domainsOf[c];
    for (unsigned k = 1; k <= o.disksPerVm; ++k) {
      Disk& disk =
          b.disk(name + "_Disk" + std::to_string(k), *domains[(i + k) % domains.size()], 10 * kGiB);
      b.attach(vm, disk, "virtio", k == 1, true);
    }
    for (unsigned n = 1; n <= o.nicsPerVm; ++n) b.nic(vm, "nic" + std::to_string(n), profileOf[c]);
    for (unsigned s = 1; s <= o.snapshotsPerVm; ++s)
      b.snapshot(vm, name + "-snap" + std::to_string(s));
    if (o.upEvery && i % o.upEvery == 0) b.run(vm, nullptr);
  }
  if (!o.proxyVm.empty()) {
    Vm& proxy = b.vm(o.proxyVm, *clusters.front());
    Disk& boot = b.disk(o.proxyVm + "_Disk1", *domainsOf.front().front(), 20 * kGiB);
    b.attach(proxy, boot, "virtio", true, true);
    b.nic(proxy, "nic1", profileOf.front());
    b.run(proxy, nullptr);
  }
  return inv;
}

}  // namespace hvsim
