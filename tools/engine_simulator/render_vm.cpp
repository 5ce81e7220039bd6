// VMs, their NICs and snapshots.
#include "engine_simulator/render.h"

namespace hvsim {

namespace {

bool reportsGuest(const Vm& vm) { return vm.status == "up" && vm.guestAgent; }

}  // namespace

void Renderer::vm(XmlOut& x, const Vm& vm, const VmExtras& extras) const {
  std::string self = href("vms/" + vm.id);
  x.open("vm", {{"href", self}, {"id", vm.id}});
  x.open("actions");
  for (const char* rel :
       {"detach", "export", "migrate", "reboot", "shutdown", "start", "stop", "suspend"}) {
    x.linkUnder(self, rel);
  }
  x.close();
  x.leaf("name", vm.name);
  x.leaf("description", vm.description);
  if (extras.creationPending) pendingCreation(x, self, vm.creationId);
  std::string sockets = std::to_string(vm.sockets), cores = std::to_string(vm.cores),
              threads = std::to_string(vm.threads);
  std::string clusterHref = href("clusters/" + vm.clusterId);
  std::string templateHref = href("templates/" + vm.templateId);
  bool running = !vm.hostId.empty();
  if (v3()) {
    for (const char* rel : {"disks", "nics", "cdroms", "snapshots", "tags", "permissions",
                            "statistics", "reporteddevices"}) {
      x.linkUnder(self, rel);
    }
    x.leaf("type", vm.type);
    x.status("status", vm.status, true);
    x.leaf("memory", vm.memory);
    x.open("cpu");
    x.empty("topology", {{"sockets", sockets}, {"cores", cores}, {"threads", threads}});
    x.leaf("architecture", "X86_64");
    x.close();
    x.open("os", {{"type", vm.osType}}).empty("boot", {{"dev", "hd"}}).close();
    x.open("high_availability").flag("enabled", false).leaf("priority", 1).close();
    x.ref("cluster", clusterHref, vm.clusterId);
    x.ref("template", templateHref, vm.templateId);
    x.leaf("creation_time", isoTime(vm.creationTime));
    x.leaf("origin", "ovirt");
    x.flag("stateless", false);
    x.flag("delete_protected", false);
    if (running) x.ref("host", href("hosts/" + vm.hostId), vm.hostId);
    if (reportsGuest(vm) && !vm.fqdn.empty()) {
      x.open("guest_info").open("ips").empty("ip", {{"address", "192.168.1.10"}}).close();
      x.leaf("fqdn", vm.fqdn).close();
    }
    x.open("placement_policy").leaf("affinity", "migratable").close();
  } else {
    x.leaf("comment", "");
    for (const char* rel : {"diskattachments", "nics", "cdroms", "snapshots", "tags", "permissions",
                            "statistics", "reporteddevices", "graphicsconsoles"}) {
      x.linkUnder(self, rel);
    }
    x.open("cpu").leaf("architecture", "x86_64");
    x.open("topology").leaf("cores", cores).leaf("sockets", sockets).leaf("threads", threads);
    x.close().close();
    x.leaf("cpu_shares", 0);
    x.leaf("creation_time", isoTime(vm.creationTime));
    x.flag("delete_protected", false);
    if (reportsGuest(vm) && !vm.fqdn.empty()) {
      x.leaf("fqdn", vm.fqdn);
      x.open("guest_operating_system").leaf("architecture", "x86_64");
      x.leaf("distribution", "CentOS Linux");
      x.leaf("family", "Linux");
      x.open("version").leaf("full_version", "7.6.1810").leaf("major", 7).leaf("minor", 6);
      x.close().close();
    }
    x.open("high_availability").flag("enabled", false).leaf("priority", 1).close();
    x.leaf("memory", vm.memory);
    x.leaf("origin", "ovirt");
    x.open("os").open("boot").open("devices").leaf("device", "hd").close().close();
    x.leaf("type", vm.osType).close();
    x.open("placement_policy").leaf("affinity", "migratable").close();
    if (running) x.leaf("start_time", isoTime(vm.startTime));
    x.flag("stateless", false);
    x.leaf("type", vm.type);
    x.ref("cluster", clusterHref, vm.clusterId);
    x.leaf("status", vm.status);
    if (running) x.ref("host", href("hosts/" + vm.hostId), vm.hostId);
    x.ref("template", templateHref, vm.templateId);
  }
  const Follow& follow = extras.follow;
  if (follow.diskAttachments) {
    x.open("disk_attachments");
    for (const DiskAttachment& att : vm.attachments) {
      diskAttachment(x, vm, att, {follow.disks ? extras.inventory : nullptr, "", ""});
    }
    x.close();
  }
  if (follow.nics) {
    x.open("nics");
    for (const Nic& each : vm.nics) nic(x, vm, each);
    x.close();
  }
  if (follow.snapshots) {
    x.open("snapshots");
    for (const Snapshot& each : vm.snapshots) snapshot(x, vm, each, false);
    x.close();
  }
  x.close();
}

void Renderer::nic(XmlOut& x, const Vm& vm, const Nic& nic) const {
  std::string self = href("vms/" + vm.id + "/nics/" + nic.id);
  x.open("nic", {{"href", self}, {"id", nic.id}});
  x.open("actions").linkUnder(self, "activate").linkUnder(self, "deactivate");
  x.close();
  x.leaf("name", nic.name);
  x.linkUnder(self, "statistics");
  x.ref("vm", href("vms/" + vm.id), vm.id);
  std::string profileHref = href("vnicprofiles/" + nic.vnicProfileId);
  if (v3()) {
    x.flag("linked", nic.linked);
    x.leaf("interface", nic.interface);
    x.empty("mac", {{"address", nic.mac}});
    x.flag("active", nic.plugged);
    x.flag("plugged", nic.plugged);
    if (!nic.vnicProfileId.empty()) x.ref("vnic_profile", profileHref, nic.vnicProfileId);
  } else {
    x.leaf("interface", nic.interface);
    x.flag("linked", nic.linked);
    x.open("mac").leaf("address", nic.mac).close();
    x.flag("plugged", nic.plugged);
    if (!nic.vnicProfileId.empty()) x.ref("vnic_profile", profileHref, nic.vnicProfileId);
  }
  x.close();
}

void Renderer::snapshot(XmlOut& x, const Vm& vm, const Snapshot& snapshot, bool allContent) const {
  std::string self = href("vms/" + vm.id + "/snapshots/" + snapshot.id);
  x.open("snapshot", {{"href", self}, {"id", snapshot.id}});
  x.open("actions").linkUnder(self, "restore").close();
  x.leaf("description", snapshot.description);
  bool regular = snapshot.type != "active";
  if (regular) {
    for (const char* rel : {"cdroms", "disks", "nics"}) x.linkUnder(self, rel);
  }
  if (v3()) {
    x.leaf("type", snapshot.type);
    x.leaf("date", isoTime(snapshot.date));
    x.leaf("snapshot_status", snapshot.status);
    x.flag("persist_memorystate", snapshot.persistMemory);
    x.ref("vm", href("vms/" + vm.id), vm.id);
  } else {
    x.leaf("date", isoTime(snapshot.date));
    x.flag("persist_memorystate", snapshot.persistMemory);
    x.leaf("snapshot_status", snapshot.status);
    x.leaf("snapshot_type", snapshot.type);
    x.ref("vm", href("vms/" + vm.id), vm.id);
  }
  // The VM configuration at snapshot time, as an OVF document: left out unless the client asks
  // for all content, as the engine does.
  if (allContent && regular && !snapshot.ovf.empty()) {
    x.open("initialization").open("configuration");
    x.leaf("data", snapshot.ovf).leaf("type", "ovf");
    x.close().close();
  }
  x.close();
}

}  // namespace hvsim
