#include "fuzz/fuzz_dispatch.h"

#include <climits>
#include <cstdio>
#include <functional>
#include <vector>

#include "host/xmlDocument.h"
#include "hypervale/host.h"
#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace fuzz {
namespace {

// API roots that put the parser on each side of every version test the writers make
// (3.5.0, 4.0.0 and 4.0.2), in both the v3 (attributes) and the v4 (children) form.
struct Generation {
  const char* body;
  std::int32_t schemaVersion;
};

const Generation kGenerations[kGenerationCount] = {
    {nullptr, 0},
    {"<api><product_info><version major=\"3\" minor=\"4\" build=\"0\" revision=\"0\"/>"
     "</product_info></api>",
     3004000},
    {"<api><product_info><version major=\"3\" minor=\"5\" build=\"0\" revision=\"0\"/>"
     "</product_info></api>",
     3005000},
    {"<api><product_info><version major=\"3\" minor=\"6\" build=\"7\" revision=\"0\"/>"
     "<full_version>3.6.7_master</full_version></product_info></api>",
     3006007},
    {"<api><product_info><version><build>0</build><major>4</major><minor>0</minor>"
     "</version></product_info></api>",
     4000000},
    {"<api><product_info><version><build>2</build><major>4</major><minor>0</minor>"
     "</version></product_info></api>",
     4000002},
    {"<api><product_info><version><build>4</build><full_version>4.0.4</full_version>"
     "<major>4</major><minor>0</minor></version></product_info></api>",
     4000004},
    {"<api><product_info><version><build>10</build><major>4</major><minor>3</minor>"
     "</version></product_info></api>",
     4003010},
};

const char* const kEntryPointNames[kEntryPointCount] = {
    "detect_version",
    "api_info",
    "fault_logged",
    "fault_quiet",
    "action_logged",
    "action_quiet",
    "last_error",
    "job",
    "job_list",
    "creation",
    "data_center",
    "data_center_list",
    "cluster",
    "cluster_list",
    "host",
    "host_list",
    "tag",
    "tag_list",
    "network",
    "network_list",
    "vnic_profile",
    "vnic_profile_list",
    "nic",
    "nic_list",
    "vm",
    "vm_list",
    "storage_domain",
    "storage_domain_list",
    "disk",
    "disk_list",
    "disk_attachment",
    "disk_attachment_list",
    "snapshot",
    "snapshot_list",
};

// Document element of each entry point's body, for building seeds from real bodies.
const char* const kRootNames[kEntryPointCount] = {
    "",
    "api",
    "fault",
    "",
    "action",
    "",
    "",
    "job",
    "jobs",
    "creation",
    "data_center",
    "data_centers",
    "cluster",
    "clusters",
    "host",
    "hosts",
    "tag",
    "tags",
    "network",
    "networks",
    "vnic_profile",
    "vnic_profiles",
    "nic",
    "nics",
    "vm",
    "vms",
    "storage_domain",
    "storage_domains",
    "disk",
    "disks",
    "disk_attachment",
    "disk_attachments",
    "snapshot",
    "snapshots",
};

// A printable, bounded rendering of a value for failure messages.
std::string Show(const std::string& text) {
  std::string shown = "\"";
  for (size_t i = 0; i < text.size() && i < 120; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    } else {
      shown += static_cast<char>(c);
    }
  }
  if (text.size() > 120) shown += "...";
  return shown + "\"";
}

std::string Show(std::uint64_t value) { return std::to_string(value); }
std::string Show(bool value) { return value ? "true" : "false"; }

// Collects the first broken check; later ones would only repeat its consequences.
class Outcome {
 public:
  void Fail(const std::string& what) {
    if (failure_.empty()) failure_ = what;
  }
  template <typename V>
  void Same(const char* field, const V& before, const V& after) {
    if (before == after) return;
    Fail(std::string("value changed by a write and read: ") + field + " " + Show(before) +
         " became " + Show(after));
  }
  bool failed() const { return !failure_.empty(); }
  const std::string& failure() const { return failure_; }
  RunStats& stats() { return stats_; }

 private:
  std::string failure_;
  RunStats stats_;
};

// True when some character of the UTF-8 text cannot appear in an XML 1.0 document. The
// parser also reads XML 1.1 bodies, whose character references reach control characters;
// a writer may refuse those values, and only those.
bool HasNonXml10Character(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::uint32_t code = 0;
    size_t length = 1;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F;
      length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F;
      length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07;
      length = 4;
    } else {
      return true;
    }
    if (i + length > text.size()) return true;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return true;
      code = (code << 6) | (next & 0x3F);
    }
    const bool allowed = code == 0x9 || code == 0xA || code == 0xD ||
                         (code >= 0x20 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) ||
                         (code >= 0x10000 && code <= 0x10FFFF);
    if (!allowed) return true;
    i += length;
  }
  return false;
}

bool AnyNonXml10(std::initializer_list<const std::string*> texts) {
  for (const std::string* text : texts) {
    if (HasNonXml10Character(*text)) return true;
  }
  return false;
}

// Per record: which texts its writer puts into the body, and which written values its reader
// gets back.
bool WriterMayRefuse(const SActionInfoLib& r) { return AnyNonXml10({&r.storageDomainId}); }
bool WriterMayRefuse(const SNetworkInfoLib& r) { return AnyNonXml10({&r.name}); }
bool WriterMayRefuse(const SVnicProfileInfoLib& r) { return AnyNonXml10({&r.name}); }
bool WriterMayRefuse(const SNicInfoLib& r) {
  return AnyNonXml10({&r.name, &r.interface, &r.vnicProfileId});
}
bool WriterMayRefuse(const SVMInfoLib& r) {
  return AnyNonXml10({&r.id, &r.name, &r.clusterName, &r.clusterId, &r.ovfData});
}
bool WriterMayRefuse(const SStorageDomainInfoLib& r) {
  return AnyNonXml10(
      {&r.name, &r.storageFormat, &r.storageType, &r.storageAddress, &r.storagePath, &r.hostName});
}
bool WriterMayRefuse(const SDiskInfoLib& r) {
  return AnyNonXml10({&r.id, &r.name, &r.imageId, &r.snapshotId, &r.storageDomainId,
                      &r.storageDomainName, &r.format, &r.interface});
}
bool WriterMayRefuse(const SDiskAttachmentInfoLib& r) {
  return AnyNonXml10({&r.interface, &r.diskId, &r.snapshotId});
}
bool WriterMayRefuse(const SSnapshotInfoLib& r) { return AnyNonXml10({&r.id, &r.description}); }

void CompareWritten(const SActionInfoLib&, const SActionInfoLib& after, std::int32_t,
                    Outcome& outcome) {
  // A request body carries none of the answer's values.
  if (!after.id.empty() || !after.status.empty() || !after.jobId.empty() ||
      !after.fault.detail.empty() || !after.fault.reason.empty()) {
    outcome.Fail("an action request body carries answer values");
  }
}
void CompareWritten(const SNetworkInfoLib& before, const SNetworkInfoLib& after, std::int32_t,
                    Outcome& outcome) {
  outcome.Same("name", before.name, after.name);
}
void CompareWritten(const SVnicProfileInfoLib& before, const SVnicProfileInfoLib& after,
                    std::int32_t, Outcome& outcome) {
  outcome.Same("name", before.name, after.name);
}
void CompareWritten(const SNicInfoLib& before, const SNicInfoLib& after, std::int32_t,
                    Outcome& outcome) {
  outcome.Same("name", before.name, after.name);
  outcome.Same("interface", before.interface, after.interface);
  outcome.Same("vnicProfileId", before.vnicProfileId, after.vnicProfileId);
}
void CompareWritten(const SVMInfoLib& before, const SVMInfoLib& after, std::int32_t version,
                    Outcome& outcome) {
  outcome.Same("id", before.id, after.id);
  outcome.Same("name", before.name, after.name);
  outcome.Same("clusterId", before.clusterId, after.clusterId);
  if (before.ovfData.empty() && version > 4000000) {
    outcome.Same("memory", std::uint64_t{before.memory}, std::uint64_t{after.memory});
  }
}
void CompareWritten(const SStorageDomainInfoLib& before, const SStorageDomainInfoLib& after,
                    std::int32_t, Outcome& outcome) {
  outcome.Same("name", before.name, after.name);
  if (!before.dataCenterName.empty()) return;
  outcome.Same("type", std::string("data"), after.type);
  outcome.Same("storageType", before.storageType, after.storageType);
  outcome.Same("storageAddress", before.storageAddress, after.storageAddress);
  outcome.Same("storagePath", before.storagePath, after.storagePath);
}
void CompareWritten(const SDiskInfoLib& before, const SDiskInfoLib& after, std::int32_t version,
                    Outcome& outcome) {
  outcome.Same("id", before.id, after.id);
  outcome.Same("name", before.name, after.name);
  outcome.Same("imageId", before.imageId, after.imageId);
  outcome.Same("snapshotId", before.snapshotId, after.snapshotId);
  outcome.Same("format", before.format, after.format);
  outcome.Same("interface", before.interface, after.interface);
  outcome.Same("sparse", before.sparse, after.sparse);
  outcome.Same("bootable", before.bootable, after.bootable);
  outcome.Same("shareable", before.shareable, after.shareable);
  outcome.Same("readOnly", before.readOnly, after.readOnly);
  if (version >= 4000000) {
    outcome.Same("provisionedSize", std::uint64_t{before.provisionedSize},
                 std::uint64_t{after.provisionedSize});
  }
}
void CompareWritten(const SDiskAttachmentInfoLib& before, const SDiskAttachmentInfoLib& after,
                    std::int32_t version, Outcome& outcome) {
  outcome.Same("interface", before.interface, after.interface);
  outcome.Same("bootable", before.bootable, after.bootable);
  outcome.Same("readOnly", before.readOnly, after.readOnly);
  outcome.Same("diskId", before.diskId, after.diskId);
  if (version > 4000002) outcome.Same("active", before.active, after.active);
}
void CompareWritten(const SSnapshotInfoLib& before, const SSnapshotInfoLib& after, std::int32_t,
                    Outcome& outcome) {
  outcome.Same("id", before.id, after.id);
  outcome.Same("description", before.description, after.description);
}

// The body without its XML declaration, to nest a written record inside a list.
std::string WithoutDeclaration(const std::string& body) {
  if (body.compare(0, 5, "<?xml") != 0) return body;
  const size_t end = body.find("?>");
  return end == std::string::npos ? body : body.substr(end + 2);
}

template <typename T>
using Read = std::function<bool(const std::string&, T&)>;
template <typename T>
using ReadList = std::function<bool(const std::string&, std::vector<T>&)>;
template <typename T>
using Write = std::function<bool(const T&, std::string&)>;

// Writes a parsed record into `written` and reads it back with the same reader. False when
// nothing was read back: the writer refused (allowed only for values XML 1.0 cannot carry)
// or the written body did not parse (a fault).
template <typename T>
bool RoundTripOne(TzRhevParser& parser, const T& record, const Write<T>& write, const Read<T>& read,
                  Outcome& outcome, std::string& written) {
  written.clear();
  if (!write(record, written)) {
    if (!WriterMayRefuse(record)) outcome.Fail("the writer refused a record read from a body");
    ++outcome.stats().refusedWrites;
    return false;
  }
  ++outcome.stats().roundTrips;
  T reread{};
  if (!read(written, reread)) {
    outcome.Fail("the written body does not parse again: " + Show(written));
    return false;
  }
  CompareWritten(record, reread, parser.getSchemaVersion(), outcome);
  return true;
}

template <typename T>
void CheckList(TzRhevParser& parser, const std::string& body, const char* listRoot,
               const ReadList<T>& readList, const Read<T>& read, const Write<T>& write,
               Outcome& outcome) {
  std::vector<T> records;
  if (!readList(body, records)) return;
  std::vector<T> written;
  std::string listBody = std::string("<") + listRoot + ">";
  for (const T& record : records) {
    std::string one;
    if (!RoundTripOne(parser, record, write, read, outcome, one)) continue;
    written.push_back(record);
    listBody += WithoutDeclaration(one);
  }
  if (outcome.failed()) return;
  listBody += std::string("</") + listRoot + ">";
  std::vector<T> reread;
  if (!readList(listBody, reread)) {
    outcome.Fail("the written records do not parse again as a list: " + Show(listBody));
    return;
  }
  if (reread.size() != written.size()) {
    outcome.Fail("the list read back holds " + std::to_string(reread.size()) +
                 " records instead of " + std::to_string(written.size()));
    return;
  }
  for (size_t i = 0; i < written.size(); ++i) {
    CompareWritten(written[i], reread[i], parser.getSchemaVersion(), outcome);
  }
}

// Object or list reader of a record type that has a writer: what parsed must survive a
// write and a read with the same reader.
template <typename T>
void CheckWritable(TzRhevParser& parser, const std::string& body, bool list, const char* listRoot,
                   bool (TzRhevParser::*readOne)(const std::string&, T&),
                   bool (TzRhevParser::*readMany)(const std::string&, std::vector<T>&),
                   bool (TzRhevParser::*writeOne)(const T&, std::string&), Outcome& outcome) {
  const Read<T> read = [&](const std::string& b, T& out) { return (parser.*readOne)(b, out); };
  const Write<T> write = [&](const T& in, std::string& out) { return (parser.*writeOne)(in, out); };
  if (!list) {
    T record{};
    std::string written;
    if (read(body, record)) RoundTripOne(parser, record, write, read, outcome, written);
    return;
  }
  const ReadList<T> readList = [&](const std::string& b, std::vector<T>& out) {
    return (parser.*readMany)(b, out);
  };
  CheckList(parser, body, listRoot, readList, read, write, outcome);
}

// Object or list reader of a record type that is only ever read.
template <typename T>
void CheckReadOnly(TzRhevParser& parser, const std::string& body, bool list,
                   bool (TzRhevParser::*readOne)(const std::string&, T&),
                   bool (TzRhevParser::*readMany)(const std::string&, std::vector<T>&)) {
  if (list) {
    std::vector<T> records;
    (parser.*readMany)(body, records);
  } else {
    T record{};
    (parser.*readOne)(body, record);
  }
}

// Probing for a fault or an action must not depend on whether mismatches are logged.
void CheckFault(TzRhevParser& parser, const std::string& body, bool logMismatch, Outcome& outcome) {
  SFaultInfoLib first;
  SFaultInfoLib second;
  const bool parsed = parser.parseFault(body, first, logMismatch);
  if (parser.parseFault(body, second, !logMismatch) != parsed || first.detail != second.detail ||
      first.reason != second.reason) {
    outcome.Fail("parseFault reads differently with and without mismatch logging");
  }
}

void CheckAction(TzRhevParser& parser, const std::string& body, bool logMismatch,
                 Outcome& outcome) {
  SActionInfoLib first;
  SActionInfoLib second;
  const bool parsed = parser.parseAction(body, first, logMismatch);
  if (parser.parseAction(body, second, !logMismatch) != parsed || first.status != second.status ||
      first.fault.detail != second.fault.detail || first.jobId != second.jobId) {
    outcome.Fail("parseAction reads differently with and without mismatch logging");
    return;
  }
  if (!parsed) return;
  const Read<SActionInfoLib> read = [&](const std::string& b, SActionInfoLib& out) {
    return parser.parseAction(b, out, logMismatch);
  };
  const Write<SActionInfoLib> write = [&](const SActionInfoLib& in, std::string& out) {
    return parser.serializeAction(in, out);
  };
  std::string written;
  RoundTripOne(parser, first, write, read, outcome, written);
}

void CheckDetectVersion(TzRhevParser& parser, const std::string& body, Outcome& outcome) {
  const std::int32_t before = parser.getSchemaVersion();
  SAPIInfoLib api;
  const bool detected = parser.DetectVersion(body, api);
  SAPIInfoLib again;
  if (parser.parseAPIInfo(body, again) != detected) {
    outcome.Fail("DetectVersion and parseAPIInfo disagree on whether the body reads");
    return;
  }
  if (!detected) {
    if (parser.getSchemaVersion() != before) {
      outcome.Fail("a failed DetectVersion changed the schema version");
    }
    return;
  }
  const SVersionInfoLib& version = api.productInfo.version;
  const long long full = version.major * 1000000LL + version.minor * 1000LL + version.build;
  const std::int32_t expected = full > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(full);
  if (parser.getSchemaVersion() != expected || expected < 0) {
    outcome.Fail("DetectVersion set " + std::to_string(parser.getSchemaVersion()) +
                 " for version " + std::to_string(full));
  }
}

void CheckLastError(TzRhevParser& parser, const std::string& body, Outcome& outcome) {
  TzRhevConnection connection;
  connection.setParser(&parser);
  connection.SetLastErrorFromResponse(body);
  // The fault body wins over an action body; anything else leaves the error untouched.
  std::string expected;
  SFaultInfoLib fault;
  SActionInfoLib action;
  if (body.empty()) {
  } else if (parser.parseFault(body, fault, false)) {
    expected = fault.detail;
  } else if (parser.parseAction(body, action, false)) {
    expected = action.fault.detail;
  }
  if (connection.getLastError() != expected) {
    outcome.Fail("SetLastErrorFromResponse kept " + Show(connection.getLastError()) +
                 " instead of " + Show(expected));
  }
}

// Whether the keyword of a document type declaration appears in one of the encodings the
// XML library reads (the UTF-16 and UTF-32 forms match either byte order). A body without it
// cannot carry a declaration, and is spared a second parse.
bool MayHoldDocumentType(const std::string& body) {
  static const std::string kKeywords[] = {
      "DOCTYPE", std::string("D\0O\0C\0T\0Y\0P\0E", 13),
      std::string("D\0\0\0O\0\0\0C\0\0\0T\0\0\0Y\0\0\0P\0\0\0E", 25),
      "\xC4\xD6\xC3\xE3\xE8\xD7\xC5",  // EBCDIC
  };
  for (const std::string& keyword : kKeywords) {
    if (body.find(keyword) != std::string::npos) return true;
  }
  return false;
}

void Dispatch(TzRhevParser& parser, unsigned selector, const std::string& body, Outcome& outcome) {
  TzRhevParser& p = parser;
  // From kDataCenter on, each object reader is followed by its list reader.
  const bool list = selector > kDataCenter && (selector - kDataCenter) % 2 == 1;
  switch (selector) {
    case kDetectVersion:
      return CheckDetectVersion(p, body, outcome);
    case kApiInfo: {
      SAPIInfoLib api;
      p.parseAPIInfo(body, api);
      return;
    }
    case kFaultLogged:
    case kFaultQuiet:
      return CheckFault(p, body, selector == kFaultLogged, outcome);
    case kActionLogged:
    case kActionQuiet:
      return CheckAction(p, body, selector == kActionLogged, outcome);
    case kLastErrorFromResponse:
      return CheckLastError(p, body, outcome);
    case kJob:
    case kJobList:
      return CheckReadOnly<SJobInfoLib>(p, body, selector == kJobList, &TzRhevParser::parseJobInfo,
                                        &TzRhevParser::parseJobInfoList);
    case kCreation: {
      SCreationInfoLib creation;
      p.parseCreation(body, creation);
      return;
    }
    case kDataCenter:
    case kDataCenterList:
      return CheckReadOnly<SDataCenterInfoLib>(p, body, list, &TzRhevParser::parseDataCenterInfo,
                                               &TzRhevParser::parseDataCenterInfoList);
    case kCluster:
    case kClusterList:
      return CheckReadOnly<SClusterInfoLib>(p, body, list, &TzRhevParser::parseClusterInfo,
                                            &TzRhevParser::parseClusterInfoList);
    case kHost:
    case kHostList:
      return CheckReadOnly<SHostInfoLib>(p, body, list, &TzRhevParser::parseHostInfo,
                                         &TzRhevParser::parseHostInfoList);
    case kTag:
    case kTagList:
      return CheckReadOnly<STagInfoLib>(p, body, list, &TzRhevParser::parseTagInfo,
                                        &TzRhevParser::parseTagInfoList);
    case kNetwork:
    case kNetworkList:
      return CheckWritable<SNetworkInfoLib>(
          p, body, list, "networks", &TzRhevParser::parseNetworkInfo,
          &TzRhevParser::parseNetworkInfoList, &TzRhevParser::serializeNetworkInfo, outcome);
    case kVnicProfile:
    case kVnicProfileList:
      return CheckWritable<SVnicProfileInfoLib>(p, body, list, "vnic_profiles",
                                                &TzRhevParser::parseVnicProfileInfo,
                                                &TzRhevParser::parseVnicProfileInfoList,
                                                &TzRhevParser::serializeVnicProfileInfo, outcome);
    case kNic:
    case kNicList:
      return CheckWritable<SNicInfoLib>(p, body, list, "nics", &TzRhevParser::parseNicInfo,
                                        &TzRhevParser::parseNicInfoList,
                                        &TzRhevParser::serializeNicInfo, outcome);
    case kVm:
    case kVmList:
      return CheckWritable<SVMInfoLib>(p, body, list, "vms", &TzRhevParser::parseVMInfo,
                                       &TzRhevParser::parseVMInfoList,
                                       &TzRhevParser::serializeVMInfo, outcome);
    case kStorageDomain:
    case kStorageDomainList:
      return CheckWritable<SStorageDomainInfoLib>(
          p, body, list, "storage_domains", &TzRhevParser::parseStorageDomainInfo,
          &TzRhevParser::parseStorageDomainInfoList, &TzRhevParser::serializeStorageDomainInfo,
          outcome);
    case kDisk:
    case kDiskList:
      return CheckWritable<SDiskInfoLib>(p, body, list, "disks", &TzRhevParser::parseDiskInfo,
                                         &TzRhevParser::parseDiskInfoList,
                                         &TzRhevParser::serializeDiskInfo, outcome);
    case kDiskAttachment:
    case kDiskAttachmentList:
      return CheckWritable<SDiskAttachmentInfoLib>(
          p, body, list, "disk_attachments", &TzRhevParser::parseDiskAttachmentInfo,
          &TzRhevParser::parseDiskAttachmentInfoList, &TzRhevParser::serializeDiskAttachmentInfo,
          outcome);
    case kSnapshot:
    case kSnapshotList:
      return CheckWritable<SSnapshotInfoLib>(
          p, body, list, "snapshots", &TzRhevParser::parseSnapshotInfo,
          &TzRhevParser::parseSnapshotInfoList, &TzRhevParser::serializeSnapshotInfo, outcome);
    default:
      return;
  }
}

}  // namespace

void SilenceLogging() {
  SetLogSink([](const LogLine&) {});
  // The highest level in use (trace level 4): every line is still formatted.
  SetLogThreshold(6);
}

std::string RunInput(const std::uint8_t* data, std::size_t size, RunStats* stats) {
  if (size == 0) return std::string();
  const unsigned selector = data[0] % kEntryPointCount;
  const unsigned generation = size > 1 ? data[1] % kGenerationCount : 0;
  const std::string body =
      size > 2 ? std::string(reinterpret_cast<const char*>(data) + 2, size - 2) : std::string();

  TzRhevParser parser;
  Outcome outcome;
  const Generation& chosen = kGenerations[generation];
  if (chosen.body) {
    SAPIInfoLib api;
    if (!parser.DetectVersion(chosen.body, api) ||
        parser.getSchemaVersion() != chosen.schemaVersion) {
      return "the fixed API root of generation " + std::to_string(generation) + " gave version " +
             std::to_string(parser.getSchemaVersion());
    }
  }
  // Every reader opens its body through ParsedXml; whatever it accepts must be free of a
  // document type declaration, in any encoding.
  xml::ParsedXml document;
  if (MayHoldDocumentType(body) && document.parse(body, "fuzz") && document.sawDocumentType()) {
    outcome.Fail("a body with a document type declaration was accepted");
  }
  Dispatch(parser, selector, body, outcome);
  if (stats) {
    stats->roundTrips += outcome.stats().roundTrips;
    stats->refusedWrites += outcome.stats().refusedWrites;
  }
  if (!outcome.failed()) return std::string();
  return std::string(EntryPointName(selector)) + " (generation " + std::to_string(generation) +
         "): " + outcome.failure();
}

const char* EntryPointName(unsigned selector) {
  return kEntryPointNames[selector % kEntryPointCount];
}

int SelectorForRoot(const std::string& rootName) {
  if (rootName.empty()) return -1;
  for (unsigned i = 0; i < kEntryPointCount; ++i) {
    if (rootName == kRootNames[i]) return static_cast<int>(i);
  }
  return -1;
}

std::string MakeInput(unsigned selector, unsigned generation, const std::string& body) {
  std::string input;
  input += static_cast<char>(selector);
  input += static_cast<char>(generation);
  return input + body;
}

}  // namespace fuzz
}  // namespace Hypervale
