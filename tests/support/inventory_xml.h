// Small engine bodies in the v4 form, for scripting an inventory on the test engine.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

namespace hvtest {

using Links = std::initializer_list<std::pair<const char*, std::string>>;  // rel, href

std::string ListXml(const std::string& listName, std::initializer_list<std::string> items);

std::string DataCenterXml(const std::string& id, const std::string& name);
std::string ClusterXml(const std::string& id, const std::string& name, const std::string& dcId);
std::string HostXml(const std::string& id, const std::string& name, const std::string& clusterId);
// `hostId` may be empty (a VM that is down); `links` such as "disks", "diskattachments",
// "snapshots" are written as the engine writes them.
std::string VmXml(const std::string& id, const std::string& name, const std::string& hostId,
                  const std::string& clusterId, Links links = {});
std::string StorageDomainXml(const std::string& id, const std::string& name, Links links = {},
                             const std::string& status = "");
std::string DiskXml(const std::string& id, const std::string& name,
                    const std::string& storageDomainId, const std::string& logicalName = "");
std::string AttachmentXml(const std::string& diskId, const std::string& interface, bool bootable,
                          bool active);
std::string SnapshotXml(const std::string& id, const std::string& type, const std::string& status);
std::string NetworkXml(const std::string& id, const std::string& name);
std::string VnicProfileXml(const std::string& id, const std::string& name,
                           const std::string& networkId);
std::string TagXml(const std::string& id, const std::string& name);

// Engine href of a collection member, e.g. Href("vms", "1") = "/ovirt-engine/api/vms/1".
std::string Href(const std::string& collection, const std::string& id);

}  // namespace hvtest
