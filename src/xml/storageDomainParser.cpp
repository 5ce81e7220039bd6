// Storage domains and the LUN storage of direct LUN disks.
#include "xml/rhevParser.h"
#include "xml/writeIfSet.h"

namespace Hypervale {

bool TzRhevParser::parseStorageDomainInfo(const std::string& body, SStorageDomainInfoLib& out) {
  return ParseObject(body, "storage_domain", out, true);
}

bool TzRhevParser::parseStorageDomainInfoList(const std::string& body,
                                              std::vector<SStorageDomainInfoLib>& out) {
  return ParseList(body, "storage_domains", out, true);
}

bool TzRhevParser::serializeStorageDomainInfo(const SStorageDomainInfoLib& in, std::string& out) {
  return SerializeObject(in, "storage_domain", out);
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SStorageDomainInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "type", out.type)) return;
    if (ParseFromElementValue(child, "used", out.used)) return;
    if (ParseFromElementValue(child, "available", out.available)) return;
    if (ParseFromElementValue(child, "committed", out.committed)) return;
    if (ParseStatusFromElement(child, "status", out.status)) return;
    if (NameIs(child, "data_centers")) {
      ForEachChildElement(child, [&](DOMNode* dataCenter) {
        std::string href;
        std::string id;
        if (ParseReferenceFromElement(dataCenter, "data_center", href, id) && !id.empty()) {
          out.dataCenterIds.push_back(id);
        }
      });
      return;
    }
    if (NameIs(child, "storage")) {
      ForEachChildElement(child, [&](DOMNode* storage) {
        if (ParseFromElementValue(storage, "address", out.storageAddress)) return;
        if (ParseFromElementValue(storage, "path", out.storagePath)) return;
        ParseFromElementValue(storage, "type", out.storageType);
      });
    }
  });
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SLunStorageInfoLib& out) {
  return ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
}

bool TzRhevParser::ConvertToXML(const SStorageDomainInfoLib& in, DOMNode* element) {
  AddElement(element, "name", in.name, false);
  // A data center named: the body attaches an existing domain, which needs the name only.
  if (!in.dataCenterName.empty()) return true;

  // Only data domains are created, whatever `type` holds.
  AddElement(element, "type", "data");
  AddElementIfSet(*this, element, "storage_format", in.storageFormat);
  DOMNode* storage = AddElement(element, "storage");
  AddElementIfSet(*this, storage, "type", in.storageType);
  AddElementIfSet(*this, storage, "address", in.storageAddress);
  AddElementIfSet(*this, storage, "path", in.storagePath);
  if (!in.hostName.empty()) {
    DOMNode* host = AddElement(element, "host");
    AddElement(host, "name", in.hostName, false);
  }
  return true;
}

}  // namespace Hypervale
