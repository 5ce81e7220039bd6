#include "shaped_engine.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace hvbench {
namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const char kApi[] = "/ovirt-engine/api";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The first element that starts with `open` and ends with `close`, both included.
std::string FirstElement(const std::string& body, const std::string& open,
                         const std::string& close) {
  const size_t start = body.find(open);
  const size_t end = start == std::string::npos ? start : body.find(close, start);
  if (end == std::string::npos) throw std::runtime_error("sample lacks " + open);
  return body.substr(start, end + close.size() - start);
}

std::string WithoutDeclaration(const std::string& body) {
  if (body.compare(0, 5, "<?xml") != 0) return body;
  return body.substr(body.find('\n') + 1);
}

// The value of the first id="..." attribute.
std::string FirstId(const std::string& element) {
  const size_t start = element.find("id=\"");
  if (start == std::string::npos) throw std::runtime_error("sample element without id");
  return element.substr(start + 4, element.find('"', start + 4) - start - 4);
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The sample element under the requested id.
std::string Retarget(const std::string& element, const std::string& id) {
  return ReplaceAll(element, FirstId(element), id);
}

std::string NumberedId(const char* prefix, size_t number) {
  char id[64];
  std::snprintf(id, sizeof id, "%s-0000-4000-8000-%012zx", prefix, number);
  return id;
}

std::string DiskId(const std::string& vmId, int k) {
  return "d15c000" + std::to_string(k) + vmId.substr(8);
}

std::string VmBody(const std::string& sample, const std::string& id) {
  std::string vm = Retarget(sample, id);
  return ReplaceAll(vm, "<name>vm_off</name>", "<name>vm-" + id.substr(24) + "</name>");
}

std::string Attachments(const std::string& vmId) {
  std::string body = std::string(kDeclaration) + "<disk_attachments>\n";
  for (int k = 0; k < 2; ++k) {
    const std::string diskId = DiskId(vmId, k);
    body += "    <disk_attachment href=\"/ovirt-engine/api/vms/" + vmId + "/diskattachments/" +
            diskId + "\" id=\"" + diskId + "\">\n" + "        <active>true</active>\n" +
            "        <bootable>" + (k == 0 ? "true" : "false") + "</bootable>\n" +
            "        <interface>virtio_scsi</interface>\n" +
            "        <pass_discard>false</pass_discard>\n" +
            "        <read_only>false</read_only>\n" +
            "        <uses_scsi_reservation>false</uses_scsi_reservation>\n" +
            "        <disk href=\"/ovirt-engine/api/disks/" + diskId + "\" id=\"" + diskId +
            "\"/>\n" + "        <vm href=\"/ovirt-engine/api/vms/" + vmId + "\" id=\"" + vmId +
            "\"/>\n" + "    </disk_attachment>\n";
  }
  return body + "</disk_attachments>\n";
}

// "/ovirt-engine/api/<collection>/<id>[/<rest>]" split into its parts.
bool SplitPath(const std::string& path, std::string& collection, std::string& id,
               std::string& rest) {
  const std::string prefix = std::string(kApi) + "/";
  if (path.compare(0, prefix.size(), prefix) != 0) return false;
  std::istringstream parts(path.substr(prefix.size()));
  std::getline(parts, collection, '/');
  std::getline(parts, id, '/');
  std::getline(parts, rest);
  return true;
}

}  // namespace

ShapedEngine::ShapedEngine(const std::string& fixtureDir, const std::string& password) {
  const std::string v4 = fixtureDir + "/v4/";
  api_ = ReadFile(v4 + "api.xml");
  vm_ = WithoutDeclaration(ReadFile(v4 + "vm.xml"));
  const std::string disks = ReadFile(v4 + "disks.xml");
  disk_ = FirstElement(disks, "<disk href=\"/ovirt-engine/api/disks/08b054b2", "</disk>\n");
  cluster_ = FirstElement(ReadFile(v4 + "clusters.xml"), "<cluster ", "\n    </cluster>");
  host_ = WithoutDeclaration(ReadFile(v4 + "host.xml"));
  dataCenter_ =
      FirstElement(ReadFile(v4 + "data_centers.xml"), "<data_center ", "\n    </data_center>");
  storageDomain_ = WithoutDeclaration(ReadFile(v4 + "storage_domain.xml"));

  hvtest::Options options;
  options.password = password;
  sessions_ = std::make_unique<hvsim::Sessions>(
      *hvsim::Generation::parse("4.5"), hvsim::SessionOptions(), nullptr,
      [this](const std::string& user, const std::string& given) {
        return engine_->validCredentials(user, given);
      });
  options.authorizer = [this](const hvtest::Request& request) {
    return sessions_->authorize(request);
  };
  options.maxConnections = 4096;  // a client without reuse opens one per request
  options.idleTimeout = std::chrono::milliseconds(60000);
  options.ioTimeout = std::chrono::milliseconds(60000);
  engine_ = std::make_unique<hvtest::TestEngine>(options);
  engine_->setFallback([this](const hvtest::Request& request) { return answer(request); });
}

std::string ShapedEngine::vmId(size_t index) { return NumberedId("00000000", index); }

void ShapedEngine::setVmCount(size_t count) {
  auto list = std::make_shared<std::string>();
  list->reserve(count * (vm_.size() + 64) + 128);
  *list += kDeclaration;
  *list += "<vms>\n";
  for (size_t i = 0; i < count; ++i) *list += VmBody(vm_, vmId(i));
  *list += "</vms>\n";
  std::lock_guard<std::mutex> lock(listMutex_);
  list_ = std::move(list);
}

size_t ShapedEngine::listBodyBytes() const {
  std::lock_guard<std::mutex> lock(listMutex_);
  return list_ ? list_->size() : 0;
}

std::optional<hvtest::Answer> ShapedEngine::answer(const hvtest::Request& request) const {
  if (request.method != "GET") return std::nullopt;
  if (request.path == kApi) return hvtest::Answer::xml(200, api_);
  std::string collection, id, rest;
  if (!SplitPath(request.path, collection, id, rest)) return std::nullopt;
  auto xml = [](std::string body) { return hvtest::Answer::xml(200, kDeclaration + body); };
  if (collection == "vms" && id.empty()) {
    std::shared_ptr<const std::string> list;
    {
      std::lock_guard<std::mutex> lock(listMutex_);
      list = list_;
    }
    if (list) return hvtest::Answer::xml(200, *list);
  } else if (collection == "vms" && rest.empty()) {
    return xml(VmBody(vm_, id));
  } else if (collection == "vms" && rest == "diskattachments") {
    return hvtest::Answer::xml(200, Attachments(id));
  } else if (collection == "disks" && rest.empty()) {
    return xml(Retarget(disk_, id));
  } else if (collection == "clusters" && rest.empty()) {
    return xml(Retarget(cluster_, id));
  } else if (collection == "hosts" && rest.empty()) {
    return xml(Retarget(host_, id));
  } else if (collection == "datacenters" && rest.empty()) {
    return xml(Retarget(dataCenter_, id));
  } else if (collection == "storagedomains" && rest.empty()) {
    return xml(Retarget(storageDomain_, id));
  }
  return std::nullopt;
}

}  // namespace hvbench
