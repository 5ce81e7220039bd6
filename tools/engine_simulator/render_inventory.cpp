// Data centers, clusters, hosts, networks, vNIC profiles and tags.
#include "engine_simulator/render.h"

namespace hvsim {

void Renderer::dataCenter(XmlOut& x, const DataCenter& dc) const {
  std::string self = href("datacenters/" + dc.id);
  x.open("data_center", {{"href", self}, {"id", dc.id}});
  x.leaf("name", dc.name);
  x.leaf("description", dc.description);
  for (const char* rel : {"storagedomains", "clusters", "networks", "permissions", "quotas"}) {
    x.linkUnder(self, rel);
  }
  if (v3()) {
    x.flag("local", false);
    x.leaf("storage_format", dc.storageFormat);
    version(x, "version", dc.versionMajor, dc.versionMinor);
    x.open("supported_versions");
    version(x, "version", dc.versionMajor, dc.versionMinor);
    x.close();
    x.status("status", dc.status, true);
    x.leaf("quota_mode", "disabled");
  } else {
    x.flag("local", false);
    x.leaf("quota_mode", "disabled");
    x.leaf("status", dc.status);
    x.leaf("storage_format", dc.storageFormat);
    x.open("supported_versions");
    version(x, "version", dc.versionMajor, dc.versionMinor);
    x.close();
    version(x, "version", dc.versionMajor, dc.versionMinor);
  }
  x.close();
}

void Renderer::cluster(XmlOut& x, const Cluster& cluster) const {
  std::string self = href("clusters/" + cluster.id);
  x.open("cluster", {{"href", self}, {"id", cluster.id}});
  x.leaf("name", cluster.name);
  x.leaf("description", cluster.description);
  for (const char* rel : {"networks", "permissions", "glustervolumes", "affinitygroups"}) {
    x.linkUnder(self, rel);
  }
  std::string dcHref = href("datacenters/" + cluster.dataCenterId);
  if (v3()) {
    x.empty("cpu", {{"id", cluster.cpuType}});
    x.ref("data_center", dcHref, cluster.dataCenterId);
    version(x, "version", cluster.versionMajor, cluster.versionMinor);
    x.open("error_handling").leaf("on_error", "migrate").close();
    x.flag("virt_service", true);
    x.flag("gluster_service", false);
  } else {
    x.flag("ballooning_enabled", false);
    x.open("cpu").leaf("architecture", "x86_64").leaf("type", cluster.cpuType).close();
    x.open("error_handling").leaf("on_error", "migrate").close();
    x.flag("gluster_service", false);
    version(x, "version", cluster.versionMajor, cluster.versionMinor);
    x.flag("virt_service", true);
    x.ref("data_center", dcHref, cluster.dataCenterId);
  }
  x.close();
}

void Renderer::host(XmlOut& x, const Host& host) const {
  std::string self = href("hosts/" + host.id);
  x.open("host", {{"href", self}, {"id", host.id}});
  x.open("actions");
  for (const char* rel : {"activate", "deactivate", "fence", "refresh"}) {
    x.linkUnder(self, rel);
  }
  x.close();
  x.leaf("name", host.name);
  x.leaf("description", host.description);
  for (const char* rel : {"nics", "tags", "permissions", "statistics", "storage"}) {
    x.linkUnder(self, rel);
  }
  std::string clusterHref = href("clusters/" + host.clusterId);
  std::string sockets = std::to_string(host.sockets), cores = std::to_string(host.cores),
              threads = std::to_string(host.threads);
  if (v3()) {
    x.leaf("address", host.address);
    x.status("status", host.status, true);
    x.ref("cluster", clusterHref, host.clusterId);
    x.leaf("port", 54321);
    x.leaf("type", "rhel");
    x.open("hardware_information")
        .leaf("manufacturer", host.manufacturer)
        .leaf("product_name", host.productName)
        .close();
    x.open("cpu");
    x.empty("topology", {{"sockets", sockets}, {"cores", cores}, {"threads", threads}});
    x.leaf("name", host.cpuName).leaf("speed", host.cpuSpeed);
    x.close();
    x.leaf("memory", host.memory);
    x.leaf("max_scheduling_memory", host.maxSchedulingMemory);
    x.open("summary").leaf("active", 0).leaf("migrating", 0).leaf("total", 0).close();
    x.open("os", {{"type", host.osType}});
    x.empty("version", {{"full_version", host.osVersion}});
    x.close();
  } else {
    x.leaf("address", host.address);
    x.open("cpu").leaf("name", host.cpuName).leaf("speed", host.cpuSpeed);
    x.open("topology").leaf("cores", cores).leaf("sockets", sockets).leaf("threads", threads);
    x.close().close();
    x.leaf("external_status", "ok");
    x.open("hardware_information")
        .leaf("manufacturer", host.manufacturer)
        .leaf("product_name", host.productName)
        .close();
    x.leaf("max_scheduling_memory", host.maxSchedulingMemory);
    x.leaf("memory", host.memory);
    x.open("os").leaf("type", host.osType);
    x.open("version").leaf("full_version", host.osVersion).close();
    x.close();
    x.leaf("port", 54321);
    x.leaf("status", host.status);
    x.open("summary").leaf("active", 0).leaf("migrating", 0).leaf("total", 0).close();
    x.leaf("type", "rhel");
    x.ref("cluster", clusterHref, host.clusterId);
  }
  x.close();
}

void Renderer::network(XmlOut& x, const Network& network) const {
  std::string self = href("networks/" + network.id);
  std::string dcHref = href("datacenters/" + network.dataCenterId);
  x.open("network", {{"href", self}, {"id", network.id}});
  x.leaf("name", network.name);
  x.leaf("description", network.description);
  if (v3()) {
    x.ref("data_center", dcHref, network.dataCenterId);
    x.flag("stp", false).leaf("mtu", 0);
    x.open("usages").leaf("usage", "vm").close();
  } else {
    x.leaf("comment", "");
    for (const char* rel : {"networklabels", "permissions", "vnicprofiles"}) {
      x.linkUnder(self, rel);
    }
    x.leaf("mtu", 0).flag("stp", false);
    x.open("usages").leaf("usage", "vm").close();
    x.ref("data_center", dcHref, network.dataCenterId);
  }
  x.close();
}

void Renderer::vnicProfile(XmlOut& x, const VnicProfile& profile) const {
  std::string self = href("vnicprofiles/" + profile.id);
  x.open("vnic_profile", {{"href", self}, {"id", profile.id}});
  x.leaf("name", profile.name);
  x.linkUnder(self, "permissions");
  if (!v3()) x.open("pass_through").leaf("mode", "disabled").close();
  x.flag("port_mirroring", false);
  x.ref("network", href("networks/" + profile.networkId), profile.networkId);
  x.close();
}

void Renderer::tag(XmlOut& x, const Tag& tag) const {
  std::string self = href("tags/" + tag.id);
  x.open("tag", {{"href", self}, {"id", tag.id}});
  x.leaf("name", tag.name);
  x.leaf("description", tag.description);
  if (!tag.parentId.empty()) {
    std::string parentHref = href("tags/" + tag.parentId);
    if (v3()) {
      x.open("parent").ref("tag", parentHref, tag.parentId).close();
    } else {
      x.ref("parent", parentHref, tag.parentId);
    }
  }
  x.close();
}

}  // namespace hvsim
