#include "support/inventory_xml.h"

namespace hvtest {
namespace {

std::string Open(const std::string& element, const std::string& collection, const std::string& id) {
  return "<" + element + " href=\"" + Href(collection, id) + "\" id=\"" + id + "\">";
}

std::string Reference(const std::string& element, const std::string& collection,
                      const std::string& id) {
  return "<" + element + " href=\"" + Href(collection, id) + "\" id=\"" + id + "\"/>";
}

std::string LinkLines(Links links) {
  std::string text;
  for (const auto& link : links) {
    text += "<link href=\"" + link.second + "\" rel=\"" + link.first + "\"/>";
  }
  return text;
}

}  // namespace

std::string Href(const std::string& collection, const std::string& id) {
  return "/ovirt-engine/api/" + collection + "/" + id;
}

std::string ListXml(const std::string& listName, std::initializer_list<std::string> items) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<" + listName + ">";
  for (const auto& item : items) text += "\n  " + item;
  return text + "\n</" + listName + ">";
}

std::string DataCenterXml(const std::string& id, const std::string& name) {
  const std::string self = Href("datacenters", id);
  return Open("data_center", "datacenters", id) + "<name>" + name + "</name>" +
         LinkLines(
             {{"storagedomains", self + "/storagedomains"}, {"clusters", self + "/clusters"}}) +
         "<status>up</status></data_center>";
}

std::string ClusterXml(const std::string& id, const std::string& name, const std::string& dcId) {
  return Open("cluster", "clusters", id) + "<name>" + name + "</name>" +
         Reference("data_center", "datacenters", dcId) + "</cluster>";
}

std::string HostXml(const std::string& id, const std::string& name, const std::string& clusterId) {
  return Open("host", "hosts", id) + "<name>" + name + "</name><address>" + name +
         ".example</address>" + Reference("cluster", "clusters", clusterId) +
         "<status>up</status></host>";
}

std::string VmXml(const std::string& id, const std::string& name, const std::string& hostId,
                  const std::string& clusterId, Links links) {
  std::string text = Open("vm", "vms", id) + "<name>" + name + "</name>" + LinkLines(links) +
                     "<status>" + (hostId.empty() ? "down" : "up") + "</status>" +
                     Reference("cluster", "clusters", clusterId);
  if (!hostId.empty()) text += Reference("host", "hosts", hostId);
  return text + "</vm>";
}

std::string StorageDomainXml(const std::string& id, const std::string& name, Links links,
                             const std::string& status) {
  std::string text = Open("storage_domain", "storagedomains", id) + "<name>" + name + "</name>" +
                     LinkLines(links) + "<type>data</type>";
  if (!status.empty()) text += "<status>" + status + "</status>";
  return text + "</storage_domain>";
}

std::string DiskXml(const std::string& id, const std::string& name,
                    const std::string& storageDomainId, const std::string& logicalName) {
  std::string text = Open("disk", "disks", id) + "<name>" + name + "</name>";
  if (!logicalName.empty()) text += "<logical_name>" + logicalName + "</logical_name>";
  return text + "<status>ok</status><storage_domains>" +
         Reference("storage_domain", "storagedomains", storageDomainId) +
         "</storage_domains></disk>";
}

std::string AttachmentXml(const std::string& diskId, const std::string& interface, bool bootable,
                          bool active) {
  return Open("disk_attachment", "vms/v/diskattachments", diskId) + "<active>" +
         (active ? "true" : "false") + "</active><bootable>" + (bootable ? "true" : "false") +
         "</bootable><interface>" + interface + "</interface>" +
         Reference("disk", "disks", diskId) + "</disk_attachment>";
}

std::string SnapshotXml(const std::string& id, const std::string& type, const std::string& status) {
  return Open("snapshot", "vms/v/snapshots", id) + "<description>" + type +
         " snapshot</description><snapshot_status>" + status + "</snapshot_status><snapshot_type>" +
         type + "</snapshot_type></snapshot>";
}

std::string NetworkXml(const std::string& id, const std::string& name) {
  return Open("network", "networks", id) + "<name>" + name + "</name></network>";
}

std::string VnicProfileXml(const std::string& id, const std::string& name,
                           const std::string& networkId) {
  return Open("vnic_profile", "vnicprofiles", id) + "<name>" + name + "</name>" +
         Reference("network", "networks", networkId) + "</vnic_profile>";
}

std::string TagXml(const std::string& id, const std::string& name) {
  return Open("tag", "tags", id) + "<name>" + name + "</name></tag>";
}

}  // namespace hvtest
