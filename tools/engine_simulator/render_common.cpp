// API root, faults, actions, creation status and jobs.
#include <cctype>
#include <ctime>

#include "engine_simulator/render.h"

namespace hvsim {

namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

constexpr const char* kRootCollections[] = {
    "capabilities", "clusters",       "datacenters",
    "events",       "hosts",          "networks",
    "roles",        "storagedomains", "tags",
    "templates",    "users",          "groups",
    "domains",      "vmpools",        "vms",
    "disks",        "jobs",           "storageconnections",
    "vnicprofiles", "diskprofiles",   "cpuprofiles",
    "permissions",  "macpools",
};

constexpr const char* kSearchable[] = {"clusters",  "datacenters", "hosts", "storagedomains",
                                       "templates", "vms",         "disks", "events"};

}  // namespace

std::string isoTime(WallClock::time_point when) {
  std::time_t seconds = WallClock::to_time_t(when);
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d+00:00", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis < 0 ? 0 : millis));
  return text;
}

std::string Renderer::href(std::string_view tail) const {
  std::string out(kApiBase);
  if (!tail.empty()) {
    out += '/';
    out += tail;
  }
  return out;
}

std::string Renderer::document(const std::function<void(XmlOut&)>& body) const {
  std::string out;
  XmlOut x(out);
  x.declaration();
  body(x);
  return out;
}

void Renderer::version(XmlOut& x, std::string_view name, unsigned major, unsigned minor) const {
  std::string ma = std::to_string(major), mi = std::to_string(minor);
  if (v3()) {
    x.empty(name, {{"major", ma}, {"minor", mi}});
  } else {
    x.open(name).leaf("major", ma).leaf("minor", mi).close();
  }
}

std::string Renderer::apiRoot(const Inventory& inv) const {
  size_t vmsUp = 0, hostsUp = 0, domainsActive = 0;
  for (const auto& vm : inv.vms.items()) vmsUp += vm->status == "up";
  for (const auto& host : inv.hosts.items()) hostsUp += host->status == "up";
  for (const auto& sd : inv.storageDomains.items())
    domainsActive += sd->dataCenterStatus == "active";
  return document([&](XmlOut& x) {
    x.open("api");
    for (const char* name : kRootCollections) {
      x.link(href(name), name);
      for (const char* searchable : kSearchable) {
        if (std::string_view(searchable) == name) {
          x.link(href(std::string(name) + "?search={query}"), std::string(name) + "/search");
        }
      }
    }
    const Generation& g = generation_;
    auto summary = [&] {
      x.open("summary");
      x.open("vms").leaf("total", inv.vms.size()).leaf("active", vmsUp).close();
      x.open("hosts").leaf("total", inv.hosts.size()).leaf("active", hostsUp).close();
      x.open("users").leaf("total", 1).leaf("active", 1).close();
      x.open("storage_domains")
          .leaf("total", inv.storageDomains.size())
          .leaf("active", domainsActive)
          .close();
      x.close();
    };
    if (v3()) {
      x.open("special_objects");
      x.link(href(std::string("templates/") + Inventory::kBlankTemplateId), "templates/blank");
      x.link(href(std::string("tags/") + Inventory::kRootTagId), "tags/root");
      x.close();
      x.open("product_info").leaf("name", "oVirt Engine").leaf("vendor", "ovirt.org");
      x.empty("version", {{"major", std::to_string(g.major)},
                          {"minor", std::to_string(g.minor)},
                          {"build", std::to_string(g.build)},
                          {"revision", std::to_string(g.revision)}});
      x.leaf("full_version", g.fullVersion());
      x.close();
      summary();
    } else {
      x.open("product_info").leaf("name", "oVirt Engine").leaf("vendor", "ovirt.org");
      x.open("version")
          .leaf("build", g.build)
          .leaf("full_version", g.fullVersion())
          .leaf("major", g.major)
          .leaf("minor", g.minor)
          .leaf("revision", g.revision)
          .close();
      x.close();
      x.open("special_objects");
      x.ref("blank_template", href(std::string("templates/") + Inventory::kBlankTemplateId),
            Inventory::kBlankTemplateId);
      x.ref("root_tag", href(std::string("tags/") + Inventory::kRootTagId), Inventory::kRootTagId);
      x.close();
      summary();
    }
    x.leaf("time", isoTime(WallClock::now()));
    x.close();
  });
}

std::string Renderer::fault(std::string_view reason, std::string_view detail) const {
  return document(
      [&](XmlOut& x) { x.open("fault").leaf("reason", reason).leaf("detail", detail).close(); });
}

std::string Renderer::action(const ActionAnswer& answer) const {
  return document([&](XmlOut& x) {
    x.open("action");
    x.flag("async", false);
    x.status("status", answer.status, v3());
    if (!answer.faultDetail.empty() || !answer.faultReason.empty()) {
      x.open("fault").leaf("reason", answer.faultReason).leaf("detail", answer.faultDetail).close();
    }
    if (!answer.jobId.empty()) x.ref("job", href("jobs/" + answer.jobId), answer.jobId);
    x.close();
  });
}

std::string Renderer::failure(const Failure& failure, std::string_view path) const {
  switch (failure.form) {
    case Failure::Form::Action:
      return action({"failed", "", failure.reason, failure.detail});
    case Failure::Form::Missing:
      if (!v3()) break;
      // API v3 points at the description of the request's parameters instead.
      return document([&](XmlOut& x) {
        x.open("usage_message");
        x.leaf("message",
               "Request syntactically incorrect. See the link description below for the correct "
               "usage:");
        x.empty("detailedLink", {{"href", path}, {"rel", "add"}});
        x.close();
      });
    case Failure::Form::Unknown:
      return std::string();
    case Failure::Form::Fault:
      break;
  }
  return fault(failure.reason, failure.detail);
}

std::string Renderer::creation(const std::string& ownerTail, const std::string& creationId,
                               std::string_view state) const {
  return document([&](XmlOut& x) {
    x.open("creation",
           {{"href", href(ownerTail + "/creation_status/" + creationId)}, {"id", creationId}});
    x.status("status", state, v3());
    x.close();
  });
}

void Renderer::pendingCreation(XmlOut& x, const std::string& self,
                               const std::string& creationId) const {
  x.status("creation_status", "pending", v3());
  x.link(self + "/creation_status/" + creationId, "creation_status");
}

void Renderer::job(XmlOut& x, const Job& job) const {
  std::string self = href("jobs/" + job.id);
  x.open("job", {{"href", self}, {"id", job.id}});
  x.open("actions").linkUnder(self, "clear").linkUnder(self, "end").close();
  x.leaf("description", job.description);
  x.linkUnder(self, "steps");
  bool ended = job.status != "started";
  if (v3()) {
    x.status("status", upper(job.status), true);
    x.ref("owner", href("users/00000000-0000-0000-0000-000000000001"),
          "00000000-0000-0000-0000-000000000001");
    x.leaf("start_time", isoTime(job.startTime));
    if (ended) x.leaf("end_time", isoTime(job.endTime));
    x.leaf("last_updated", isoTime(job.lastUpdated));
    x.flag("external", false);
    x.flag("auto_cleared", true);
  } else {
    x.flag("auto_cleared", true);
    if (ended) x.leaf("end_time", isoTime(job.endTime));
    x.flag("external", false);
    x.leaf("last_updated", isoTime(job.lastUpdated));
    x.leaf("start_time", isoTime(job.startTime));
    x.leaf("status", job.status);
    x.ref("owner", href("users/00000000-0000-0000-0000-000000000001"),
          "00000000-0000-0000-0000-000000000001");
  }
  x.close();
}

}  // namespace hvsim
