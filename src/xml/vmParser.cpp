// Virtual machines.
#include "xml/rhevParser.h"
#include "xml/writeIfSet.h"

namespace Hypervale {

bool TzRhevParser::parseVMInfo(const std::string& body, SVMInfoLib& out) {
  return ParseObject(body, "vm", out, true);
}

bool TzRhevParser::parseVMInfoList(const std::string& body, std::vector<SVMInfoLib>& out) {
  return ParseList(body, "vms", out, true);
}

bool TzRhevParser::serializeVMInfo(const SVMInfoLib& in, std::string& out) {
  return SerializeObject(in, "vm", out);
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SVMInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "memory", out.memory)) return;
    if (ParseFromElementValue(child, "fqdn", out.fqdn)) return;
    if (ParseStatusFromElement(child, "status", out.status)) return;
    if (ParseReferenceFromElement(child, "cluster", out.clusterHref, out.clusterId)) return;
    if (ParseReferenceFromElement(child, "host", out.hostHref, out.hostId)) return;
    if (NameIs(child, "cpu")) {
      ForEachChildElement(child, [&](DOMNode* cpuChild) {
        if (ParseFromElementValue(cpuChild, "architecture", out.architecture)) return;
        if (!NameIs(cpuChild, "topology")) return;
        ForEachChildElement(cpuChild, [&](DOMNode* count) {
          ParseFromElementValue(count, "sockets", out.sockets);
        });
        // v3 writes the topology as attributes (<topology sockets="2" cores="1"/>); as for
        // hosts, the attribute wins over a child element.
        ForEachAttribute(cpuChild, [&](DOMNode* attribute) {
          ParseFromAttributeValue(attribute, "sockets", out.sockets);
        });
      });
      return;
    }
    if (NameIs(child, "os")) {
      ForEachChildElement(
          child, [&](DOMNode* osChild) { ParseFromElementValue(osChild, "type", out.osType); });
      ForEachAttribute(child, [&](DOMNode* attribute) {
        ParseFromAttributeValue(attribute, "type", out.osType);
      });
      return;
    }
    if (NameIs(child, "guest_operating_system")) {
      ForEachChildElement(child, [&](DOMNode* guestChild) {
        if (!NameIs(guestChild, "version")) return;
        SVersionInfoLib version;
        ConvertFromXML(guestChild, version);
        out.guestOsFullVersion = version.fullVersion;
      });
      return;
    }
    if (NameIs(child, "guest_info")) {
      ForEachChildElement(
          child, [&](DOMNode* guestChild) { ParseFromElementValue(guestChild, "fqdn", out.fqdn); });
      return;
    }
    if (NameIs(child, "custom_properties")) {
      // A failing item is logged by the list step and left out; the VM itself still reads.
      ConvertListFromXML(child, out.customProperties);
    }
  });
  return true;
}

bool TzRhevParser::ConvertToXML(const SVMInfoLib& in, DOMNode* element) {
  // A new VM has no id yet; one from an OVF without a name takes the OVF's.
  AddAttributeIfSet(*this, element, "id", in.id);
  AddElementIfSet(*this, element, "name", in.name);
  DOMNode* templateElement = AddElement(element, "template");
  AddElement(templateElement, "name", "Blank");
  if (!in.clusterName.empty() || !in.clusterId.empty()) {
    DOMNode* cluster = AddElement(element, "cluster");
    AddElementIfSet(*this, cluster, "name", in.clusterName);
    AddAttributeIfSet(*this, cluster, "id", in.clusterId);
  }

  if (!in.ovfData.empty()) {
    DOMNode* initialization = AddElement(element, "initialization");
    DOMNode* configuration = AddElement(initialization, "configuration");
    AddElement(configuration, "data", in.ovfData, false);
    AddElement(configuration, "type", "ovf");
    // Engines from 3.5.0 on can give a VM created from an OVF new ids for its devices.
    if (in.id.empty() && schemaVersion >= 3005000) {
      AddElement(initialization, "regenerate_ids", true, false);
    }
  } else if (schemaVersion > 4000000) {
    // CPU and memory go only to engines after 4.0.0; older ones keep the template's, and
    // so does a VM whose record leaves them at 0 (the engine refuses a VM without memory).
    if (in.sockets != 0) {
      DOMNode* cpu = AddElement(element, "cpu");
      DOMNode* topology = AddElement(cpu, "topology");
      AddElement(topology, "cores", in.sockets);
    }
    if (in.memory != 0) AddElement(element, "memory", in.memory);
  }
  return true;
}

}  // namespace Hypervale
