#include "engine_simulator/ovf.h"

#include <algorithm>

#include "engine_simulator/xml_out.h"

namespace hvsim {

std::string makeOvf(const Inventory& inventory, const Vm& vm,
                    const std::vector<SnapshotImage>& images) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<ovf:Envelope xmlns:ovf=\"http://schemas.dmtf.org/ovf/envelope/1/\" "
      "xmlns:rasd=\"http://schemas.dmtf.org/wbem/wscim/1/cim-schema/2/"
      "CIM_ResourceAllocationSettingData\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" ovf:version=\"4.1.0.0\">";
  out += "<References>";
  for (const SnapshotImage& image : images) {
    out += "<File ovf:href=\"" + image.diskId + "/" + image.imageId + "\" ovf:id=\"" +
           image.imageId + "\" ovf:size=\"" + std::to_string(image.provisionedSize) +
           "\" ovf:description=\"Active VM\"/>";
  }
  out +=
      "</References><Section xsi:type=\"ovf:DiskSection_Type\"><Info>List of Virtual Disks</Info>";
  for (const SnapshotImage& image : images) {
    out += "<Disk ovf:diskId=\"" + image.imageId + "\" ovf:size=\"" +
           std::to_string(image.provisionedSize >> 30) + "\" ovf:fileRef=\"" + image.diskId + "/" +
           image.imageId +
           "\" ovf:format=\"http://www.vmware.com/specifications/vmdk.html"
           "#sparse\" ovf:volume-format=\"" +
           (image.format == "raw" ? "RAW" : "COW") + "\" ovf:disk-alias=\"";
    appendEscaped(out, image.name);
    out += "\" ovf:boot=\"false\" ovf:disk-interface=\"VirtIO\"/>";
  }
  out += "</Section><Content ovf:id=\"out\" xsi:type=\"ovf:VirtualSystem_Type\"><Name>";
  appendEscaped(out, vm.name);
  out += "</Name><Description>";
  appendEscaped(out, vm.description);
  out += "</Description><TemplateId>" + vm.templateId +
         "</TemplateId><TemplateName>Blank</TemplateName><ClusterName>";
  if (const Cluster* cluster = inventory.clusters.find(vm.clusterId)) {
    appendEscaped(out, cluster->name);
  }
  out +=
      "</ClusterName><VmType>1</VmType><Section xsi:type=\"ovf:OperatingSystemSection_Type\""
      " ovf:id=\"" +
      vm.id + "\" ovf:required=\"false\"><Info>Guest Operating System</Info><Description>" +
      vm.osType + "</Description></Section>";
  out += "<Section xsi:type=\"ovf:VirtualHardwareSection_Type\"><Info>" +
         std::to_string(vm.sockets) + " CPU, " + std::to_string(vm.memory >> 20) +
         " Memory</Info><Item><rasd:Caption>" + std::to_string(vm.sockets) +
         " virtual cpu</rasd:Caption><rasd:ResourceType>3</rasd:ResourceType>"
         "<rasd:num_of_sockets>" +
         std::to_string(vm.sockets) + "</rasd:num_of_sockets><rasd:cpu_per_socket>" +
         std::to_string(vm.cores) + "</rasd:cpu_per_socket></Item><Item><rasd:Caption>" +
         std::to_string(vm.memory >> 20) +
         " MB of memory</rasd:Caption><rasd:ResourceType>4</rasd:ResourceType>"
         "<rasd:VirtualQuantity>" +
         std::to_string(vm.memory >> 20) + "</rasd:VirtualQuantity></Item>";
  for (const SnapshotImage& image : images) {
    out += "<Item><rasd:Caption>";
    appendEscaped(out, image.name);
    out += "</rasd:Caption><rasd:InstanceId>" + image.imageId +
           "</rasd:InstanceId><rasd:ResourceType>17</rasd:ResourceType><rasd:HostResource>" +
           image.diskId + "/" + image.imageId + "</rasd:HostResource><rasd:StorageId>" +
           image.storageDomainId + "</rasd:StorageId></Item>";
  }
  out += "</Section></Content></ovf:Envelope>";
  return out;
}

Snapshot captureSnapshot(Inventory& inventory, Vm& vm, const std::vector<std::string>& diskIds,
                         const std::string& description) {
  Snapshot snap;
  snap.description = description;
  snap.date = WallClock::now();
  for (const DiskAttachment& att : vm.attachments) {
    if (!att.snapshotId.empty()) continue;
    if (!diskIds.empty() &&
        std::find(diskIds.begin(), diskIds.end(), att.diskId) == diskIds.end()) {
      continue;
    }
    Disk* d = inventory.disks.find(att.diskId);
    if (!d) continue;
    snap.images.push_back(SnapshotImage{d->id, d->imageId, d->storageDomainId, d->name, d->format,
                                        d->provisionedSize, d->actualSize, d->sparse});
    d->imageId = inventory.newId(IdKind::Image);
  }
  snap.ovf = makeOvf(inventory, vm, snap.images);
  return snap;
}

std::string ovfVmName(const std::string& ovf) {
  size_t open = ovf.find("<Name>");
  if (open == std::string::npos) return std::string();
  open += 6;
  size_t close = ovf.find("</Name>", open);
  return close == std::string::npos ? std::string() : ovf.substr(open, close - open);
}

std::string ovfVmId(const std::string& ovf) {
  const size_t type = ovf.find("ovf:OperatingSystemSection_Type");
  if (type == std::string::npos) return std::string();
  const size_t open = ovf.rfind("<Section", type);
  const size_t close = ovf.find('>', type);
  if (open == std::string::npos || close == std::string::npos) return std::string();
  const std::string tag = ovf.substr(open, close - open);
  const std::string key = "ovf:id=\"";
  const size_t at = tag.find(key);
  if (at == std::string::npos) return std::string();
  const size_t end = tag.find('"', at + key.size());
  return end == std::string::npos ? std::string()
                                  : tag.substr(at + key.size(), end - at - key.size());
}

}  // namespace hvsim
