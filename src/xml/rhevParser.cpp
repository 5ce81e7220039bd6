// Document handling, the API root and version, and the readers shared by every record.
#include "xml/rhevParser.h"

#include "host/platformInfo.h"
#include "host/ubString.h"

namespace Hypervale {

TzRhevParser::TzRhevParser() : schemaVersion(0) {}

TzRhevParser::~TzRhevParser() = default;

DOMNode* TzRhevParser::OpenDocument(xml::ParsedXml& document, const std::string& body,
                                    const char* bufferId, const std::string& expected,
                                    bool logMismatch, const char* mismatchFormat) {
  const bool parsed = document.parse(body, bufferId);
  return CheckedRoot(document, parsed, body, expected, logMismatch, mismatchFormat);
}

DOMNode* TzRhevParser::CheckedRoot(const xml::ParsedXml& document, bool parsed,
                                   const std::string& body, const std::string& expected,
                                   bool logMismatch, const char* mismatchFormat) {
  if (!parsed) {
    // A probe of an error body (logMismatch false) reports on its own; keep it to a trace.
    if (logMismatch) {
      log.Error(HV_FUNC, "Failed to read XML body expected as [%s]: %s; body starts [%s]",
                expected.c_str(), document.error().c_str(), xml::Excerpt(body).c_str());
    } else {
      log.DebugLvl(HV_FUNC, 2, "Body is not readable XML [%s]: %s", expected.c_str(),
                   document.error().c_str());
    }
    return nullptr;
  }
  DOMNode* root = document.root();
  if (!expected.empty() && !NameIs(root, expected)) {
    if (logMismatch) {
      // The format is a fixed literal chosen by the two callers.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
      log.Error(HV_FUNC, mismatchFormat, GetNodeName(root).c_str(), expected.c_str());
#pragma GCC diagnostic pop
    }
    return nullptr;
  }
  return root;
}

bool TzRhevParser::ReportListItems(const std::string& listName,
                                   const std::vector<std::string>& failedItems, size_t failed,
                                   bool readerThrew, const std::string& expected) {
  for (const std::string& item : failedItems) {
    log.Error(HV_FUNC, "Failed to convert list item - [%s] from [%s]", item.c_str(),
              listName.c_str());
  }
  if (failed > failedItems.size()) {
    log.Error(HV_FUNC, "Failed to convert %zu more items from [%s]", failed - failedItems.size(),
              listName.c_str());
  }
  if (readerThrew) LogReadFailure(expected);
  return failed == 0 && !readerThrew;
}

TzRhevParser::ListBounds TzRhevParser::BoundsForList(size_t bodyBytes) {
  // Well above the largest engines' inventories.
  constexpr unsigned long kDefaultMaxItems = 200000;
  // Records of real engine items take less than their text; the allowance covers lists of
  // small items in small bodies.
  constexpr size_t kBodyMultiple = 4;
  constexpr size_t kRecordAllowance = 16u << 20;
  unsigned long maxItems = kDefaultMaxItems;
  if (!TzPlatformInfo().getNumber("VirtualServer", "nRhevMaxListItems", &maxItems) ||
      maxItems == 0) {
    maxItems = kDefaultMaxItems;
  }
  return {static_cast<size_t>(maxItems), kBodyMultiple * bodyBytes + kRecordAllowance};
}

void TzRhevParser::LogListOverflow(const std::string& expected, const ListBounds& bounds,
                                   bool tooMany) {
  if (tooMany) {
    log.Error(HV_FUNC, "Refusing the list [%s]: it holds more than %zu items (nRhevMaxListItems)",
              expected.c_str(), bounds.maxItems);
  } else {
    log.Error(HV_FUNC, "Refusing the list [%s]: its records would take more than %zu bytes",
              expected.c_str(), bounds.maxRecordBytes);
  }
}

void TzRhevParser::LogReadFailure(const std::string& expected) {
  log.Error(HV_FUNC, "Failed to read the values of [%s]: the XML library refused the document",
            expected.c_str());
}

bool TzRhevParser::WriteDocument(const xml::NewXmlDocument& document, const std::string& rootName,
                                 std::string& body) {
  if (document.write(body)) return true;
  LogWriteFailure(rootName, "the document writer failed");
  return false;
}

void TzRhevParser::LogWriteFailure(const std::string& rootName, const char* reason) {
  log.Error(HV_FUNC, "Failed to write [%s] document: %s", rootName.c_str(), reason);
}

bool TzRhevParser::DetectVersion(const std::string& body, SAPIInfoLib& apiInfo) {
  if (!parseAPIInfo(body, apiInfo)) return false;
  const SVersionInfoLib& version = apiInfo.productInfo.version;
  // Computed in 64 bits and clamped: a hostile version must not overflow into a negative
  // value that would select the oldest engine branches.
  const long long value = static_cast<long long>(version.major) * 1000000LL +
                          static_cast<long long>(version.minor) * 1000LL + version.build;
  schemaVersion = value > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(value);
  return true;
}

bool TzRhevParser::parseAPIInfo(const std::string& body, SAPIInfoLib& out) {
  return ParseObject(body, "api", out, true);
}

bool TzRhevParser::parseFault(const std::string& body, SFaultInfoLib& out, bool logMismatch) {
  return ParseObject(body, "fault", out, logMismatch);
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SBaseResourceInfoLib& out) {
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "name", out.name)) return;
    if (ParseFromElementValue(child, "description", out.description)) return;
    if (ParseFromElementValue(child, "comment", out.comment)) return;
    if (NameIs(child, "link")) {
      SLinkInfoLib link;
      ForEachAttribute(child, [&](DOMNode* attribute) {
        if (ParseFromAttributeValue(attribute, "href", link.href)) return;
        ParseFromAttributeValue(attribute, "rel", link.rel);
      });
      out.links[link.rel] = link.href;
    }
  });
  ForEachAttribute(element, [&](DOMNode* attribute) {
    if (ParseFromAttributeValue(attribute, "id", out.id)) return;
    ParseFromAttributeValue(attribute, "href", out.href);
  });
  return true;
}

bool TzRhevParser::ParseReferenceFromElement(DOMNode* child, const char* elementName,
                                             std::string& outHref, std::string& outId) {
  if (!NameIs(child, elementName)) return false;
  SBaseResourceInfoLib reference;
  ConvertFromXML(child, reference);
  outHref = reference.href;
  outId = reference.id;
  return true;
}

bool TzRhevParser::ParseStatusFromElement(DOMNode* child, const char* elementName,
                                          std::string& outStatus) {
  if (!NameIs(child, elementName)) return false;
  outStatus.clear();
  ForEachChildElement(
      child, [&](DOMNode* grandchild) { ParseFromElementValue(grandchild, "state", outStatus); });
  if (outStatus.empty()) {
    outStatus = GetElementStringValue(child);
    TrimString(outStatus, " \t");
  }
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SVersionInfoLib& out) {
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "major", out.major)) return;
    if (ParseFromElementValue(child, "minor", out.minor)) return;
    if (ParseFromElementValue(child, "build", out.build)) return;
    if (ParseFromElementValue(child, "revision", out.revision)) return;
    ParseFromElementValue(child, "full_version", out.fullVersion);
  });
  ForEachAttribute(element, [&](DOMNode* attribute) {
    if (ParseFromAttributeValue(attribute, "major", out.major)) return;
    if (ParseFromAttributeValue(attribute, "minor", out.minor)) return;
    if (ParseFromAttributeValue(attribute, "build", out.build)) return;
    if (ParseFromAttributeValue(attribute, "revision", out.revision)) return;
    ParseFromAttributeValue(attribute, "full_version", out.fullVersion);
  });
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SProductInfoLib& out) {
  // Engines answering in the v3 form write "full_version" beside "version", not inside it.
  // It counts whenever this document's "version" carries none, even when the record still
  // holds one from an earlier engine (a second connect of the same facade).
  std::string siblingFullVersion;
  bool versionHasFullVersion = false;
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "name", out.name)) return;
    if (ParseFromElementValue(child, "vendor", out.vendor)) return;
    if (NameIs(child, "version")) {
      SVersionInfoLib read;
      ConvertFromXML(child, read);
      versionHasFullVersion = !read.fullVersion.empty();
      ConvertFromXML(child, out.version);
      return;
    }
    ParseFromElementValue(child, "full_version", siblingFullVersion);
  });
  if (!versionHasFullVersion && !siblingFullVersion.empty()) {
    out.version.fullVersion = siblingFullVersion;
  }
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SAPIInfoLib& out) {
  ForEachChildElement(element, [&](DOMNode* child) {
    if (NameIs(child, "product_info")) ConvertFromXML(child, out.productInfo);
  });
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SFaultInfoLib& out) {
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "detail", out.detail)) return;
    ParseFromElementValue(child, "reason", out.reason);
  });
  return true;
}

bool TzRhevParser::ConvertFromXML(DOMNode* element, SCustomPropertyInfoLib& out) {
  ForEachChildElement(element, [&](DOMNode* child) {
    if (ParseFromElementValue(child, "name", out.name)) return;
    ParseFromElementValue(child, "value", out.value);
  });
  return true;
}

}  // namespace Hypervale
