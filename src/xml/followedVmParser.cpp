// VMs with the objects an engine puts inline when asked to follow links.
#include "xml/followedVm.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace {

bool HasChildElement(const DOMNode* node) {
  for (const DOMNode* child = node->getFirstChild(); child; child = child->getNextSibling()) {
    if (child->getNodeType() == DOMNode::ELEMENT_NODE) return true;
  }
  return false;
}

}  // namespace

bool TzRhevParser::parseFollowedVMInfo(const std::string& body, FollowedVm& out) {
  return ParseObject(body, "vm", out, true);
}

bool TzRhevParser::parseFollowedVMInfoList(const std::string& body, std::vector<FollowedVm>& out) {
  return ParseList(body, "vms", out, true);
}

bool TzRhevParser::parseFollowedDiskAttachment(const std::string& body, FollowedDisk& out) {
  return ParseObject(body, "disk_attachment", out, true);
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, FollowedDisk& out) {
  if (!ConvertFromXML(element, out.attachment)) return false;
  ForEachChildElement(element, [&](DOMNode* disk) {
    // A bare reference (href and id only) is what an engine writes when the disk was not
    // followed.
    if (!NameIs(disk, "disk") || !HasChildElement(disk)) return;
    out.diskInline = true;
    ConvertFromXML(disk, out.disk);
  });
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, FollowedVm& out) {
  if (!ConvertFromXML(element, out.vm)) return false;
  FollowedDetails& details = out.details;
  ForEachChildElement(element, [&](DOMNode* child) {
    if (NameIs(child, "disk_attachments")) {
      details.hasAttachments = true;
      ForEachChildElement(child, [&](DOMNode* item) {
        if (!NameIs(item, "disk_attachment")) return;
        FollowedDisk followed;
        ConvertFromXML(item, followed);
        details.disks.push_back(std::move(followed));
      });
      return;
    }
    if (NameIs(child, "snapshots")) {
      std::vector<SSnapshotInfoLib> snapshots;
      // An item that does not read leaves the snapshots to be read on their own, which
      // reports it as that read always has.
      if (!ConvertListFromXML(child, snapshots)) return;
      details.hasSnapshots = true;
      details.snapshots = std::move(snapshots);
    }
  });
  return true;
}

}  // namespace Hypervale
