// Data centers, clusters, hosts, tags, logical networks, vNIC profiles and VM NICs.
#include "xml/rhevParser.h"
#include "xml/writeIfSet.h"

namespace Hypervale {

bool TzRhevParser::parseDataCenterInfo(const std::string& body, SDataCenterInfoLib& out) {
  return ParseObject(body, "data_center", out, true);
}

bool TzRhevParser::parseDataCenterInfoList(const std::string& body,
                                           std::vector<SDataCenterInfoLib>& out) {
  return ParseList(body, "data_centers", out, true);
}

bool TzRhevParser::parseClusterInfo(const std::string& body, SClusterInfoLib& out) {
  return ParseObject(body, "cluster", out, true);
}

bool TzRhevParser::parseClusterInfoList(const std::string& body,
                                        std::vector<SClusterInfoLib>& out) {
  return ParseList(body, "clusters", out, true);
}

bool TzRhevParser::parseHostInfo(const std::string& body, SHostInfoLib& out) {
  return ParseObject(body, "host", out, true);
}

bool TzRhevParser::parseHostInfoList(const std::string& body, std::vector<SHostInfoLib>& out) {
  return ParseList(body, "hosts", out, true);
}

bool TzRhevParser::parseTagInfo(const std::string& body, STagInfoLib& out) {
  return ParseObject(body, "tag", out, true);
}

bool TzRhevParser::parseTagInfoList(const std::string& body, std::vector<STagInfoLib>& out) {
  return ParseList(body, "tags", out, true);
}

bool TzRhevParser::parseNetworkInfo(const std::string& body, SNetworkInfoLib& out) {
  return ParseObject(body, "network", out, true);
}

bool TzRhevParser::parseNetworkInfoList(const std::string& body,
                                        std::vector<SNetworkInfoLib>& out) {
  return ParseList(body, "networks", out, true);
}

bool TzRhevParser::serializeNetworkInfo(const SNetworkInfoLib& in, std::string& out) {
  return SerializeObject(in, "network", out);
}

bool TzRhevParser::parseVnicProfileInfo(const std::string& body, SVnicProfileInfoLib& out) {
  return ParseObject(body, "vnic_profile", out, true);
}

bool TzRhevParser::parseVnicProfileInfoList(const std::string& body,
                                            std::vector<SVnicProfileInfoLib>& out) {
  return ParseList(body, "vnic_profiles", out, true);
}

bool TzRhevParser::serializeVnicProfileInfo(const SVnicProfileInfoLib& in, std::string& out) {
  return SerializeObject(in, "vnic_profile", out);
}

bool TzRhevParser::parseNicInfo(const std::string& body, SNicInfoLib& out) {
  return ParseObject(body, "nic", out, true);
}

bool TzRhevParser::parseNicInfoList(const std::string& body, std::vector<SNicInfoLib>& out) {
  return ParseList(body, "nics", out, true);
}

bool TzRhevParser::serializeNicInfo(const SNicInfoLib& in, std::string& out) {
  return SerializeObject(in, "nic", out);
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SDataCenterInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseStatusFromElement(child, "status", out.status)) return;
    if (ParseFromElementValue(child, "storage_format", out.storageFormat)) return;
    if (NameIs(child, "version")) {
      ConvertFromXML(child, out.version);
      return;
    }
    if (NameIs(child, "supported_versions")) {
      ConvertListFromXML(child, out.supportedVersions);
    }
  });
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SClusterInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element, [&](DOMNode* child) {
    ParseReferenceFromElement(child, "data_center", out.dataCenterHref, out.dataCenterId);
  });
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SHostInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "address", out.address)) return;
    if (ParseFromElementValue(child, "memory", out.memory)) return;
    if (ParseFromElementValue(child, "max_scheduling_memory", out.maxSchedulingMemory)) return;
    if (ParseStatusFromElement(child, "status", out.status)) return;
    if (ParseReferenceFromElement(child, "cluster", out.clusterHref, out.clusterId)) return;
    if (NameIs(child, "cpu")) {
      ForEachChildElement(child, [&](DOMNode* cpuChild) {
        if (ParseFromElementValue(cpuChild, "name", out.cpuName)) return;
        if (ParseFromElementValue(cpuChild, "speed", out.cpuSpeed)) return;
        if (!NameIs(cpuChild, "topology")) return;
        // v4 writes the topology as child elements, v3 as attributes.
        ForEachChildElement(cpuChild, [&](DOMNode* count) {
          if (ParseFromElementValue(count, "cores", out.cpuCores)) return;
          if (ParseFromElementValue(count, "sockets", out.cpuSockets)) return;
          ParseFromElementValue(count, "threads", out.cpuThreads);
        });
        ForEachAttribute(cpuChild, [&](DOMNode* attribute) {
          if (ParseFromAttributeValue(attribute, "cores", out.cpuCores)) return;
          if (ParseFromAttributeValue(attribute, "sockets", out.cpuSockets)) return;
          ParseFromAttributeValue(attribute, "threads", out.cpuThreads);
        });
      });
      return;
    }
    if (NameIs(child, "os")) {
      ForEachChildElement(child, [&](DOMNode* osChild) {
        if (ParseFromElementValue(osChild, "type", out.osType)) return;
        if (NameIs(osChild, "version")) {
          SVersionInfoLib version;
          ConvertFromXML(osChild, version);
          out.osVersion = version.fullVersion;
        }
      });
      ForEachAttribute(child, [&](DOMNode* attribute) {
        ParseFromAttributeValue(attribute, "type", out.osType);
      });
      return;
    }
    if (NameIs(child, "hardware_information")) {
      ForEachChildElement(child, [&](DOMNode* hardware) {
        if (ParseFromElementValue(hardware, "manufacturer", out.manufacturer)) return;
        ParseFromElementValue(hardware, "product_name", out.productName);
      });
      return;
    }
    if (NameIs(child, "summary")) {
      ForEachChildElement(child, [&](DOMNode* summary) {
        ParseFromElementValue(summary, "total", out.summaryTotal);
      });
    }
  });
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, STagInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element, [&](DOMNode* child) {
    ParseReferenceFromElement(child, "parent", out.parentHref, out.parentId);
  });
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SNetworkInfoLib& out) {
  return ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SVnicProfileInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element, [&](DOMNode* child) {
    std::string networkHref;  // only the network's id is kept
    ParseReferenceFromElement(child, "network", networkHref, out.networkId);
  });
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SNicInfoLib& out) {
  ConvertFromXML(element, static_cast<SBaseResourceInfoLib&>(out));
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "interface", out.interface)) return;
    if (ParseFromElementValue(child, "linked", out.linked)) return;
    if (ParseFromElementValue(child, "plugged", out.plugged)) return;
    std::string profileHref;  // only the profile's id is kept
    ParseReferenceFromElement(child, "vnic_profile", profileHref, out.vnicProfileId);
  });
  return true;
}

bool TzRhevParser::ConvertToXML(const SNetworkInfoLib& in, DOMNode* element) {
  AddElement(element, "name", in.name, false);
  return true;
}

bool TzRhevParser::ConvertToXML(const SVnicProfileInfoLib& in, DOMNode* element) {
  AddElement(element, "name", in.name, false);
  return true;
}

bool TzRhevParser::ConvertToXML(const SNicInfoLib& in, DOMNode* element) {
  AddElementIfSet(*this, element, "name", in.name);
  AddElementIfSet(*this, element, "interface", in.interface);
  if (!in.vnicProfileId.empty()) {
    DOMNode* profile = AddElement(element, "vnic_profile");
    AddAttribute(profile, "id", in.vnicProfileId, false);
  }
  return true;
}

}  // namespace Hypervale
