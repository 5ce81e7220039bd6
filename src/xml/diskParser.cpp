// Disks, disk attachments and snapshots.
#include "xml/rhevParser.h"
#include "xml/writeIfSet.h"

namespace Hypervale {

bool TzRhevParser::parseDiskInfo(const std::string& body, SDiskInfoLib& out) {
  return ParseObject(body, "disk", out, true);
}

bool TzRhevParser::parseDiskInfoList(const std::string& body, std::vector<SDiskInfoLib>& out) {
  return ParseList(body, "disks", out, true);
}

bool TzRhevParser::serializeDiskInfo(const SDiskInfoLib& in, std::string& out) {
  return SerializeObject(in, "disk", out);
}

bool TzRhevParser::parseDiskAttachmentInfo(const std::string& body, SDiskAttachmentInfoLib& out) {
  return ParseObject(body, "disk_attachment", out, true);
}

bool TzRhevParser::parseDiskAttachmentInfoList(const std::string& body,
                                               std::vector<SDiskAttachmentInfoLib>& out) {
  return ParseList(body, "disk_attachments", out, true);
}

bool TzRhevParser::serializeDiskAttachmentInfo(const SDiskAttachmentInfoLib& in, std::string& out) {
  return SerializeObject(in, "disk_attachment", out);
}

bool TzRhevParser::parseSnapshotInfo(const std::string& body, SSnapshotInfoLib& out) {
  return ParseObject(body, "snapshot", out, true);
}

bool TzRhevParser::parseSnapshotInfoList(const std::string& body,
                                         std::vector<SSnapshotInfoLib>& out) {
  return ParseList(body, "snapshots", out, true);
}

bool TzRhevParser::serializeSnapshotInfo(const SSnapshotInfoLib& in, std::string& out) {
  return SerializeObject(in, "snapshot", out);
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SDiskInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  // A disk names its domain in a "storage_domains" list, a single "storage_domain", or both;
  // the list's first domain is preferred once the whole element has been seen. Only that one
  // is read: a list of a million domains makes no million records.
  SStorageDomainInfoLib singleDomain;
  SStorageDomainInfoLib listedDomain;
  bool listed = false;
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "total_size", out.totalSize)) return;
    if (ParseFromElementValue(child, "actual_size", out.actualSize)) return;
    if (ParseFromElementValue(child, "provisioned_size", out.provisionedSize)) return;
    if (ParseFromElementValue(child, "active", out.active)) return;
    if (ParseFromElementValue(child, "bootable", out.bootable)) return;
    if (ParseFromElementValue(child, "read_only", out.readOnly)) return;
    if (ParseFromElementValue(child, "shareable", out.shareable)) return;
    if (ParseFromElementValue(child, "sparse", out.sparse)) return;
    if (ParseFromElementValue(child, "image_id", out.imageId)) return;
    if (ParseFromElementValue(child, "interface", out.interface)) return;
    if (ParseFromElementValue(child, "format", out.format)) return;
    if (ParseFromElementValue(child, "logical_name", out.logicalName)) return;
    if (NameIs(child, "lun_storage")) {
      SLunStorageInfoLib lunStorage;  // nothing of it is kept
      ConvertFromXML(child, lunStorage);
      return;
    }
    if (ParseFromElementValue(child, "storage_type", out.storageType)) return;

    // A direct LUN disk has no image format of its own.
    if (out.storageType == "lun") out.format = "lun";
    if (ParseStatusFromElement(child, "status", out.status)) return;
    if (ParseReferenceFromElement(child, "snapshot", out.snapshotHref, out.snapshotId)) return;
    if (NameIs(child, "storage_domain")) {
      ConvertFromXML(child, singleDomain);
      return;
    }
    if (NameIs(child, "storage_domains") && !listed) {
      ForEachChildElement(child, [&](DOMNode* domain) {
        if (!listed) ConvertFromXML(domain, listedDomain);
        listed = true;
      });
    }
  });
  if (listed) {
    out.storageDomainHref = listedDomain.href;
    out.storageDomainId = listedDomain.id;
  } else if (!singleDomain.id.empty()) {
    out.storageDomainHref = singleDomain.href;
    out.storageDomainId = singleDomain.id;
  }
  return true;
}

bool TzRhevParser::ConvertToXML(const SDiskInfoLib& in, DOMNode* element) {
  // Texts that are not set are left out: a new disk has no id, and an update that carries
  // only flags must not blank the disk's name, format or interface.
  AddAttributeIfSet(*this, element, "id", in.id);
  AddElementIfSet(*this, element, "name", in.name);
  AddElementIfSet(*this, element, "image_id", in.imageId);
  if (!in.snapshotId.empty()) {
    DOMNode* snapshot = AddElement(element, "snapshot");
    AddAttribute(snapshot, "id", in.snapshotId, false);
  }
  // A storage domain is written only when named; an id alone writes none.
  if (!in.storageDomainName.empty()) {
    DOMNode* domains = AddElement(element, "storage_domains");
    DOMNode* domain = AddElement(domains, "storage_domain");
    AddAttributeIfSet(*this, domain, "id", in.storageDomainId);
    AddAttribute(domain, "name", in.storageDomainName, false);
  }
  if (in.provisionedSize != 0) {
    // API v3 calls the virtual size "size".
    AddElement(element, schemaVersion >= 4000000 ? "provisioned_size" : "size", in.provisionedSize);
  }
  if (in.sparse && in.actualSize != 0) AddElement(element, "initial_size", in.actualSize);
  AddElementIfSet(*this, element, "format", in.format);
  AddElementIfSet(*this, element, "interface", in.interface);
  AddElement(element, "sparse", in.sparse, false);
  AddElement(element, "bootable", in.bootable, false);
  AddElement(element, "shareable", in.shareable, false);
  AddElement(element, "read_only", in.readOnly, false);
  AddElement(element, "wipe_after_delete", in.wipeAfterDelete, false);
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SDiskAttachmentInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "interface", out.interface)) return;
    if (ParseFromElementValue(child, "active", out.active)) return;
    if (ParseFromElementValue(child, "bootable", out.bootable)) return;
    if (ParseFromElementValue(child, "read_only", out.readOnly)) return;
    if (ParseReferenceFromElement(child, "vm", out.vmHref, out.vmId)) return;
    ParseReferenceFromElement(child, "disk", out.diskHref, out.diskId);
  });
  return true;
}

bool TzRhevParser::ConvertToXML(const SDiskAttachmentInfoLib& in, DOMNode* element) {
  // Attachments exist from 4.0.2 on, and without "active" the engine's result is undefined
  // (sometimes activated, sometimes not).
  if (schemaVersion >= 4000002) AddElement(element, "active", in.active, false);
  AddElement(element, "bootable", in.bootable, false);
  AddElement(element, "read_only", in.readOnly, true);
  AddElementIfSet(*this, element, "interface", in.interface);
  if (in.diskId.empty()) return true;

  DOMNode* disk = AddElement(element, "disk");
  AddAttribute(disk, "id", in.diskId, false);
  AddElement(disk, "read_only", in.readOnly);
  if (!in.snapshotId.empty()) {
    DOMNode* snapshot = AddElement(disk, "snapshot");
    AddAttribute(snapshot, "id", in.snapshotId, false);
  }
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SSnapshotInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  // v3 writes the snapshot's kind as a direct "type" child; v4 as "snapshot_type".
  bool hasSnapshotType = false;
  bool hasV3Type = false;
  std::string v3Type;
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "snapshot_type", out.snapshotType)) {
      hasSnapshotType = true;
      return;
    }
    if (ParseFromElementValue(child, "date", out.date)) return;
    if (ParseStatusFromElement(child, "snapshot_status", out.snapshotStatus)) return;
    if (NameIs(child, "initialization")) {
      ForEachChildElement(child, [&](DOMNode* initialization) {
        if (!NameIs(initialization, "configuration")) return;
        ForEachChildElement(initialization, [&](DOMNode* configuration) {
          ParseFromElementValue(configuration, "data", out.ovfData);
        });
      });
      return;
    }
    if (ParseFromElementValue(child, "type", v3Type)) hasV3Type = true;
  });
  if (!hasSnapshotType && hasV3Type) out.snapshotType = v3Type;
  return true;
}

bool TzRhevParser::ConvertToXML(const SSnapshotInfoLib& in, DOMNode* element) {
  AddAttributeIfSet(*this, element, "id", in.id);  // a new snapshot has none yet
  AddElementIfSet(*this, element, "description", in.description);
  AddElement(element, "persist_memorystate", false, false);
  return true;
}

}  // namespace Hypervale
