// Turns engine response bodies into records and records into request bodies.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "host/sxmlParser.h"
#include "host/xmlDocument.h"
#include "host/xmlText.h"
#include "hypervale/actionRecords.h"
#include "hypervale/commonRecords.h"
#include "hypervale/diskRecords.h"
#include "hypervale/inventoryRecords.h"
#include "hypervale/storageDomainRecords.h"
#include "hypervale/vmRecord.h"

namespace Hypervale {

struct FollowedDisk;
struct FollowedVm;

class TzRhevParser : public TzSXMLParser {
 public:
  TzRhevParser();
  ~TzRhevParser() override;

  // While one lives, the list bodies this parser reads are not read again by their owner, so
  // the memory of what has been parsed goes back as the parse goes on (their bytes past the
  // first MiB read as zeros afterwards).
  class DisposableBodies {
   public:
    explicit DisposableBodies(TzRhevParser& parser) : parser_(parser), before_(parser.disposable) {
      parser_.disposable = true;
    }
    ~DisposableBodies() { parser_.disposable = before_; }
    DisposableBodies(const DisposableBodies&) = delete;
    DisposableBodies& operator=(const DisposableBodies&) = delete;

   private:
    TzRhevParser& parser_;
    const bool before_;
  };

  // Reads the API root and derives the schema version from the engine's product version:
  // major * 1000000 + minor * 1000 + build. On failure the schema version is unchanged.
  bool DetectVersion(const std::string& body, SAPIInfoLib& apiInfo);
  std::int32_t getSchemaVersion() const { return schemaVersion; }

  // Entry points.
  bool parseAPIInfo(const std::string& body, SAPIInfoLib& out);
  bool parseFault(const std::string& body, SFaultInfoLib& out, bool logMismatch);
  bool parseAction(const std::string& body, SActionInfoLib& out, bool logMismatch);
  bool serializeAction(const SActionInfoLib& in, std::string& out);
  bool parseJobInfo(const std::string& body, SJobInfoLib& out);
  bool parseJobInfoList(const std::string& body, std::vector<SJobInfoLib>& out);
  bool parseCreation(const std::string& body, SCreationInfoLib& out);

  // Inventory.
  bool parseDataCenterInfo(const std::string& body, SDataCenterInfoLib& out);
  bool parseDataCenterInfoList(const std::string& body, std::vector<SDataCenterInfoLib>& out);
  bool parseClusterInfo(const std::string& body, SClusterInfoLib& out);
  bool parseClusterInfoList(const std::string& body, std::vector<SClusterInfoLib>& out);
  bool parseHostInfo(const std::string& body, SHostInfoLib& out);
  bool parseHostInfoList(const std::string& body, std::vector<SHostInfoLib>& out);
  bool parseTagInfo(const std::string& body, STagInfoLib& out);
  bool parseTagInfoList(const std::string& body, std::vector<STagInfoLib>& out);
  bool parseNetworkInfo(const std::string& body, SNetworkInfoLib& out);
  bool parseNetworkInfoList(const std::string& body, std::vector<SNetworkInfoLib>& out);
  bool serializeNetworkInfo(const SNetworkInfoLib& in, std::string& out);
  bool parseVnicProfileInfo(const std::string& body, SVnicProfileInfoLib& out);
  bool parseVnicProfileInfoList(const std::string& body, std::vector<SVnicProfileInfoLib>& out);
  bool serializeVnicProfileInfo(const SVnicProfileInfoLib& in, std::string& out);
  bool parseNicInfo(const std::string& body, SNicInfoLib& out);
  bool parseNicInfoList(const std::string& body, std::vector<SNicInfoLib>& out);
  bool serializeNicInfo(const SNicInfoLib& in, std::string& out);

  // VMs.
  bool parseVMInfo(const std::string& body, SVMInfoLib& out);
  bool parseVMInfoList(const std::string& body, std::vector<SVMInfoLib>& out);
  bool serializeVMInfo(const SVMInfoLib& in, std::string& out);
  // VMs with their disk attachments, disks and snapshots inline, as far as the answer has them.
  bool parseFollowedVMInfo(const std::string& body, FollowedVm& out);
  bool parseFollowedVMInfoList(const std::string& body, std::vector<FollowedVm>& out);
  // A VM's attachment of a disk with the disk inline, as far as the answer has it.
  bool parseFollowedDiskAttachment(const std::string& body, FollowedDisk& out);

  // Storage domains.
  bool parseStorageDomainInfo(const std::string& body, SStorageDomainInfoLib& out);
  bool parseStorageDomainInfoList(const std::string& body, std::vector<SStorageDomainInfoLib>& out);
  bool serializeStorageDomainInfo(const SStorageDomainInfoLib& in, std::string& out);

  // Disks, disk attachments and snapshots.
  bool parseDiskInfo(const std::string& body, SDiskInfoLib& out);
  bool parseDiskInfoList(const std::string& body, std::vector<SDiskInfoLib>& out);
  bool serializeDiskInfo(const SDiskInfoLib& in, std::string& out);
  bool parseDiskAttachmentInfo(const std::string& body, SDiskAttachmentInfoLib& out);
  bool parseDiskAttachmentInfoList(const std::string& body,
                                   std::vector<SDiskAttachmentInfoLib>& out);
  bool serializeDiskAttachmentInfo(const SDiskAttachmentInfoLib& in, std::string& out);
  bool parseSnapshotInfo(const std::string& body, SSnapshotInfoLib& out);
  bool parseSnapshotInfoList(const std::string& body, std::vector<SSnapshotInfoLib>& out);
  bool serializeSnapshotInfo(const SSnapshotInfoLib& in, std::string& out);

  // Document steps shared by every entry point.
  template <typename T>
  bool ParseObject(const std::string& body, const std::string& expected, T& out, bool logMismatch);
  template <typename T>
  bool ParseList(const std::string& body, const std::string& expected, std::vector<T>& list,
                 bool logMismatch);
  template <typename T>
  bool ConvertListFromXML(DOMNode* listElement, std::vector<T>& list);
  template <typename T>
  bool SerializeObject(const T& record, const std::string& rootName, std::string& body);

  // Record readers: fill the record from the element without clearing it first.
  bool ConvertFromXML(DOMNode* element, SBaseResourceInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SVersionInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SProductInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SAPIInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SFaultInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SCustomPropertyInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SActionInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SJobInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SCreationInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SDataCenterInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SClusterInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SHostInfoLib& out);
  bool ConvertFromXML(DOMNode* element, STagInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SNetworkInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SVnicProfileInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SNicInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SVMInfoLib& out);
  bool ConvertFromXML(DOMNode* element, FollowedVm& out);
  bool ConvertFromXML(DOMNode* element, FollowedDisk& out);
  bool ConvertFromXML(DOMNode* element, SStorageDomainInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SLunStorageInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SDiskInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SDiskAttachmentInfoLib& out);
  bool ConvertFromXML(DOMNode* element, SSnapshotInfoLib& out);

  // Record writers.
  bool ConvertToXML(const SActionInfoLib& in, DOMNode* element);
  bool ConvertToXML(const SNetworkInfoLib& in, DOMNode* element);
  bool ConvertToXML(const SVnicProfileInfoLib& in, DOMNode* element);
  bool ConvertToXML(const SNicInfoLib& in, DOMNode* element);
  bool ConvertToXML(const SVMInfoLib& in, DOMNode* element);
  bool ConvertToXML(const SStorageDomainInfoLib& in, DOMNode* element);
  bool ConvertToXML(const SDiskInfoLib& in, DOMNode* element);
  bool ConvertToXML(const SDiskAttachmentInfoLib& in, DOMNode* element);
  bool ConvertToXML(const SSnapshotInfoLib& in, DOMNode* element);

  // Reads a reference child (attributes "href" and "id") when its name is `elementName`.
  bool ParseReferenceFromElement(DOMNode* child, const char* elementName, std::string& outHref,
                                 std::string& outId);
  // Reads a status child in the v3 form (<status><state>up</state></status>) or the v4
  // form (<status>up</status>) when its name is `elementName`.
  bool ParseStatusFromElement(DOMNode* child, const char* elementName, std::string& outStatus);
  // The same for element names held in strings.
  bool ParseReferenceFromElement(DOMNode* child, const std::string& elementName,
                                 std::string& outHref, std::string& outId) {
    return ParseReferenceFromElement(child, elementName.c_str(), outHref, outId);
  }
  bool ParseStatusFromElement(DOMNode* child, const std::string& elementName,
                              std::string& outStatus) {
    return ParseStatusFromElement(child, elementName.c_str(), outStatus);
  }

 protected:
  // Parses `body` and checks the document element; logs what went wrong.
  DOMNode* OpenDocument(xml::ParsedXml& document, const std::string& body, const char* bufferId,
                        const std::string& expected, bool logMismatch, const char* mismatchFormat);
  // The document element of a parsed body when it is the expected one; otherwise logs why the
  // body cannot be used (unreadable, or another document element) and returns null.
  DOMNode* CheckedRoot(const xml::ParsedXml& document, bool parsed, const std::string& body,
                       const std::string& expected, bool logMismatch, const char* mismatchFormat);
  // Logs the items of a list that could not be read (`failed` in all, the first of them
  // named); true when there were none.
  bool ReportListItems(const std::string& listName, const std::vector<std::string>& failedItems,
                       size_t failed, bool readerThrew, const std::string& expected);
  // What one list read may make, for a body of `bodyBytes`: at most "nRhevMaxListItems" items
  // (as the configuration holds it now), and records taking at most a small multiple of the
  // body.
  struct ListBounds {
    size_t maxItems;
    size_t maxRecordBytes;
  };
  static ListBounds BoundsForList(size_t bodyBytes);
  // Logs why a list was refused for going past its bounds.
  void LogListOverflow(const std::string& expected, const ListBounds& bounds, bool tooMany);
  bool WriteDocument(const xml::NewXmlDocument& document, const std::string& rootName,
                     std::string& body);
  void LogWriteFailure(const std::string& rootName, const char* reason);
  // Runs a record reader; anything the XML library throws becomes a logged false.
  template <typename Reader>
  bool ReadGuarded(const std::string& expected, Reader&& read);
  void LogReadFailure(const std::string& expected);

  std::int32_t schemaVersion;
  // The scanner every body this parser reads goes through, kept from body to body.
  xml::XmlReader xmlReader;
  bool disposable = false;  // see DisposableBodies
};

// Calls `visit` for each child element of `node`, in document order.
template <typename Visitor>
void ForEachChildElement(DOMNode* node, Visitor&& visit) {
  if (!node) return;
  for (DOMNode* child = node->getFirstChild(); child; child = child->getNextSibling()) {
    if (child->getNodeType() == DOMNode::ELEMENT_NODE) visit(child);
  }
}

// Calls `visit` for each attribute node of `node`.
template <typename Visitor>
void ForEachAttribute(DOMNode* node, Visitor&& visit) {
  if (!node) return;
  xercesc::DOMNamedNodeMap* attributes = node->getAttributes();
  if (!attributes) return;
  const XMLSize_t count = attributes->getLength();
  for (XMLSize_t i = 0; i < count; ++i) visit(attributes->item(i));
}

template <typename Reader>
bool TzRhevParser::ReadGuarded(const std::string& expected, Reader&& read) {
  try {
    return read();
  } catch (...) {
    LogReadFailure(expected);
    return false;
  }
}

template <typename T>
bool TzRhevParser::ParseObject(const std::string& body, const std::string& expected, T& out,
                               bool logMismatch) {
  xml::ParsedXml document(&xmlReader);
  DOMNode* root = OpenDocument(document, body, "ParseObject", expected, logMismatch,
                               "Object name is [%s], expected [%s]");
  return root && ReadGuarded(expected, [&] { return ConvertFromXML(root, out); });
}

// Items are read one at a time while the body is read, so the list never exists as one
// document. They are kept aside until the whole body proved readable: a malformed or foreign
// body, or one past the list's bounds, leaves the caller's list and the log as a reader of the
// whole document would.
template <typename T>
bool TzRhevParser::ParseList(const std::string& body, const std::string& expected,
                             std::vector<T>& list, bool logMismatch) {
  const ListBounds bounds = BoundsForList(body.size());
  const xml::RootCheck acceptRoot = [&](const DOMNode* root) {
    return expected.empty() || NameIs(root, expected);
  };
  constexpr size_t kNamedFailures = 16;
  std::vector<T> items;
  std::vector<std::string> failedItems;
  size_t failed = 0;
  size_t recordBytes = 0;  // the records and, at most, the texts they copied
  bool overflow = false;
  bool readerThrew = false;
  xml::ParsedXml document(&xmlReader);
  const bool parsed = document.parseItems(
      body, "ParseList", acceptRoot,
      [&](DOMNode* item, size_t textBytes) {
        recordBytes += sizeof(T) + textBytes;
        if (items.size() + failed >= bounds.maxItems || recordBytes > bounds.maxRecordBytes) {
          overflow = true;
          return false;
        }
        if (readerThrew) return true;
        if (items.empty()) {
          // Room for the items the body checks counted, within the list's bounds.
          items.reserve(std::min(
              {document.shape().items, bounds.maxItems, bounds.maxRecordBytes / sizeof(T)}));
        }
        try {
          T record{};
          if (ConvertFromXML(item, record)) {
            items.push_back(std::move(record));
          } else if (++failed <= kNamedFailures) {
            failedItems.push_back(GetNodeName(item));
          }
        } catch (...) {
          readerThrew = true;  // the items read so far are kept, as they always were
        }
        return true;
      },
      disposable);
  if (overflow) {
    LogListOverflow(expected, bounds, items.size() + failed >= bounds.maxItems);
    return false;
  }
  const DOMNode* root = CheckedRoot(document, parsed, body, expected, logMismatch,
                                    "List name is [%s], expected [%s]");
  if (!root) return false;
  if (list.empty()) {
    list = std::move(items);
  } else {
    list.insert(list.end(), std::make_move_iterator(items.begin()),
                std::make_move_iterator(items.end()));
  }
  return ReportListItems(GetNodeName(root), failedItems, failed, readerThrew, expected);
}

template <typename T>
bool TzRhevParser::ConvertListFromXML(DOMNode* listElement, std::vector<T>& list) {
  bool allConverted = true;
  ForEachChildElement(listElement, [&](DOMNode* child) {
    T item{};
    if (ConvertFromXML(child, item)) {
      list.push_back(std::move(item));
    } else {
      log.Error(HV_FUNC, "Failed to convert list item - [%s] from [%s]", GetNodeName(child).c_str(),
                GetNodeName(listElement).c_str());
      allConverted = false;
    }
  });
  return allConverted;
}

template <typename T>
bool TzRhevParser::SerializeObject(const T& record, const std::string& rootName,
                                   std::string& body) {
  if (!xml::XmlLibraryReady()) {
    LogWriteFailure(rootName, xml::kXmlLibraryNotReady);
    return false;
  }
  // Values come from callers and engine answers; a text Xerces refuses (invalid UTF-8)
  // must end as a refused write, never as an exception in the agent.
  try {
    const xml::NewXmlDocument document(rootName);
    writeRefusal.clear();
    ConvertToXML(record, document.root());
    if (!writeRefusal.empty()) {
      LogWriteFailure(rootName, writeRefusal.c_str());
      return false;
    }
    return WriteDocument(document, rootName, body);
  } catch (...) {
    LogWriteFailure(rootName, "a value could not be written as XML");
    return false;
  }
}

}  // namespace Hypervale
