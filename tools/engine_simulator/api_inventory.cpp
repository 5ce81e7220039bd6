// The API root, data centers, clusters, hosts, networks, vNIC profiles, tags and jobs.
#include "engine_simulator/api.h"

namespace hvsim {

namespace {

using Values = std::optional<std::vector<std::string>>;

std::string nameOf(const Inventory& inv, const std::string& clusterId, bool dataCenter) {
  const Cluster* cluster = inv.clusters.find(clusterId);
  if (!cluster) return std::string();
  if (!dataCenter) return cluster->name;
  const DataCenter* dc = inv.dataCenters.find(cluster->dataCenterId);
  return dc ? dc->name : std::string();
}

std::vector<std::string> tagNames(const Inventory& inv, const std::vector<std::string>& ids) {
  std::vector<std::string> names;
  for (const std::string& id : ids) {
    if (const Tag* tag = inv.tags.find(id)) names.push_back(tag->name);
  }
  return names;
}

}  // namespace

FieldValues vmFields(const Inventory& inv, const Vm& vm) {
  return [&inv, &vm](const std::string& field) -> Values {
    if (field == "name") return Values{{vm.name}};
    if (field == "id") return Values{{vm.id}};
    if (field == "description") return Values{{vm.description}};
    if (field == "status") return Values{{vm.status}};
    if (field == "cluster") return Values{{nameOf(inv, vm.clusterId, false)}};
    if (field == "datacenter") return Values{{nameOf(inv, vm.clusterId, true)}};
    if (field == "host") {
      const Host* host = inv.hosts.find(vm.hostId);
      return Values{{host ? host->name : std::string()}};
    }
    if (field == "tag") return tagNames(inv, vm.tagIds);
    return std::nullopt;
  };
}

hvtest::Answer Api::getRoot(Call&, const Params&) {
  return xml(200, renderer_.apiRoot(inventory_));
}

hvtest::Answer Api::listDataCenters(Call& call, const Params&) {
  Listing s = listing(call);
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("data_centers");
    for (const auto& dc : inventory_.dataCenters.items()) {
      bool keep = shows(s, [&](const std::string& f) -> Values {
        if (f == "name") return Values{{dc->name}};
        if (f == "id") return Values{{dc->id}};
        if (f == "status") return Values{{dc->status}};
        return std::nullopt;
      });
      if (keep) renderer_.dataCenter(x, *dc);
    }
    x.close();
  }));
}

hvtest::Answer Api::getDataCenter(Call&, const Params& p) {
  const DataCenter& dc = dataCenter(p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) { renderer_.dataCenter(x, dc); }));
}

std::string Api::clustersDocument(Call& call, const std::string& dataCenterId) {
  Listing s = listing(call);
  return renderer_.document([&](XmlOut& x) {
    x.open("clusters");
    for (const auto& cluster : inventory_.clusters.items()) {
      if (!dataCenterId.empty() && cluster->dataCenterId != dataCenterId) continue;
      bool keep = shows(s, [&](const std::string& f) -> Values {
        if (f == "name") return Values{{cluster->name}};
        if (f == "id") return Values{{cluster->id}};
        if (f == "datacenter") return Values{{nameOf(inventory_, cluster->id, true)}};
        return std::nullopt;
      });
      if (keep) renderer_.cluster(x, *cluster);
    }
    x.close();
  });
}

hvtest::Answer Api::listDataCenterClusters(Call& call, const Params& p) {
  return xml(200, clustersDocument(call, dataCenter(p[0]).id));
}

hvtest::Answer Api::listClusters(Call& call, const Params&) {
  return xml(200, clustersDocument(call, std::string()));
}

hvtest::Answer Api::getCluster(Call&, const Params& p) {
  const Cluster* cluster = inventory_.clusters.find(p[0]);
  if (!cluster) throw Failure::unknown("Cluster", p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) { renderer_.cluster(x, *cluster); }));
}

hvtest::Answer Api::listHosts(Call& call, const Params&) {
  Listing s = listing(call);
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("hosts");
    for (const auto& host : inventory_.hosts.items()) {
      bool keep = shows(s, [&](const std::string& f) -> Values {
        if (f == "name") return Values{{host->name}};
        if (f == "id") return Values{{host->id}};
        if (f == "address") return Values{{host->address}};
        if (f == "status") return Values{{host->status}};
        if (f == "cluster") return Values{{nameOf(inventory_, host->clusterId, false)}};
        if (f == "datacenter") return Values{{nameOf(inventory_, host->clusterId, true)}};
        if (f == "tag") return tagNames(inventory_, host->tagIds);
        return std::nullopt;
      });
      if (keep) renderer_.host(x, *host);
    }
    x.close();
  }));
}

hvtest::Answer Api::getHost(Call&, const Params& p) {
  const Host* host = inventory_.hosts.find(p[0]);
  if (!host) throw Failure::unknown("Host", p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) { renderer_.host(x, *host); }));
}

hvtest::Answer Api::listNetworks(Call& call, const Params&) {
  Listing s = listing(call);
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("networks");
    for (const auto& net : inventory_.networks.items()) {
      bool keep = shows(s, [&](const std::string& f) -> Values {
        if (f == "name") return Values{{net->name}};
        if (f == "datacenter") {
          const DataCenter* dc = inventory_.dataCenters.find(net->dataCenterId);
          return Values{{dc ? dc->name : std::string()}};
        }
        return std::nullopt;
      });
      if (keep) renderer_.network(x, *net);
    }
    x.close();
  }));
}

hvtest::Answer Api::listDataCenterNetworks(Call&, const Params& p) {
  const DataCenter& dc = dataCenter(p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("networks");
    for (const auto& net : inventory_.networks.items()) {
      if (net->dataCenterId == dc.id) renderer_.network(x, *net);
    }
    x.close();
  }));
}

hvtest::Answer Api::getNetwork(Call&, const Params& p) {
  const Network* net = inventory_.networks.find(p[0]);
  if (!net) throw Failure::unknown("Network", p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) { renderer_.network(x, *net); }));
}

hvtest::Answer Api::listVnicProfiles(Call&, const Params&) {
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("vnic_profiles");
    for (const auto& profile : inventory_.vnicProfiles.items()) renderer_.vnicProfile(x, *profile);
    x.close();
  }));
}

hvtest::Answer Api::getVnicProfile(Call&, const Params& p) {
  const VnicProfile* profile = inventory_.vnicProfiles.find(p[0]);
  if (!profile) throw Failure::unknown("VNIC Profile", p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) { renderer_.vnicProfile(x, *profile); }));
}

hvtest::Answer Api::listTags(Call& call, const Params&) {
  Listing s = listing(call);
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("tags");
    for (const auto& tag : inventory_.tags.items()) {
      bool keep = shows(s, [&](const std::string& f) -> Values {
        if (f == "name") return Values{{tag->name}};
        return std::nullopt;
      });
      if (keep) renderer_.tag(x, *tag);
    }
    x.close();
  }));
}

hvtest::Answer Api::getTag(Call&, const Params& p) {
  const Tag* tag = inventory_.tags.find(p[0]);
  if (!tag) throw Failure::unknown("Tag", p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) { renderer_.tag(x, *tag); }));
}

hvtest::Answer Api::listJobs(Call& call, const Params&) {
  // Engines before 4.2 cannot search jobs; "search" and "max" are read by no one and the whole
  // list comes back, oldest first.
  Listing s = renderer_.generation().searchesJobs() ? listing(call) : Listing();
  std::vector<const Job*> shown;
  for (const auto& job : inventory_.jobs.items()) {
    bool keep = shows(s, [&](const std::string& f) -> Values {
      if (f == "correlation_id") return Values{{job->correlationId}};
      if (f == "description") return Values{{job->description}};
      if (f == "status") return Values{{job->status}};
      return std::nullopt;
    });
    if (keep) shown.push_back(job.get());
  }
  for (const Job* job : shown) seen(call, watch::job(job->id));
  return xml(200, renderer_.document([&](XmlOut& x) {
    x.open("jobs");
    for (const Job* job : shown) {
      if (inventory_.jobs.find(job->id)) renderer_.job(x, *job);
    }
    x.close();
  }));
}

hvtest::Answer Api::getJob(Call& call, const Params& p) {
  if (!inventory_.jobs.find(p[0])) throw Failure::unknown("Job", p[0]);
  seen(call, watch::job(p[0]));
  const Job* job = inventory_.jobs.find(p[0]);
  return xml(200, renderer_.document([&](XmlOut& x) { renderer_.job(x, *job); }));
}

}  // namespace hvsim
