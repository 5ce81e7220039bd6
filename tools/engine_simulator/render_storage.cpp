// Storage domains, disks in their three views, and disk attachments.
#include "engine_simulator/render.h"

namespace hvsim {

std::string Renderer::visibleLogicalName(const Vm& vm, const DiskAttachment& attachment) {
  bool reported =
      attachment.logicalNameReady && attachment.active && vm.status == "up" && vm.guestAgent;
  return reported ? attachment.logicalName : std::string();
}

void Renderer::storageDomain(XmlOut& x, const StorageDomain& sd, const DataCenter* context) const {
  std::string self = context ? href("datacenters/" + context->id + "/storagedomains/" + sd.id)
                             : href("storagedomains/" + sd.id);
  x.open("storage_domain", {{"href", self}, {"id", sd.id}});
  x.open("actions");
  if (context) {
    x.linkUnder(self, "activate").linkUnder(self, "deactivate");
  } else {
    x.linkUnder(self, "isattached").linkUnder(self, "refreshluns");
  }
  x.close();
  x.leaf("name", sd.name);
  x.leaf("description", sd.description);
  if (!v3()) x.leaf("comment", "");
  if (context) {
    x.linkUnder(self, "disks");
  } else {
    for (const char* rel : {"diskprofiles", "disks", "storageconnections", "permissions",
                            "templates", "vms", "disksnapshots"}) {
      x.linkUnder(self, rel);
    }
  }
  // The engine shows a status only where it means something: in a data center's view, and
  // for domains that belong to no data center.
  std::string status =
      context ? sd.dataCenterStatus : (sd.dataCenterId.empty() ? sd.status : std::string());
  std::string dcHref = href("datacenters/" + sd.dataCenterId);
  if (v3()) {
    if (context) {
      x.ref("data_center", dcHref, sd.dataCenterId);
    } else if (!sd.dataCenterId.empty()) {
      x.open("data_centers").empty("data_center", {{"id", sd.dataCenterId}}).close();
    }
    x.leaf("type", sd.type);
    if (!status.empty()) x.status("status", status, true);
    x.status("external_status", "ok", true);
    x.flag("master", sd.master);
    x.open("storage").leaf("address", sd.address).leaf("type", sd.storageType);
    x.leaf("path", sd.path).close();
    x.leaf("available", sd.available).leaf("used", sd.used).leaf("committed", sd.committed);
    x.leaf("storage_format", sd.storageFormat);
    x.flag("wipe_after_delete", false);
  } else {
    x.leaf("available", sd.available);
    x.flag("backup", false);
    x.leaf("committed", sd.committed);
    x.leaf("critical_space_action_blocker", 5);
    x.leaf("external_status", "ok");
    x.flag("master", sd.master);
    if (!status.empty()) x.leaf("status", status);
    x.open("storage").leaf("address", sd.address).leaf("path", sd.path);
    x.leaf("type", sd.storageType).close();
    x.leaf("storage_format", sd.storageFormat);
    x.leaf("type", sd.type);
    x.leaf("used", sd.used);
    x.leaf("warning_low_space_indicator", 10);
    x.flag("wipe_after_delete", false);
    if (context) x.ref("data_center", dcHref, sd.dataCenterId);
    if (!sd.dataCenterId.empty()) {
      x.open("data_centers").ref("data_center", dcHref, sd.dataCenterId).close();
    }
  }
  x.close();
}

void Renderer::diskCommon(XmlOut& x, const Disk& disk, const std::string& imageId,
                          uint64_t totalSize, bool withVmFields, const DiskAttachment* att,
                          const Vm* vm) const {
  std::string sdHref = href("storagedomains/" + disk.storageDomainId);
  std::string logicalName = att && vm ? visibleLogicalName(*vm, *att) : std::string();
  std::string snapshotId = att ? att->snapshotId : std::string();
  if (v3()) {
    if (withVmFields && vm) x.ref("vm", href("vms/" + vm->id), vm->id);
    x.leaf("alias", disk.name);
    x.leaf("image_id", imageId);
    x.open("storage_domains").empty("storage_domain", {{"id", disk.storageDomainId}}).close();
    x.leaf("size", disk.provisionedSize);
    x.leaf("provisioned_size", disk.provisionedSize);
    x.leaf("actual_size", disk.actualSize);
    x.status("status", disk.status, true);
    x.leaf("interface", att ? att->interface : "virtio");
    x.leaf("format", disk.format);
    x.flag("sparse", disk.sparse);
    x.flag("bootable", att && att->bootable);
    x.flag("shareable", disk.shareable);
    x.flag("wipe_after_delete", disk.wipeAfterDelete);
    x.flag("propagate_errors", false);
    if (withVmFields) {
      x.flag("active", att && att->active);
      x.flag("read_only", att && att->readOnly);
      if (!logicalName.empty()) x.leaf("logical_name", logicalName);
    }
    if (!snapshotId.empty()) x.empty("snapshot", {{"id", snapshotId}});
    x.leaf("storage_type", disk.storageType);
  } else {
    if (withVmFields) x.flag("active", att && att->active);
    x.leaf("actual_size", disk.actualSize);
    x.leaf("alias", disk.name);
    if (withVmFields) x.flag("bootable", att && att->bootable);
    x.leaf("content_type", "data");
    x.leaf("format", disk.format);
    x.leaf("image_id", imageId);
    if (withVmFields) {
      x.leaf("interface", att ? att->interface : "virtio");
      if (!logicalName.empty()) x.leaf("logical_name", logicalName);
    }
    x.flag("propagate_errors", false);
    x.leaf("provisioned_size", disk.provisionedSize);
    if (withVmFields) x.flag("read_only", att && att->readOnly);
    x.flag("shareable", disk.shareable);
    x.flag("sparse", disk.sparse);
    x.leaf("status", disk.status);
    x.leaf("storage_type", disk.storageType);
    if (generation_.reportsTotalSize()) x.leaf("total_size", totalSize);
    x.flag("wipe_after_delete", disk.wipeAfterDelete);
    if (withVmFields && vm) x.ref("vm", href("vms/" + vm->id), vm->id);
    if (!snapshotId.empty()) x.empty("snapshot", {{"id", snapshotId}});
    x.open("storage_domains").ref("storage_domain", sdHref, disk.storageDomainId).close();
  }
}

void Renderer::disk(XmlOut& x, const Inventory& inventory, const Disk& disk,
                    const std::string& hrefBase, const DiskAttachment* firstUse,
                    bool withCreationStatus) const {
  std::string self = href(hrefBase + "/" + disk.id);
  x.open("disk", {{"href", self}, {"id", disk.id}});
  x.open("actions");
  for (const char* rel : {"copy", "export", "move"}) x.linkUnder(self, rel);
  x.close();
  x.leaf("name", disk.name);
  x.leaf("description", disk.description);
  if (withCreationStatus) pendingCreation(x, self, disk.creationId);
  x.linkUnder(self, "permissions").linkUnder(self, "statistics");
  diskCommon(x, disk, disk.imageId, inventory.totalSize(disk), false, v3() ? firstUse : nullptr,
             nullptr);
  x.close();
}

void Renderer::vmDisk(XmlOut& x, const Inventory& inventory, const Vm& vm,
                      const DiskAttachment& att, const std::string& creationId) const {
  const Disk* disk = inventory.disks.find(att.diskId);
  if (!disk) return;
  Disk shown = *disk;
  if (!att.snapshotId.empty()) {
    // The disk as the snapshot holds it: that image and its sizes.
    if (Vm* owner = inventory.vmOfSnapshot(att.snapshotId)) {
      Snapshot* snapshot = Inventory::findSnapshot(*owner, att.snapshotId);
      for (const SnapshotImage& image : snapshot->images) {
        if (image.diskId != att.diskId) continue;
        shown.imageId = image.imageId;
        shown.provisionedSize = image.provisionedSize;
        shown.actualSize = image.actualSize;
        shown.status = "ok";
      }
    }
  }
  std::string self = href("vms/" + vm.id + "/disks/" + disk->id);
  x.open("disk", {{"href", self}, {"id", disk->id}});
  x.open("actions");
  for (const char* rel : {"activate", "deactivate", "export", "move"}) {
    x.linkUnder(self, rel);
  }
  x.close();
  x.leaf("name", disk->name);
  x.leaf("description", disk->description);
  if (!creationId.empty()) pendingCreation(x, self, creationId);
  x.linkUnder(self, "permissions").linkUnder(self, "statistics");
  const uint64_t totalSize = att.snapshotId.empty() ? inventory.totalSize(*disk) : shown.actualSize;
  diskCommon(x, shown, shown.imageId, totalSize, true, &att, &vm);
  x.close();
}

void Renderer::snapshotDisk(XmlOut& x, const Snapshot& snapshot, const SnapshotImage& image) const {
  x.open("disk", {{"id", image.diskId}});
  x.leaf("name", image.name);
  x.leaf("description", "");
  if (v3()) {
    x.leaf("alias", image.name);
    x.leaf("image_id", image.imageId);
    x.open("storage_domains").empty("storage_domain", {{"id", image.storageDomainId}}).close();
    x.leaf("size", image.provisionedSize);
    x.leaf("provisioned_size", image.provisionedSize);
    x.leaf("actual_size", image.actualSize);
    x.status("status", "ok", true);
    x.leaf("format", image.format);
    x.flag("sparse", image.sparse);
    x.flag("shareable", false);
    x.empty("snapshot", {{"id", snapshot.id}});
    x.leaf("storage_type", "image");
  } else {
    x.leaf("actual_size", image.actualSize);
    x.leaf("alias", image.name);
    x.leaf("content_type", "data");
    x.leaf("format", image.format);
    x.leaf("image_id", image.imageId);
    x.flag("propagate_errors", false);
    x.leaf("provisioned_size", image.provisionedSize);
    x.flag("shareable", false);
    x.flag("sparse", image.sparse);
    x.leaf("status", "ok");
    x.leaf("storage_type", "image");
    if (generation_.reportsTotalSize()) x.leaf("total_size", image.actualSize);
    x.flag("wipe_after_delete", false);
    x.empty("snapshot", {{"id", snapshot.id}});
    x.open("storage_domains").empty("storage_domain", {{"id", image.storageDomainId}}).close();
  }
  x.close();
}

void Renderer::diskAttachment(XmlOut& x, const Vm& vm, const DiskAttachment& att,
                              const AttachmentExtras& extras) const {
  std::string self =
      extras.self.empty() ? href("vms/" + vm.id + "/diskattachments/" + att.diskId) : extras.self;
  std::string logicalName = visibleLogicalName(vm, att);
  x.open("disk_attachment", {{"href", self}, {"id", att.diskId}});
  if (!extras.pendingCreation.empty()) pendingCreation(x, self, extras.pendingCreation);
  x.flag("active", att.active);
  x.flag("bootable", att.bootable);
  x.leaf("interface", att.interface);
  if (!logicalName.empty()) x.leaf("logical_name", logicalName);
  x.flag("pass_discard", false);
  x.flag("read_only", att.readOnly);
  x.flag("uses_scsi_reservation", false);
  const Disk* followed = extras.diskFrom ? extras.diskFrom->disks.find(att.diskId) : nullptr;
  if (followed) {
    disk(x, *extras.diskFrom, *followed, "disks", nullptr);
  } else {
    x.ref("disk", href("disks/" + att.diskId), att.diskId);
  }
  x.ref("vm", href("vms/" + vm.id), vm.id);
  x.close();
}

}  // namespace hvsim
