// TzHypervale: the one class a backup agent uses to drive the engine.
//
// Create one per engine, connect it, then call its typed members from one thread at a
// time. Every member that talks to the engine returns true on success; after a failure
// getLastError() holds the engine's fault text, when it sent one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hypervale/export.h"
#include "hypervale/host.h"
#include "hypervale/kwDebug.h"
#include "hypervale/records.h"

namespace Hypervale {

class TzRhevConnection;
class TzRhevParser;
class TzRhevQueries;
class TzRhevOperations;
class TzRhevNameCache;
struct FollowedDetails;

class HYPERVALE_API TzHypervale : public KwEvent {
 public:
  TzHypervale();
  ~TzHypervale() override;
  TzHypervale(const TzHypervale&) = delete;
  TzHypervale& operator=(const TzHypervale&) = delete;

  // Lifecycle, connection and errors.
  bool connect(const std::string& server, const std::string& user, const std::string& password);
  bool checkConnection();
  std::string getLastError();
  void EnableDebug();
  std::string getConnectionVersion();
  unsigned int getMajorVersion();
  // The engine's product version as major * 1000000 + minor * 1000 + build; 0 before connect.
  std::int32_t getSchemaVersion();
  // HTTP status of the last failed request (0 when it got no answer).
  std::int64_t getLastErrorCode();

  // Inventory. The last argument is the detail mask: which related objects to fetch (each
  // costs engine requests). Bits: 0 or 6 a VM's data center; 3 a VM's snapshots; 4 a VM's
  // disks; 25 a host's data center and storage domains; 26 a host's vNIC profiles; 29 a
  // host's VMs; 34 a storage domain's disks and the VMs using them; 48 a data center's
  // clusters; 49 a data center's storage domains; 52 a cluster's VMs; 53 a cluster's hosts.
  // Lookups take the name first and the id second; a non-empty id wins.
  bool getDataCenterInfo(const std::string& name, const std::string& id, SDataCenterInfoLib& dc,
                         UINT64 detailFlags);
  bool getDataCenterInfoList(std::vector<SDataCenterInfoLib>& list, UINT64 detailFlags);
  bool getClusterInfo(const std::string& name, const std::string& id, SClusterInfoLib& cluster,
                      UINT64 detailFlags);
  bool getClusterInfoList(std::vector<SClusterInfoLib>& list, UINT64 detailFlags);
  bool getHostInfo(const std::string& name, const std::string& id, SHostInfoLib& host,
                   UINT64 detailFlags);
  bool getHostInfoList(std::vector<SHostInfoLib>& list, UINT64 detailFlags);
  bool getVMInfo(const std::string& name, const std::string& id, SVMInfoLib& vm,
                 UINT64 detailFlags);
  bool getVMInfoList(std::vector<SVMInfoLib>& list, UINT64 detailFlags);
  bool getStorageDomainInfo(const std::string& name, const std::string& id,
                            SStorageDomainInfoLib& domain, UINT64 detailFlags);
  bool getStorageDomainInfoList(std::vector<SStorageDomainInfoLib>& list, UINT64 detailFlags);

  bool FillDataCenterInfoListDetails(std::vector<SDataCenterInfoLib>& list, UINT64 detailFlags);
  bool FillDataCenterInfoDetails(SDataCenterInfoLib& dc, UINT64 detailFlags);
  bool FillClusterInfoListDetails(std::vector<SClusterInfoLib>& list, UINT64 detailFlags);
  bool FillClusterInfoDetails(SClusterInfoLib& cluster, UINT64 detailFlags);
  bool FillHostInfoListDetails(std::vector<SHostInfoLib>& list, UINT64 detailFlags);
  bool FillHostInfoDetails(SHostInfoLib& host, UINT64 detailFlags);
  bool FillVMInfoListDetails(std::vector<SVMInfoLib>& list, UINT64 detailFlags);
  bool FillVMInfoDetails(SVMInfoLib& vm, UINT64 detailFlags);
  bool FillDiskInfoListDetails(std::vector<SDiskInfoLib>& list, UINT64 detailFlags);
  bool FillDiskInfoDetails(SDiskInfoLib& disk, UINT64 detailFlags);
  bool FillStorageDomainInfoListDetails(std::vector<SStorageDomainInfoLib>& list,
                                        UINT64 detailFlags);
  bool FillStorageDomainInfoDetails(SStorageDomainInfoLib& domain, UINT64 detailFlags);

  bool _FillHostInfoDetailsSetup(UINT64 detailFlags, std::vector<SVMInfoLib>& vms,
                                 std::vector<SDataCenterInfoLib>& dataCenters);
  bool _FillHostInfoDetails(SHostInfoLib& host, UINT64 detailFlags, std::vector<SVMInfoLib>& vms,
                            std::vector<SDataCenterInfoLib>& dataCenters);
  bool _FillVnicProfileInfoDetails(const std::string& dataCenterId,
                                   std::vector<SVnicProfileInfoLib>& profiles, UINT64 detailFlags);
  bool _FillVMInfoDetailsSetup(UINT64 detailFlags, std::vector<SDataCenterInfoLib>& dataCenters);
  bool _FillVMInfoDetails(SVMInfoLib& vm, UINT64 detailFlags,
                          std::vector<SDataCenterInfoLib>& dataCenters);
  bool _FillStorageDomainInfoDetails(SStorageDomainInfoLib& domain, UINT64 detailFlags,
                                     std::vector<SVMInfoLib>& vms);

  bool getJobInfo(const std::string& jobId, SJobInfoLib& job, UINT64 detailFlags);
  // `snapshot.id` names the snapshot; the answer is read into the same record.
  bool getSnapshotInfo(const std::string& vmId, SSnapshotInfoLib& snapshot, UINT64 detailFlags);
  // True against engines of API 4.0.0 and later.
  bool checkTagsSupported();
  bool getTagInfoList(std::vector<STagInfoLib>& list);
  // VMs carrying the tag directly, then the VMs running on hosts that carry it.
  bool getVMInfoListForTag(const std::string& tagName, const std::string& tagId,
                           std::vector<SVMInfoLib>& vms, UINT64 detailFlags);

  // Copies what an attachment says of its disk (interface, bootable, active) into the disk.
  void CopyDiskAttachmentInfoToDiskInfo(SDiskInfoLib& disk, SDiskAttachmentInfoLib& attachment);

  // VMs, snapshots and disks: backup and restore.
  // Waits until the engine reports the attached disk's device name inside the VM's guest.
  bool getLogicalDiskName(const std::string& vmId, const std::string& diskId, SDiskInfoLib& disk);
  bool getDiskInfo(const std::string& diskId, SDiskInfoLib& disk);
  // With `disk.snapshotId` set, the disk as that snapshot holds it.
  bool getDiskInfoForVM(const std::string& vmId, const std::string& diskId, SDiskInfoLib& disk);
  // Creates a VM from an OVF description; its template reference becomes the all-zero id.
  bool createVM(SVMInfoLib& vm, const std::string& ovf);
  bool createVM(SVMInfoLib& vm);
  bool deleteVM(const std::string& vmName, const std::string& vmId);
  // Refused while one of the VM's snapshots is locked; `ovf` receives the snapshot's OVF.
  bool createVMSnapshot(SVMInfoLib& vm, SSnapshotInfoLib& snapshot, std::string& ovf);
  bool createVMSnapshot(const std::string& vmName, const std::string& vmId,
                        const std::string& description, std::string& snapshotId);
  bool deleteVMSnapshot(const std::string& vmName, const std::string& vmId,
                        const std::string& snapshotId);
  // `conflict` is set when the engine refused with 409 (try again later).
  bool deleteVMSnapshot(const SVMInfoLib& vm, const SSnapshotInfoLib& snapshot, bool& conflict);
  bool attachDisk(const std::string& vmId, const SDiskInfoLib& disk, bool active, bool bootable,
                  bool readOnly);
  bool createDisk(SDiskInfoLib& disk);
  bool deleteDisk(SDiskInfoLib& disk);
  bool detachDisk(const std::string& vmId, const SDiskInfoLib& disk);
  // 0 stops the VM, 1 starts it; waits until the engine reports the state.
  bool changePowerState(SVMInfoLib& vm, int powerState);
  bool updateDisk(const std::string& vmId, const SDiskInfoLib& disk);
  bool checkVMExistence(const std::string& vmId);
  bool checkDiskExistence(const std::string& diskId);
  bool checkSnapshotExistence(const std::string& vmId, const std::string& snapshotId);
  bool isVMLocked(const std::string& vmId);
  bool IsDiskAttached(const std::string& vmId, const std::string& diskId);
  // Detaches from the proxy VM every disk of the snapshot that is still attached there.
  bool DetachSnappedDisksFromProxy(const std::string& proxyVmId, const std::string& vmId,
                                   const std::string& snapshotId);
  bool updateOVF(std::string& ovf);

  // Storage domains and NICs.
  bool createStorageDomain(SStorageDomainInfoLib& domain);
  // Destroys the domain only when it is established to be empty (OVF_STORE disks aside).
  bool deleteStorageDomain(SStorageDomainInfoLib& domain, bool& empty);
  bool DoesStorageDomainExist(const std::string& dataCenterName,
                              const std::string& storageDomainName, bool& exists, bool& active);
  bool IsStorageDomainEmpty(SStorageDomainInfoLib& domain, bool& empty, bool& exists);
  bool addNicToVM(const std::string& vmId, const std::string& vnicProfileName);

  // Disk migration.
  bool moveDisks(const std::string& vmId, const std::vector<SDiskInfoLib>& disks,
                 const std::string& targetDomainName, bool waitForSnapshots);
  bool CheckTaskProgress(const std::string& vmId, const std::string& sourceDomainName,
                         const std::string& targetDomainName,
                         const std::vector<SDiskInfoLib>& disks, bool unused, bool& completed,
                         bool& failed);
  bool CheckTaskProgressOfDisk(const std::string& diskName, const std::string& diskId,
                               const std::string& targetDomainName, bool& pending);

 private:
  enum class DiskPresence;  // attached, not attached, or unknown (the list could not be read)
  bool AttachedDiskIds(const std::string& vmId, std::vector<std::string>& diskIds);
  DiskPresence ReadDiskPresence(const std::string& vmId, const std::string& diskId);
  bool ReadAttachmentInto(const std::string& vmId, const std::string& diskId, SDiskInfoLib& disk);

  struct HostIndex;
  struct DataCenterIndex;
  bool FillHostIndexed(SHostInfoLib& host, UINT64 detailFlags, const HostIndex& vmsByHost,
                       const std::vector<SDataCenterInfoLib>& dataCenters,
                       const DataCenterIndex& dataCenterByCluster);
  bool FillVMIndexed(SVMInfoLib& vm, UINT64 detailFlags,
                     const std::vector<SDataCenterInfoLib>& dataCenters,
                     const DataCenterIndex& dataCenterByCluster,
                     FollowedDetails* inlined = nullptr);
  // Adds the disks of `attached` to the VM, reading each one the engine did not put inline.
  void AddAttachedDisks(SVMInfoLib& vm, FollowedDetails& attached, UINT64 detailFlags);
  // The links a VM read asks the engine to follow for the details of `detailFlags`; null
  // when the engine cannot (before 4.2, API v3) or the configuration says not to.
  const char* FollowForVMs(UINT64 detailFlags) const;
  // After a failed followed read: whether the engine refused to follow (a 400), logged; the
  // details are then to be read one request at a time.
  bool FollowRefused(const char* follow, const std::string& what);
  // Reads the VMs of `link` into `list` (after what it holds); with `follow`, what the engine
  // put inline for each new VM goes to `inlined`, in list order.
  bool ReadVMList(const std::string& link, const char* follow, std::vector<SVMInfoLib>& list,
                  std::vector<FollowedDetails>& inlined);
  // Fills the details of every VM in `list`; the last `inlined.size()` VMs from what the
  // engine put inline, as far as it did.
  bool FillVMListDetails(std::vector<SVMInfoLib>& list, UINT64 detailFlags,
                         std::vector<FollowedDetails>& inlined);

  // Declared in the order of construction: each worker is given those above it, and members
  // are destroyed in reverse, so no worker outlives what it points to.
  std::unique_ptr<TzRhevConnection> connection;
  std::unique_ptr<TzRhevParser> parser;
  std::unique_ptr<TzRhevQueries> queries;
  std::unique_ptr<TzRhevOperations> operations;
  std::unique_ptr<TzRhevNameCache> nameCache;
  SAPIInfoLib apiInfo;
};

}  // namespace Hypervale
