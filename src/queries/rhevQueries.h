// Read-only lookups by id, exact name, search and link. Each query sends one GET (the
// logical-name wait sends several) and hands the body to the parser; nothing is cached.
#pragma once

#include <string>
#include <vector>

#include "host/kwDebug.h"
#include "hypervale/records.h"
#include "queries/lookup.h"

namespace Hypervale {

class TzRhevConnection;
struct FollowedDisk;
struct FollowedVm;
class TzRhevParser;
template <typename Record>
struct LookupKind;

class TzRhevQueries : public KwDebug {
 public:
  TzRhevQueries(TzRhevConnection* connection, TzRhevParser* parser);
  ~TzRhevQueries() override;
  TzRhevQueries(const TzRhevQueries&) = delete;
  TzRhevQueries& operator=(const TzRhevQueries&) = delete;

  // The API root alone, as connect reads it.
  bool getAPIInfo(SAPIInfoLib& apiInfo);

  // Data centers.
  bool getDataCenterInfo(const std::string& name, const std::string& id, SDataCenterInfoLib& dc,
                         UINT64 detailFlags);
  bool getDataCenterInfoList(std::vector<SDataCenterInfoLib>& list, UINT64 detailFlags);
  bool getDataCenterInfoListFromLink(const std::string& link, std::vector<SDataCenterInfoLib>& list,
                                     UINT64 detailFlags);
  bool getDataCenterInfoFromLink(const std::string& link, SDataCenterInfoLib& dc,
                                 UINT64 detailFlags);

  // Clusters.
  bool getClusterInfo(const std::string& name, const std::string& id, SClusterInfoLib& cluster,
                      UINT64 detailFlags);
  bool getClusterInfoList(std::vector<SClusterInfoLib>& list, UINT64 detailFlags);
  bool getClusterInfoListForDataCenter(const std::string& dataCenter,
                                       std::vector<SClusterInfoLib>& list, UINT64 detailFlags);
  bool getClusterInfoListFromLink(const std::string& link, std::vector<SClusterInfoLib>& list,
                                  UINT64 detailFlags);
  bool getClusterInfoFromLink(const std::string& link, SClusterInfoLib& cluster,
                              UINT64 detailFlags);

  // Hosts.
  bool getHostInfo(const std::string& name, const std::string& id, SHostInfoLib& host,
                   UINT64 detailFlags);
  bool getHostInfoList(std::vector<SHostInfoLib>& list, UINT64 detailFlags);
  bool getHostInfoListForCluster(const std::string& cluster, std::vector<SHostInfoLib>& list,
                                 UINT64 detailFlags);
  bool getHostInfoListForTag(const STagInfoLib& tag, std::vector<SHostInfoLib>& list,
                             UINT64 detailFlags);
  bool getHostInfoListFromLink(const std::string& link, std::vector<SHostInfoLib>& list,
                               UINT64 detailFlags);
  bool getHostInfoFromLink(const std::string& link, SHostInfoLib& host, UINT64 detailFlags);

  // Virtual machines.
  bool getVMInfo(const std::string& name, const std::string& id, SVMInfoLib& vm,
                 UINT64 detailFlags);
  bool getVMInfoList(std::vector<SVMInfoLib>& list, UINT64 detailFlags);
  bool getVMInfoListForCluster(const std::string& cluster, std::vector<SVMInfoLib>& list,
                               UINT64 detailFlags);
  bool getVMInfoListForTag(const STagInfoLib& tag, std::vector<SVMInfoLib>& list,
                           UINT64 detailFlags);
  bool getVMInfoListFromLink(const std::string& link, std::vector<SVMInfoLib>& list,
                             UINT64 detailFlags);
  bool getVMInfoFromLink(const std::string& link, SVMInfoLib& vm, UINT64 detailFlags);
  // The VMs of `link` (a VM list or search), or one VM, with the objects `follow` names inline.
  bool getFollowedVMInfoListFromLink(const std::string& link, const char* follow,
                                     std::vector<FollowedVm>& list);
  bool getFollowedVMInfo(const std::string& name, const std::string& id, const char* follow,
                         FollowedVm& vm);
  // A VM's attachment of a disk with the disk inline; false, without an error line, when the
  // read fails, so that the caller's reads one at a time decide and report.
  bool getFollowedDiskAttachment(const std::string& vmId, const std::string& diskId,
                                 FollowedDisk& attached);

  // Storage domains.
  bool getStorageDomainInfo(const std::string& name, const std::string& id,
                            SStorageDomainInfoLib& domain, UINT64 detailFlags);
  bool getStorageDomainInfoList(std::vector<SStorageDomainInfoLib>& list, UINT64 detailFlags);
  bool getStorageDomainInfoListFromLink(const std::string& link,
                                        std::vector<SStorageDomainInfoLib>& list,
                                        UINT64 detailFlags);
  bool getStorageDomainInfoFromLink(const std::string& link, SStorageDomainInfoLib& domain,
                                    UINT64 detailFlags);
  bool getStorageDomainStatus(const std::string& dataCenterName,
                              const std::string& storageDomainName,
                              const std::string& storageDomainId, std::string& status);
  // The status of a domain read outside any data center: its own when it is in no data
  // center, else its status in the one data center it is attached to.
  bool getStorageDomainStatusOf(const SStorageDomainInfoLib& domain, std::string& status);

  // Three-way reads, for callers that must tell a resource the engine does not have from a
  // failed request. FetchLink GETs `link`; `body` keeps the answer (with `reportErrors`, also an
  // error's body). FetchRecord then parses the body into `out`.
  Lookup FetchLink(const std::string& link, std::string& body, bool reportErrors,
                   const std::string& extraHeader = std::string());
  template <typename Out>
  Lookup FetchRecord(const std::string& link, std::string& body, Out& out,
                     bool (TzRhevParser::*parse)(const std::string&, Out&), bool reportErrors);
  // By id, or by exact name among the engine's search answer. kNotFound (a 404 by id, no exact
  // name in the search) is an answer, not an error, and is not logged.
  Lookup findVM(const std::string& name, const std::string& id, SVMInfoLib& vm);
  Lookup findStorageDomain(const std::string& name, const std::string& id,
                           SStorageDomainInfoLib& domain);

  // Raw access.
  bool getFromLink(const std::string& link, std::string& response, bool reportErrors);
  bool checkExistence(const std::string& link);
  // A GET that asks for all of the resource's content: engines leave a snapshot's VM
  // configuration (its OVF) out of the answer otherwise.
  bool getAllContentFromLink(const std::string& link, std::string& response, bool reportErrors);

  // Disks, attachments and snapshots.
  bool getDiskInfo(const std::string& diskId, SDiskInfoLib& disk, UINT64 detailFlags);
  bool getDiskInfoListForVM(const std::string& vmId, std::vector<SDiskInfoLib>& list,
                            UINT64 detailFlags);
  bool getDiskInfoListForSnapshot(const std::string& vmId, const std::string& snapshotId,
                                  std::vector<SDiskInfoLib>& list, UINT64 detailFlags);
  bool getDiskInfoListFromLink(const std::string& link, std::vector<SDiskInfoLib>& list,
                               UINT64 detailFlags);
  bool getDiskInfoFromLink(const std::string& link, SDiskInfoLib& disk, UINT64 detailFlags);
  bool getDiskAttachmentInfoListForVM(const std::string& vmId,
                                      std::vector<SDiskAttachmentInfoLib>& list,
                                      UINT64 detailFlags);
  bool getDiskAttachmentInfoForVM(const std::string& vmId, const std::string& diskId,
                                  SDiskAttachmentInfoLib& attachment, UINT64 detailFlags);
  bool getDiskAttachmentInfoFromLink(const std::string& link, SDiskAttachmentInfoLib& attachment,
                                     UINT64 detailFlags);
  bool getDiskAttachmentInfoListFromLink(const std::string& link,
                                         std::vector<SDiskAttachmentInfoLib>& list,
                                         UINT64 detailFlags);
  bool getSnapshotInfoList(const std::string& vmId, std::vector<SSnapshotInfoLib>& list,
                           UINT64 detailFlags);
  bool getSnapshotInfoListFromLink(const std::string& link, std::vector<SSnapshotInfoLib>& list,
                                   UINT64 detailFlags);
  bool getSnapshotInfo(const std::string& vmId, SSnapshotInfoLib& snapshot, UINT64 detailFlags);
  // Waits (up to 15 tries with a growing back-off) for the disk's logical name in the guest;
  // only a name read during this call counts.
  bool getDiskInfoFromVMInfo(const std::string& vmId, const std::string& diskId, SDiskInfoLib& disk,
                             UINT64 detailFlags);

  // Jobs, tags, networks and vNIC profiles.
  bool getJobInfo(const std::string& jobId, SJobInfoLib& job, UINT64 detailFlags);
  bool getTagInfo(const std::string& tagId, STagInfoLib& tag);
  bool getTagInfoList(std::vector<STagInfoLib>& list);
  bool getNetworkInfoList(const std::string& dataCenterId, std::vector<SNetworkInfoLib>& list,
                          UINT64 detailFlags);
  bool getNetworkInfoListFromLink(const std::string& link, std::vector<SNetworkInfoLib>& list,
                                  UINT64 detailFlags);
  bool getVnicProfileInfoList(std::vector<SVnicProfileInfoLib>& list, UINT64 detailFlags);
  bool getVnicProfileInfoListFromLink(const std::string& link,
                                      std::vector<SVnicProfileInfoLib>& list);

 private:
  // GET the link with error reporting on and parse the body with `parse`.
  template <typename Out>
  bool FetchAndParse(const std::string& link, Out& out,
                     bool (TzRhevParser::*parse)(const std::string&, Out&));
  // One VM read from `link`; a failure logged as the VM getters always have.
  template <typename Out>
  bool ReadVM(const std::string& link, Out& out,
              bool (TzRhevParser::*parse)(const std::string&, Out&));
  // One read of a VM's disk, through the VM's "disks" sub-collection or, once the engine has
  // shown it has none, through the VM's attachment of the disk.
  bool ReadDiskOfVM(const std::string& vmId, const std::string& diskId, bool& viaAttachment,
                    SDiskInfoLib& disk);
  // The lookups of the getters: by id through the kind's read of one record, else FindByName
  // with absence as an error.
  template <typename Record>
  bool LookupByNameOrId(const LookupKind<Record>& kind, const std::string& name,
                        const std::string& id, Record& out, UINT64 detailFlags);
  // The three-way lookup: by id, else FindByName with absence as an answer.
  template <typename Record>
  Lookup FindByNameOrId(const LookupKind<Record>& kind, const std::string& name,
                        const std::string& id, Record& out);
  // The record of exactly `name` among the engine's search answer; several are a failure.
  // With `absenceIsError` it logs as the getters always have, absence included.
  template <typename Record>
  Lookup FindByName(const LookupKind<Record>& kind, const std::string& name, Record& out,
                    bool absenceIsError, const char* follow = nullptr);

  TzRhevConnection* connection;
  TzRhevParser* parser;
};

}  // namespace Hypervale
