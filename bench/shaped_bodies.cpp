#include "shaped_bodies.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace hvbench {
namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

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

// The text of the first <name> element after `from` set to `value`.
void SetLeaf(std::string& body, size_t from, const std::string& name, const std::string& value) {
  const std::string open = "<" + name + ">";
  const size_t start = body.find(open, from);
  const size_t end = start == std::string::npos ? start : body.find("</" + name + ">", start);
  if (end == std::string::npos) throw std::runtime_error("API sample lacks " + open);
  body.replace(start + open.size(), end - start - open.size(), value);
}

// The recorded API root (4.0.4) as an engine 4.5.5 sends it.
std::string At45(std::string api) {
  const size_t info = api.find("<product_info>");
  if (info == std::string::npos) throw std::runtime_error("API sample lacks <product_info>");
  SetLeaf(api, info, "build", "5");
  SetLeaf(api, info, "full_version", "4.5.5");
  SetLeaf(api, info, "major", "4");
  SetLeaf(api, info, "minor", "5");
  SetLeaf(api, info, "revision", "0");
  return api;
}

std::string DiskId(const std::string& vmId, int k) {
  return "d15c000" + std::to_string(k) + vmId.substr(8);
}

// The element indented by `indent` more on every line but its first.
std::string Indented(const std::string& element, const std::string& indent) {
  std::string out = ReplaceAll(element, "\n", "\n" + indent);
  // The last line break belongs after the element, not indented.
  if (out.size() >= indent.size() &&
      out.compare(out.size() - indent.size(), indent.size(), indent) == 0) {
    out.resize(out.size() - indent.size());
  }
  return out;
}

}  // namespace

ShapedBodies::ShapedBodies(const std::string& fixtureDir) {
  const std::string v4 = fixtureDir + "/v4/";
  api_ = At45(ReadFile(v4 + "api.xml"));
  vm_ = WithoutDeclaration(ReadFile(v4 + "vm.xml"));
  if (vm_.rfind("</vm>") == std::string::npos) throw std::runtime_error("VM sample lacks </vm>");
  const std::string disks = ReadFile(v4 + "disks.xml");
  disk_ = FirstElement(disks, "<disk href=\"/ovirt-engine/api/disks/08b054b2", "</disk>\n");
  cluster_ = FirstElement(ReadFile(v4 + "clusters.xml"), "<cluster ", "\n    </cluster>");
  host_ = WithoutDeclaration(ReadFile(v4 + "host.xml"));
  dataCenter_ =
      FirstElement(ReadFile(v4 + "data_centers.xml"), "<data_center ", "\n    </data_center>");
  storageDomain_ = WithoutDeclaration(ReadFile(v4 + "storage_domain.xml"));
}

std::string ShapedBodies::vmId(size_t index) {
  char id[64];
  std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012zx", index);
  return id;
}

std::string ShapedBodies::vmElement(const std::string& id, const hvsim::Follow& follow) const {
  std::string vm =
      ReplaceAll(Retarget(vm_, id), "<name>vm_off</name>", "<name>vm-" + id.substr(24) + "</name>");
  std::string inline_;
  if (follow.diskAttachments) {
    inline_ += "    <disk_attachments>\n" + attachmentElements(id, follow.disks, "        ") +
               "    </disk_attachments>\n";
  }
  // The recorded VM has no NICs or snapshots: a followed link brings an empty list.
  if (follow.nics) inline_ += "    <nics/>\n";
  if (follow.snapshots) inline_ += "    <snapshots/>\n";
  vm.insert(vm.rfind("</vm>"), inline_);
  return vm;
}

std::string ShapedBodies::attachmentElements(const std::string& vmId, bool fullDisks,
                                             const std::string& indent) const {
  std::string out;
  for (int k = 0; k < 2; ++k) {
    const std::string diskId = DiskId(vmId, k);
    const std::string inner = indent + "    ";
    const std::string disk = fullDisks ? inner + Indented(Retarget(disk_, diskId), indent)
                                       : inner + "<disk href=\"/ovirt-engine/api/disks/" + diskId +
                                             "\" id=\"" + diskId + "\"/>\n";
    out += indent + "<disk_attachment href=\"/ovirt-engine/api/vms/" + vmId + "/diskattachments/" +
           diskId + "\" id=\"" + diskId + "\">\n" + inner + "<active>true</active>\n" + inner +
           "<bootable>" + (k == 0 ? "true" : "false") + "</bootable>\n" + inner +
           "<interface>virtio_scsi</interface>\n" + inner + "<pass_discard>false</pass_discard>\n" +
           inner + "<read_only>false</read_only>\n" + inner +
           "<uses_scsi_reservation>false</uses_scsi_reservation>\n" + disk + inner +
           "<vm href=\"/ovirt-engine/api/vms/" + vmId + "\" id=\"" + vmId + "\"/>\n" + indent +
           "</disk_attachment>\n";
  }
  return out;
}

std::string ShapedBodies::vm(const std::string& id, const hvsim::Follow& follow) const {
  return kDeclaration + vmElement(id, follow);
}

std::string ShapedBodies::vmList(size_t count, const hvsim::Follow& follow) const {
  std::string list;
  const size_t perVm = vm_.size() + (follow.diskAttachments ? 2 * (disk_.size() + 1024) : 0) + 64;
  list.reserve(count * perVm + 128);
  list += kDeclaration;
  list += "<vms>\n";
  for (size_t i = 0; i < count; ++i) list += vmElement(vmId(i), follow);
  list += "</vms>\n";
  return list;
}

std::string ShapedBodies::attachments(const std::string& vmId, bool fullDisks) const {
  return std::string(kDeclaration) + "<disk_attachments>\n" +
         attachmentElements(vmId, fullDisks, "    ") + "</disk_attachments>\n";
}

std::string ShapedBodies::disk(const std::string& id) const {
  return kDeclaration + Retarget(disk_, id);
}
std::string ShapedBodies::cluster(const std::string& id) const {
  return kDeclaration + Retarget(cluster_, id);
}
std::string ShapedBodies::host(const std::string& id) const {
  return kDeclaration + Retarget(host_, id);
}
std::string ShapedBodies::dataCenter(const std::string& id) const {
  return kDeclaration + Retarget(dataCenter_, id);
}
std::string ShapedBodies::storageDomain(const std::string& id) const {
  return kDeclaration + Retarget(storageDomain_, id);
}

}  // namespace hvbench
