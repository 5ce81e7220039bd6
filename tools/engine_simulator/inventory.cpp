#include "engine_simulator/inventory.h"

#include <algorithm>
#include <cstdio>

namespace hvsim {

Inventory::Inventory() {
  Tag root;
  root.id = kRootTagId;
  root.name = "root";
  root.description = "root";
  tags.add(root);
}

std::string Inventory::newId(IdKind kind) {
  char text[40];
  uint32_t first = static_cast<uint32_t>(kind) * 0x11111111u;
  std::snprintf(text, sizeof text, "%08x-0000-4000-a000-%012llx", first,
                static_cast<unsigned long long>(++counter_));
  return text;
}

std::string Inventory::newMac() {
  uint64_t n = ++macCounter_;
  char text[24];
  std::snprintf(text, sizeof text, "00:1a:4a:%02x:%02x:%02x",
                static_cast<unsigned>((n >> 16) & 0xff), static_cast<unsigned>((n >> 8) & 0xff),
                static_cast<unsigned>(n & 0xff));
  return text;
}

Vm* Inventory::vmOfSnapshot(const std::string& snapshotId) const {
  for (const auto& vm : vms.items()) {
    if (findSnapshot(*vm, snapshotId)) return vm.get();
  }
  return nullptr;
}

Snapshot* Inventory::findSnapshot(Vm& vm, const std::string& snapshotId) {
  for (Snapshot& s : vm.snapshots) {
    if (s.id == snapshotId) return &s;
  }
  return nullptr;
}

DiskAttachment* Inventory::findAttachment(Vm& vm, const std::string& diskId) {
  for (DiskAttachment& a : vm.attachments) {
    if (a.diskId == diskId) return &a;
  }
  return nullptr;
}

std::vector<Vm*> Inventory::vmsUsingDisk(const std::string& diskId) const {
  std::vector<Vm*> out;
  for (const auto& vm : vms.items()) {
    for (const DiskAttachment& a : vm->attachments) {
      if (a.diskId == diskId && a.snapshotId.empty()) {
        out.push_back(vm.get());
        break;
      }
    }
  }
  return out;
}

std::unordered_map<std::string, const DiskAttachment*> Inventory::firstUses() const {
  std::unordered_map<std::string, const DiskAttachment*> uses;
  for (const auto& vm : vms.items()) {
    for (const DiskAttachment& a : vm->attachments) {
      if (a.snapshotId.empty()) uses.emplace(a.diskId, &a);
    }
  }
  return uses;
}

std::vector<Disk*> Inventory::disksOnDomain(const std::string& storageDomainId) const {
  std::vector<Disk*> out;
  for (const auto& disk : disks.items()) {
    if (disk->storageDomainId == storageDomainId) out.push_back(disk.get());
  }
  return out;
}

std::string Inventory::nextLogicalName(const Vm& vm, const std::string& interface) {
  // The guest names devices in plug order: /dev/vda, /dev/vdb, ... (/dev/sdX off virtio).
  std::string prefix = interface == "virtio" ? "/dev/vd" : "/dev/sd";
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    std::string candidate = prefix + letter;
    bool used = std::any_of(vm.attachments.begin(), vm.attachments.end(),
                            [&](const DiskAttachment& a) { return a.logicalName == candidate; });
    if (!used) return candidate;
  }
  return prefix + "zz";
}

uint64_t Inventory::totalSize(const Disk& disk) const {
  uint64_t total = disk.actualSize;
  for (const auto& vm : vms.items()) {
    for (const Snapshot& snapshot : vm->snapshots) {
      for (const SnapshotImage& image : snapshot.images) {
        if (image.diskId == disk.id) total += image.actualSize;
      }
    }
  }
  return total;
}

bool Inventory::networkInCluster(const Network& network, const Cluster& cluster) const {
  if (network.dataCenterId != cluster.dataCenterId) return false;
  const auto& named = network.clusterIds;
  return named.empty() || std::find(named.begin(), named.end(), cluster.id) != named.end();
}

void Inventory::removeDisk(const std::string& diskId) {
  for (const auto& vm : vms.items()) {
    auto& list = vm->attachments;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const DiskAttachment& a) { return a.diskId == diskId; }),
               list.end());
    for (Snapshot& snapshot : vm->snapshots) {
      auto& images = snapshot.images;
      images.erase(std::remove_if(images.begin(), images.end(),
                                  [&](const SnapshotImage& i) { return i.diskId == diskId; }),
                   images.end());
    }
  }
  disks.remove(diskId);
}

void Inventory::removeVm(const std::string& vmId) {
  Vm* vm = vms.find(vmId);
  if (!vm) return;
  std::vector<std::string> owned;
  for (const DiskAttachment& a : vm->attachments) {
    if (a.snapshotId.empty() && vmsUsingDisk(a.diskId).size() == 1) owned.push_back(a.diskId);
  }
  // Snapshot disks of this VM plugged into other VMs (backup proxies) lose their source.
  for (const Snapshot& s : vm->snapshots) {
    for (const auto& other : vms.items()) {
      auto& list = other->attachments;
      list.erase(std::remove_if(list.begin(), list.end(),
                                [&](const DiskAttachment& a) { return a.snapshotId == s.id; }),
                 list.end());
    }
  }
  vms.remove(vmId);
  for (const std::string& diskId : owned) removeDisk(diskId);
}

}  // namespace hvsim
