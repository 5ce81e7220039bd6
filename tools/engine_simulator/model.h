// The simulated engine's inventory: plain records of the simulator's own. Relations are ids;
// names are unique per kind only where the engine enforces it (VMs, storage domains).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace hvsim {

using WallClock = std::chrono::system_clock;

struct DataCenter {
  std::string id, name, description;
  std::string status = "up";
  std::string storageFormat = "v4";
  unsigned versionMajor = 4, versionMinor = 1;
};

struct Cluster {
  std::string id, name, description;
  std::string dataCenterId;
  std::string cpuType = "Intel Westmere Family";
  unsigned versionMajor = 4, versionMinor = 1;
};

struct Host {
  std::string id, name, description;
  std::string clusterId;
  std::string address;
  std::string status = "up";
  std::string cpuName = "Intel Xeon Processor (Skylake)";
  unsigned cpuSpeed = 2100, sockets = 2, cores = 4, threads = 1;
  uint64_t memory = 16654532608ull;
  uint64_t maxSchedulingMemory = 16249782272ull;
  std::string osType = "RHEL";
  std::string osVersion = "7.6 - 4.el7";
  std::string manufacturer = "Red Hat";
  std::string productName = "RHEV Hypervisor";
  std::vector<std::string> tagIds;
};

struct Network {
  std::string id, name, description;
  std::string dataCenterId;
  std::vector<std::string> clusterIds;  // the clusters it is attached to; empty: all of its DC
};

struct VnicProfile {
  std::string id, name, description;
  std::string networkId;
};

struct Tag {
  std::string id, name, description;
  std::string parentId;  // empty only for the root tag
};

struct StorageDomain {
  std::string id, name, description;
  std::string type = "data";  // data, iso, export
  std::string storageType = "nfs";
  std::string address, path;
  std::string storageFormat = "v4";
  uint64_t available = 187904819200ull, used = 19327352832ull, committed = 1073741824ull;
  std::string status = "unattached";  // own status, shown while not attached: locked, unattached
  std::string dataCenterId;           // empty: not attached
  std::string dataCenterStatus;       // status within the data center: active, maintenance, ...
  bool master = false;
};

struct Disk {
  std::string id, name, description;
  std::string imageId;
  std::string storageDomainId;
  uint64_t provisionedSize = 10737418240ull;
  uint64_t actualSize = 1073741824ull;
  std::string status = "ok";  // ok, locked, illegal
  std::string format = "cow";
  bool sparse = true, shareable = false, wipeAfterDelete = false;
  std::string storageType = "image";
  std::string creationId;  // id of its creation status
  bool creationFailed = false;
};

// A disk plugged into a VM; its id is the disk's id. With snapshotId set it is the disk as
// that snapshot holds it (the backup proxy's view).
struct DiskAttachment {
  std::string diskId;
  std::string snapshotId;
  std::string interface = "virtio";
  bool bootable = false, active = true, readOnly = false;
  bool logicalNameReady = false;  // the guest has reported the device
  std::string logicalName;        // assigned when ready
};

// A disk as a snapshot holds it.
struct SnapshotImage {
  std::string diskId, imageId, storageDomainId, name, format;
  uint64_t provisionedSize = 0, actualSize = 0;
  bool sparse = true;
};

struct Snapshot {
  std::string id, description;
  std::string type = "regular";  // active, regular
  std::string status = "ok";     // ok, locked, in_preview
  WallClock::time_point date;
  bool persistMemory = false;
  std::string ovf;  // configuration of the VM when it was taken
  std::vector<SnapshotImage> images;
};

struct Nic {
  std::string id, name;
  std::string interface = "virtio";
  std::string mac;
  std::string vnicProfileId;
  bool plugged = true, linked = true;
};

struct Vm {
  std::string id, name, description;
  std::string clusterId;
  std::string hostId;  // while running
  std::string status = "down";
  uint64_t memory = 1073741824ull;
  unsigned sockets = 1, cores = 1, threads = 1;
  std::string osType = "other_linux";
  std::string type = "server";
  std::string templateId = "00000000-0000-0000-0000-000000000000";
  bool guestAgent = true;  // reports fqdn and disk device names while up
  std::string fqdn;
  std::string ovf;         // configuration given at creation, if any
  std::string creationId;  // id of its creation status
  WallClock::time_point creationTime;
  WallClock::time_point startTime;  // of the run it is in
  std::vector<std::string> tagIds;
  std::vector<DiskAttachment> attachments;
  std::vector<Snapshot> snapshots;  // the "Active VM" snapshot first
  std::vector<Nic> nics;
};

struct Job {
  std::string id, description;
  std::string status = "started";  // started, finished, failed, aborted (v3: upper case)
  std::string correlationId;
  WallClock::time_point startTime, endTime, lastUpdated;
};

}  // namespace hvsim
