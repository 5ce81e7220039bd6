#include "support/inventory_xml.h"

namespace hvtest {
namespace {

// A member of a collection as the engine writes it: with its href and id, opened or
// (a reference to it) closed at once.
std::string Element(const std::string& element, const std::string& collection,
                    const std::string& id, bool closed = false) {
  return "<" + element + " href=\"" + Href(collection, id) + "\" id=\"" + id +
         (closed ? "\"/>" : "\">");
}

std::string Named(const std::string& element, const std::string& collection, const std::string& id,
                  const std::string& name) {
  return Element(element, collection, id) + "<name>" + name + "</name>";
}

std::string LinkLines(Links links) {
  std::string text;
  for (const auto& [rel, href] : links) text += "<link href=\"" + href + "\" rel=\"" + rel + "\"/>";
  return text;
}

std::string Flag(bool value) { return value ? "true" : "false"; }

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
  return Named("data_center", "datacenters", id, name) +
         LinkLines(
             {{"storagedomains", self + "/storagedomains"}, {"clusters", self + "/clusters"}}) +
         "<status>up</status></data_center>";
}

std::string ClusterXml(const std::string& id, const std::string& name, const std::string& dcId) {
  return Named("cluster", "clusters", id, name) +
         Element("data_center", "datacenters", dcId, true) + "</cluster>";
}

std::string HostXml(const std::string& id, const std::string& name, const std::string& clusterId) {
  return Named("host", "hosts", id, name) + "<address>" + name + ".example</address>" +
         Element("cluster", "clusters", clusterId, true) + "<status>up</status></host>";
}

std::string VmXml(const std::string& id, const std::string& name, const std::string& hostId,
                  const std::string& clusterId, Links links) {
  return Named("vm", "vms", id, name) + LinkLines(links) + "<status>" +
         (hostId.empty() ? "down" : "up") + "</status>" +
         Element("cluster", "clusters", clusterId, true) +
         (hostId.empty() ? "" : Element("host", "hosts", hostId, true)) + "</vm>";
}

std::string StorageDomainXml(const std::string& id, const std::string& name, Links links,
                             const std::string& status) {
  return Named("storage_domain", "storagedomains", id, name) + LinkLines(links) +
         "<type>data</type>" + (status.empty() ? "" : "<status>" + status + "</status>") +
         "</storage_domain>";
}

std::string DiskXml(const std::string& id, const std::string& name,
                    const std::string& storageDomainId, const std::string& logicalName) {
  return Named("disk", "disks", id, name) +
         (logicalName.empty() ? "" : "<logical_name>" + logicalName + "</logical_name>") +
         "<status>ok</status><storage_domains>" +
         Element("storage_domain", "storagedomains", storageDomainId, true) +
         "</storage_domains></disk>";
}

std::string AttachmentXml(const std::string& diskId, const std::string& interface, bool bootable,
                          bool active) {
  return Element("disk_attachment", "vms/v/diskattachments", diskId) + "<active>" + Flag(active) +
         "</active><bootable>" + Flag(bootable) + "</bootable><interface>" + interface +
         "</interface>" + Element("disk", "disks", diskId, true) + "</disk_attachment>";
}

std::string SnapshotXml(const std::string& id, const std::string& type, const std::string& status) {
  return Element("snapshot", "vms/v/snapshots", id) + "<description>" + type +
         " snapshot</description><snapshot_status>" + status + "</snapshot_status><snapshot_type>" +
         type + "</snapshot_type></snapshot>";
}

std::string NetworkXml(const std::string& id, const std::string& name) {
  return Named("network", "networks", id, name) + "</network>";
}

std::string VnicProfileXml(const std::string& id, const std::string& name,
                           const std::string& networkId) {
  return Named("vnic_profile", "vnicprofiles", id, name) +
         Element("network", "networks", networkId, true) + "</vnic_profile>";
}

std::string TagXml(const std::string& id, const std::string& name) {
  return Named("tag", "tags", id, name) + "</tag>";
}

}  // namespace hvtest
