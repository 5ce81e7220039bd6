// Actions, engine jobs and creation statuses.
#include "xml/rhevParser.h"

namespace Hypervale {

bool TzRhevParser::parseAction(const std::string& body, SActionInfoLib& out, bool logMismatch) {
  return ParseObject(body, "action", out, logMismatch);
}

bool TzRhevParser::serializeAction(const SActionInfoLib& in, std::string& out) {
  return SerializeObject(in, "action", out);
}

bool TzRhevParser::parseJobInfo(const std::string& body, SJobInfoLib& out) {
  return ParseObject(body, "job", out, true);
}

bool TzRhevParser::parseJobInfoList(const std::string& body, std::vector<SJobInfoLib>& out) {
  return ParseList(body, "jobs", out, true);
}

bool TzRhevParser::parseCreation(const std::string& body, SCreationInfoLib& out) {
  return ParseObject(body, "creation", out, true);
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SActionInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element, [&](DOMNode* child) {
    if (NameIs(child, "fault")) {
      ConvertFromXML(child, out.fault);
      return;
    }
    if (ParseStatusFromElement(child, "status", out.status)) return;
    ParseReferenceFromElement(child, "job", out.jobHref, out.jobId);
  });
  return true;
}

bool TzRhevParser::ConvertToXML(const SActionInfoLib& in, DOMNode* element) {
  // A detach is always written: a DELETE on a VM's "disks" sub-collection without it
  // deletes the disk itself, whichever engine version serves that older form.
  if (schemaVersion < 4000000 || in.detach) AddElement(element, "detach", in.detach, false);
  AddElement(element, "async", in.async, false);
  if (!in.storageDomainId.empty()) {
    DOMNode* storageDomain = AddElement(element, "storage_domain");
    AddAttribute(storageDomain, "id", in.storageDomainId, false);
  }
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SJobInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "start_time", out.startTime)) return;
    if (ParseFromElementValue(child, "end_time", out.endTime)) return;
    if (ParseFromElementValue(child, "last_updated", out.lastUpdated)) return;
    ParseStatusFromElement(child, "status", out.status);
  });
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SCreationInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element,
                      [&](DOMNode* child) { ParseStatusFromElement(child, "status", out.status); });
  return true;
}

}  // namespace Hypervale
