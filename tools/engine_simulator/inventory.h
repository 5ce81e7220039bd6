// The store of the simulated engine's records, with id lookup, ordered listing and the
// relations the answers need.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine_simulator/model.h"

namespace hvsim {

// Records in insertion order with an id index. Records never move in memory while listed.
template <class T>
class Table {
 public:
  T& add(T item) {
    auto owned = std::make_unique<T>(std::move(item));
    T& ref = *owned;
    index_[ref.id] = &ref;
    items_.push_back(std::move(owned));
    return ref;
  }
  T* find(const std::string& id) const {
    auto it = index_.find(id);
    return it == index_.end() ? nullptr : it->second;
  }
  // First record with exactly this name.
  T* findByName(const std::string& name) const {
    for (const auto& item : items_) {
      if (item->name == name) return item.get();
    }
    return nullptr;
  }
  bool remove(const std::string& id) {
    if (index_.erase(id) == 0) return false;
    for (auto it = items_.begin(); it != items_.end(); ++it) {
      if ((*it)->id == id) {
        items_.erase(it);
        break;
      }
    }
    return true;
  }
  const std::vector<std::unique_ptr<T>>& items() const { return items_; }
  size_t size() const { return items_.size(); }
  void reserve(size_t n) {
    items_.reserve(n);
    index_.reserve(n);
  }

 private:
  std::vector<std::unique_ptr<T>> items_;
  std::unordered_map<std::string, T*> index_;
};

enum class IdKind : uint32_t {
  DataCenter = 1,
  Cluster,
  Host,
  StorageDomain,
  Network,
  VnicProfile,
  Tag,
  Vm,
  Disk,
  Image,
  Snapshot,
  Nic,
  Job,
  Creation,
};

class Inventory {
 public:
  static constexpr const char* kRootTagId = "00000000-0000-0000-0000-000000000000";
  static constexpr const char* kBlankTemplateId = "00000000-0000-0000-0000-000000000000";

  Inventory();

  Table<DataCenter> dataCenters;
  Table<Cluster> clusters;
  Table<Host> hosts;
  Table<StorageDomain> storageDomains;
  Table<Network> networks;
  Table<VnicProfile> vnicProfiles;
  Table<Tag> tags;  // holds the root tag
  Table<Vm> vms;
  Table<Disk> disks;
  Table<Job> jobs;

  // Deterministic GUID-shaped ids: the kind in the first group, a counter in the last.
  std::string newId(IdKind kind);
  std::string newMac();

  // The VM that owns a snapshot with this id, or null.
  Vm* vmOfSnapshot(const std::string& snapshotId) const;
  static Snapshot* findSnapshot(Vm& vm, const std::string& snapshotId);
  static DiskAttachment* findAttachment(Vm& vm, const std::string& diskId);
  // VMs that have the disk itself (not a snapshot of it) attached.
  std::vector<Vm*> vmsUsingDisk(const std::string& diskId) const;
  // For every disk some VM uses (not a snapshot of it): the first such attachment.
  std::unordered_map<std::string, const DiskAttachment*> firstUses() const;
  std::vector<Disk*> disksOnDomain(const std::string& storageDomainId) const;
  // The device name the guest will give the next disk plugged on this interface.
  static std::string nextLogicalName(const Vm& vm, const std::string& interface);
  // The bytes a disk uses: its own image and the images its VMs' snapshots keep of it.
  uint64_t totalSize(const Disk& disk) const;
  // Whether a VM of the cluster may use the network (it belongs to the cluster's data center
  // and, when it names clusters, to this one).
  bool networkInCluster(const Network& network, const Cluster& cluster) const;
  // Removes a disk, every attachment of it and the images snapshots keep of it.
  void removeDisk(const std::string& diskId);
  // Removes a VM, the disks only it used and every attachment of them elsewhere.
  void removeVm(const std::string& vmId);

 private:
  uint64_t counter_ = 0;
  uint64_t macCounter_ = 0;
};

}  // namespace hvsim
