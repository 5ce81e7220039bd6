#include "fuzz/fuzz_dispatch.h"

#include <algorithm>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "host/logText.h"
#include "host/xmlDocument.h"
#include "hypervale/host.h"
#include "transport/rhevConnection.h"
#include "xml/followedVm.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace fuzz {
namespace {

using P = TzRhevParser;
using Texts = std::vector<std::string>;

// Engine versions on each side of every version test the writers make (3.5.0, 4.0.0 and
// 4.0.2), announced in the v3 (attributes) or the v4 (children) form of the API root.
struct Generation {
  int major, minor, build;
};
const Generation kGenerations[kGenerationCount] = {
    {0, 0, 0},  // no version detected
    {3, 4, 0}, {3, 5, 0}, {3, 6, 7}, {4, 0, 0}, {4, 0, 2}, {4, 0, 4}, {4, 3, 10},
};

std::string ApiRoot(const Generation& g) {
  const std::string major = std::to_string(g.major), minor = std::to_string(g.minor),
                    build = std::to_string(g.build);
  return "<api><product_info>" +
         (g.major < 4
              ? "<version major=\"" + major + "\" minor=\"" + minor + "\" build=\"" + build + "\"/>"
              : "<version><major>" + major + "</major><minor>" + minor + "</minor><build>" + build +
                    "</build></version>") +
         "</product_info></api>";
}

// A printable, bounded rendering of values for failure messages.
std::string Show(const Texts& texts) {
  std::string shown;
  for (const std::string& text : texts) {
    shown += (shown.empty() ? "\"" : ", \"") + xml::Excerpt(text, 120) + "\"";
  }
  return "[" + shown + "]";
}

// Collects the first broken check; later ones would only repeat its consequences.
struct Outcome {
  void Fail(const std::string& what) {
    if (failure.empty()) failure = what;
  }
  std::string failure;
  RunStats stats;
};

std::string Flags(std::initializer_list<bool> flags) {
  std::string text;
  for (const bool flag : flags) text += flag ? '1' : '0';
  return text;
}

// Per record type that is written: the values a read of the body written from `source` gives
// back. Called with `source` itself for the values expected, then with the record read back.
Texts Kept(const SActionInfoLib& r, const SActionInfoLib& source, std::int32_t) {
  // A request body carries none of the answer's values.
  if (&r == &source) return {""};
  return {r.id + r.status + r.jobId + r.fault.detail + r.fault.reason};
}
template <typename Named>  // networks and vNIC profiles
Texts Kept(const Named& r, const Named&, std::int32_t) {
  return {r.name};
}
Texts Kept(const SNicInfoLib& r, const SNicInfoLib&, std::int32_t) {
  return {r.name, r.interface, r.vnicProfileId};
}
Texts Kept(const SVMInfoLib& r, const SVMInfoLib& source, std::int32_t version) {
  const bool memory = source.ovfData.empty() && version > 4000000;
  return {r.id, r.name, r.clusterId, memory ? std::to_string(r.memory) : ""};
}
Texts Kept(const SStorageDomainInfoLib& r, const SStorageDomainInfoLib& source, std::int32_t) {
  // Only a new domain (no data center yet) is written whole, and always as a data domain.
  if (!source.dataCenterName.empty()) return {r.name};
  return {r.name, &r == &source ? "data" : r.type, r.storageType, r.storageAddress, r.storagePath};
}
Texts Kept(const SDiskInfoLib& r, const SDiskInfoLib&, std::int32_t version) {
  const std::string size = version >= 4000000 ? std::to_string(r.provisionedSize) : "";
  return {r.id,     r.name,      r.imageId, r.snapshotId,
          r.format, r.interface, size,      Flags({r.sparse, r.bootable, r.shareable, r.readOnly})};
}
Texts Kept(const SDiskAttachmentInfoLib& r, const SDiskAttachmentInfoLib&, std::int32_t version) {
  return {r.interface, r.diskId, Flags({r.bootable, r.readOnly, version > 4000002 && r.active})};
}
Texts Kept(const SSnapshotInfoLib& r, const SSnapshotInfoLib&, std::int32_t) {
  return {r.id, r.description};
}

template <typename T>
void CompareWritten(const T& before, const T& after, std::int32_t version, Outcome& outcome) {
  const Texts expected = Kept(before, before, version);
  const Texts got = Kept(after, before, version);
  if (got != expected) outcome.Fail("written " + Show(expected) + ", read back " + Show(got));
}

// The record type a reader fills in (for decltype only).
template <typename T>
T RecordOf(bool (P::*)(const std::string&, T&));
template <typename T>
T RecordOf(bool (P::*)(const std::string&, T&, bool));

// Writes a record read from a body into `body`; false when the writer refused.
template <typename T>
bool Write(P& parser, bool (P::*write)(const T&, std::string&), const T& record, std::string& body,
           Outcome& outcome) {
  // Only XML 1.0 bodies are read, so no value read can hold a character a request cannot carry.
  if (!(parser.*write)(record, body)) {
    outcome.Fail("the writer refused a record read from a body");
    return false;
  }
  ++outcome.stats.roundTrips;
  return true;
}

// What was read survives a write and a read with the same reader.
template <typename T, typename Read>
void ReadBack(P& parser, const T& record, bool (P::*write)(const T&, std::string&),
              const Read& read, Outcome& outcome) {
  std::string written;
  if (!Write(parser, write, record, written, outcome)) return;
  T reread{};
  if (!read(written, reread)) {
    return outcome.Fail("the written body does not parse again: " + Show({written}));
  }
  CompareWritten(record, reread, parser.getSchemaVersion(), outcome);
}

// Each entry point's check; `root` is the document element its bodies have.
using Check = void (*)(P& parser, const std::string& body, const char* root, Outcome& outcome);

template <typename T>
struct IsList : std::false_type {};
template <typename T>
struct IsList<std::vector<T>> : std::true_type {};

// A list read stays within its bounds and leaves the caller's list as it was when it fails;
// true when it read, leaving only what it read in `records`.
template <auto ReadList, typename Records>
bool ReadBoundedList(P& parser, const std::string& body, Records& records, Outcome& outcome) {
  records.resize(1);  // one the caller held
  records[0].name = "held";
  if (!(parser.*ReadList)(body, records)) {
    if (records.size() != 1 || records[0].name != "held") {
      outcome.Fail("a failed list read changed the caller's list");
    }
    return false;
  }
  if (records.size() - 1 > kMaxListItems) {
    outcome.Fail("a list read made " + std::to_string(records.size() - 1) + " items");
    return false;
  }
  records.erase(records.begin());
  return true;
}

// An object or list reader; with a writer, what it read survives a write and a read.
template <auto Read, auto Write = nullptr>
void Reader(P& parser, const std::string& body, const char*, Outcome& outcome) {
  decltype(RecordOf(Read)) record{};
  const auto read = [&](const std::string& text, auto& out) { return (parser.*Read)(text, out); };
  if constexpr (IsList<decltype(record)>::value) {
    ReadBoundedList<Read>(parser, body, record, outcome);
  } else if constexpr (!std::is_same<decltype(Write), std::nullptr_t>::value) {
    if (read(body, record)) ReadBack(parser, record, Write, read, outcome);
  } else {
    read(body, record);
  }
}

// The records a list reader read, written and put together as a list, read back the same.
template <auto ReadList, auto WriteOne>
void List(P& parser, const std::string& body, const char* root, Outcome& outcome) {
  decltype(RecordOf(ReadList)) records;
  if (!ReadBoundedList<ReadList>(parser, body, records, outcome)) return;
  decltype(records) written;
  std::string listBody = std::string("<") + root + ">";
  for (const auto& record : records) {
    std::string one;
    if (!Write(parser, WriteOne, record, one, outcome)) continue;
    written.push_back(record);
    listBody += one.compare(0, 5, "<?xml") == 0 ? one.substr(one.find("?>") + 2) : one;
  }
  listBody += std::string("</") + root + ">";
  decltype(records) reread;
  if (!(parser.*ReadList)(listBody, reread) || reread.size() != written.size()) {
    return outcome.Fail("the " + std::to_string(written.size()) + " written records read back as " +
                        std::to_string(reread.size()) + " from " + Show({listBody}));
  }
  for (size_t i = 0; i < written.size(); ++i) {
    CompareWritten(written[i], reread[i], parser.getSchemaVersion(), outcome);
  }
}

Texts Summary(const SFaultInfoLib& f) { return {f.detail, f.reason}; }
Texts Summary(const SActionInfoLib& a) { return {a.status, a.fault.detail, a.jobId}; }

// Probing a body for a fault or an action reads the same whether mismatches are logged or not;
// an action read survives a write and a read.
template <auto Read, bool Logged>
void Probe(P& parser, const std::string& body, const char*, Outcome& outcome) {
  using T = decltype(RecordOf(Read));
  T first{}, second{};
  const bool parsed = (parser.*Read)(body, first, Logged);
  if ((parser.*Read)(body, second, !Logged) != parsed || Summary(first) != Summary(second)) {
    outcome.Fail("a probe reads differently with and without mismatch logging");
    return;
  }
  if constexpr (std::is_same<T, SActionInfoLib>::value) {
    const auto read = [&](const std::string& text, T& out) {
      return (parser.*Read)(text, out, Logged);
    };
    if (parsed) ReadBack(parser, first, &P::serializeAction, read, outcome);
  }
}

void CheckDetectVersion(P& parser, const std::string& body, const char*, Outcome& outcome) {
  const std::int32_t before = parser.getSchemaVersion();
  SAPIInfoLib api;
  SAPIInfoLib again;
  const bool detected = parser.DetectVersion(body, api);
  if (parser.parseAPIInfo(body, again) != detected) {
    return outcome.Fail("DetectVersion and parseAPIInfo disagree on whether the body reads");
  }
  const SVersionInfoLib& version = api.productInfo.version;
  const long long full = version.major * 1000000LL + version.minor * 1000LL + version.build;
  const auto expected = detected ? std::min<long long>(full, INT32_MAX) : before;
  if (parser.getSchemaVersion() != expected) {
    outcome.Fail("DetectVersion set " + std::to_string(parser.getSchemaVersion()) +
                 " for version " + std::to_string(full) + (detected ? "" : " (failed)"));
  }
}

// The longest fault detail a connection keeps as its last error.
constexpr std::size_t kLastErrorBytes = 4096;

void CheckLastError(P& parser, const std::string& body, const char*, Outcome& outcome) {
  TzRhevConnection connection;
  connection.setParser(&parser);
  connection.SetLastErrorFromResponse(body);
  // The fault body wins over an action body; anything else leaves the error untouched.
  SFaultInfoLib fault;
  SActionInfoLib action;
  const bool isFault = !body.empty() && parser.parseFault(body, fault, false);
  const bool isAction = !body.empty() && !isFault && parser.parseAction(body, action, false);
  const std::string& detail = isFault ? fault.detail : action.fault.detail;
  // Shown and logged by the agent, so cut like a log line and with control bytes escaped.
  const std::string expected =
      isFault || isAction ? host::Printable(host::Cut(detail, kLastErrorBytes)) : "";
  if (connection.getLastError() != expected) {
    outcome.Fail("SetLastErrorFromResponse kept " + Show({connection.getLastError()}) +
                 " instead of " + Show({expected}));
  }
}

Texts Fields(const SVMInfoLib& v) {
  return {v.id,
          v.name,
          v.href,
          v.description,
          v.status,
          v.hostId,
          v.clusterId,
          v.osType,
          v.fqdn,
          v.architecture,
          std::to_string(v.memory),
          std::to_string(v.sockets),
          std::to_string(v.links.size()),
          std::to_string(v.customProperties.size())};
}
Texts Fields(const SDiskAttachmentInfoLib& a) {
  return {a.id,     a.href,     a.name, a.interface,
          a.diskId, a.diskHref, a.vmId, Flags({a.bootable, a.active, a.readOnly})};
}

// VMs read with what an engine put inline are, as VMs, those the plain list reader reads; a
// failed read leaves the caller's list as it was.
void CheckFollowedVms(P& parser, const std::string& body, const char*, Outcome& outcome) {
  std::vector<FollowedVm> followed(1);
  followed[0].vm.name = "held";
  std::vector<SVMInfoLib> plain;
  const bool read = parser.parseFollowedVMInfoList(body, followed);
  if (read != parser.parseVMInfoList(body, plain)) {
    return outcome.Fail("the followed and the plain list reader disagree on whether it reads");
  }
  if (!read) {
    if (followed.size() != 1 || followed[0].vm.name != "held") {
      outcome.Fail("a failed list read changed the caller's list");
    }
    return;
  }
  if (followed.size() - 1 != plain.size()) return outcome.Fail("followed and plain VMs differ");
  for (size_t i = 0; i < plain.size(); ++i) {
    const FollowedVm& f = followed[i + 1];
    if (Fields(f.vm) != Fields(plain[i]) || !f.vm.disks.empty() || !f.vm.snapshots.empty()) {
      return outcome.Fail("a followed VM reads as " + Show(Fields(f.vm)) + ", plain as " +
                          Show(Fields(plain[i])));
    }
    if (!f.details.hasAttachments && !f.details.disks.empty()) {
      return outcome.Fail("disks from an answer without attachments");
    }
  }
}

// A followed attachment is, as an attachment, what the plain reader reads.
void CheckFollowedAttachment(P& parser, const std::string& body, const char*, Outcome& outcome) {
  FollowedDisk followed;
  SDiskAttachmentInfoLib plain;
  const bool read = parser.parseFollowedDiskAttachment(body, followed);
  if (read != parser.parseDiskAttachmentInfo(body, plain)) {
    return outcome.Fail("the followed and the plain attachment reader disagree");
  }
  if (read && Fields(followed.attachment) != Fields(plain)) {
    outcome.Fail("a followed attachment reads as " + Show(Fields(followed.attachment)) +
                 ", plain as " + Show(Fields(plain)));
  }
}

struct EntryPoint {
  const char* name;  // also names seeds and crash files (tests/fuzz/make_corpus.sh reads it here)
  const char* root;  // document element of its bodies
  Check check;
  std::size_t maxFuzzedBody = 0;  // see MaxFuzzedBody; 0: no limit
};

// Limits for the entry points that read each body twice, at about half a millisecond for a
// body of 2 KB that reads under the sanitizers: their seeds with room for mutations and for
// lists of more than nRhevMaxListItems small items, well short of -max_len.
// The followed VM seeds (a VM with its disks inline, one with its snapshots) take 2.2 KB.
constexpr std::size_t kMaxFollowedVms = 3 * 1024;
// An attachment with its disk inline as recorded takes under 3 KB.
constexpr std::size_t kMaxFollowedAttachment = 4 * 1024;
// An API root as engines send it takes up to 4.4 KB (its seeds, trimmed, 0.6 KB).
constexpr std::size_t kMaxApiRoot = 6 * 1024;

// The selector is an index into this table and is stored in corpora and regression files:
// append, never reorder.
const EntryPoint kEntryPoints[] = {
    {"detect_version", "api", CheckDetectVersion, kMaxApiRoot},
    {"api_info", "api", Reader<&P::parseAPIInfo>},
    {"fault_logged", "fault", Probe<&P::parseFault, true>},
    {"fault_quiet", "fault", Probe<&P::parseFault, false>},
    {"action_logged", "action", Probe<&P::parseAction, true>},
    {"action_quiet", "action", Probe<&P::parseAction, false>},
    {"last_error", "fault", CheckLastError},
    {"job", "job", Reader<&P::parseJobInfo>},
    {"job_list", "jobs", Reader<&P::parseJobInfoList>},
    {"creation", "creation", Reader<&P::parseCreation>},
    {"data_center", "data_center", Reader<&P::parseDataCenterInfo>},
    {"data_center_list", "data_centers", Reader<&P::parseDataCenterInfoList>},
    {"cluster", "cluster", Reader<&P::parseClusterInfo>},
    {"cluster_list", "clusters", Reader<&P::parseClusterInfoList>},
    {"host", "host", Reader<&P::parseHostInfo>},
    {"host_list", "hosts", Reader<&P::parseHostInfoList>},
    {"tag", "tag", Reader<&P::parseTagInfo>},
    {"tag_list", "tags", Reader<&P::parseTagInfoList>},
    {"network", "network", Reader<&P::parseNetworkInfo, &P::serializeNetworkInfo>},
    {"network_list", "networks", List<&P::parseNetworkInfoList, &P::serializeNetworkInfo>},
    {"vnic_profile", "vnic_profile",
     Reader<&P::parseVnicProfileInfo, &P::serializeVnicProfileInfo>},
    {"vnic_profile_list", "vnic_profiles",
     List<&P::parseVnicProfileInfoList, &P::serializeVnicProfileInfo>},
    {"nic", "nic", Reader<&P::parseNicInfo, &P::serializeNicInfo>},
    {"nic_list", "nics", List<&P::parseNicInfoList, &P::serializeNicInfo>},
    {"vm", "vm", Reader<&P::parseVMInfo, &P::serializeVMInfo>},
    {"vm_list", "vms", List<&P::parseVMInfoList, &P::serializeVMInfo>},
    {"storage_domain", "storage_domain",
     Reader<&P::parseStorageDomainInfo, &P::serializeStorageDomainInfo>},
    {"storage_domain_list", "storage_domains",
     List<&P::parseStorageDomainInfoList, &P::serializeStorageDomainInfo>},
    {"disk", "disk", Reader<&P::parseDiskInfo, &P::serializeDiskInfo>},
    {"disk_list", "disks", List<&P::parseDiskInfoList, &P::serializeDiskInfo>},
    {"disk_attachment", "disk_attachment",
     Reader<&P::parseDiskAttachmentInfo, &P::serializeDiskAttachmentInfo>},
    {"disk_attachment_list", "disk_attachments",
     List<&P::parseDiskAttachmentInfoList, &P::serializeDiskAttachmentInfo>},
    {"snapshot", "snapshot", Reader<&P::parseSnapshotInfo, &P::serializeSnapshotInfo>},
    {"snapshot_list", "snapshots", List<&P::parseSnapshotInfoList, &P::serializeSnapshotInfo>},
    {"followed_vm_list", "vms", CheckFollowedVms, kMaxFollowedVms},
    {"followed_disk_attachment", "disk_attachment", CheckFollowedAttachment,
     kMaxFollowedAttachment},
};
static_assert(sizeof kEntryPoints / sizeof kEntryPoints[0] == kEntryPointCount,
              "one row per entry point");

// Whether the keyword of a document type declaration appears in one of the encodings the
// XML library reads (the UTF-16 and UTF-32 forms match either byte order). A body without it
// cannot carry a declaration, and is spared a second parse.
bool MayHoldDocumentType(const std::string& body) {
  static const std::string kKeywords[] = {
      "DOCTYPE", std::string("D\0O\0C\0T\0Y\0P\0E", 13),
      std::string("D\0\0\0O\0\0\0C\0\0\0T\0\0\0Y\0\0\0P\0\0\0E", 25),
      "\xC4\xD6\xC3\xE3\xE8\xD7\xC5",  // EBCDIC
  };
  return std::any_of(std::begin(kKeywords), std::end(kKeywords),
                     [&](const std::string& k) { return body.find(k) != std::string::npos; });
}

}  // namespace

Dispatcher::Dispatcher() {
  // Small, so the list readers meet their bound.
  SetConfigValue("VirtualServer", "nRhevMaxListItems", std::to_string(kMaxListItems));
  for (unsigned generation = 0; generation < kGenerationCount; ++generation) {
    const Generation& g = kGenerations[generation];
    P& parser = parsers_[generation];
    SAPIInfoLib api;
    if (g.major != 0 &&
        (!parser.DetectVersion(ApiRoot(g), api) ||
         parser.getSchemaVersion() != g.major * 1000000 + g.minor * 1000 + g.build)) {
      setupFailure_ = "the fixed API root of generation " + std::to_string(generation) +
                      " gave version " + std::to_string(parser.getSchemaVersion());
      return;
    }
  }
}

std::string Dispatcher::Run(const std::uint8_t* data, std::size_t size, RunStats* stats) const {
  if (size == 0) return std::string();
  if (!setupFailure_.empty()) return setupFailure_;
  const unsigned selector = SelectorOfInput(data[0]);
  const unsigned generation = size > 1 ? data[1] % kGenerationCount : 0;
  const std::string body =
      size > 2 ? std::string(reinterpret_cast<const char*>(data) + 2, size - 2) : std::string();

  // An entry point may change the parser (DetectVersion), never the next input's.
  P& parser = working_[generation];
  parser = parsers_[generation];
  Outcome outcome;
  // Every reader opens its body through ParsedXml; whatever it accepts must be free of a
  // document type declaration, in any encoding.
  xml::ParsedXml document(&documentTypeReader_);
  if (MayHoldDocumentType(body) && document.parse(body, "fuzz") && document.sawDocumentType()) {
    outcome.Fail("a body with a document type declaration was accepted");
  }
  const EntryPoint& entry = kEntryPoints[selector];
  entry.check(parser, body, entry.root, outcome);
  if (stats) stats->roundTrips += outcome.stats.roundTrips;
  if (outcome.failure.empty()) return std::string();
  return std::string(entry.name) + " (generation " + std::to_string(generation) +
         "): " + outcome.failure;
}

unsigned SelectorOfInput(std::uint8_t first) { return first % kEntryPointCount; }

const char* NameOf(unsigned selector) { return kEntryPoints[selector % kEntryPointCount].name; }

std::size_t MaxFuzzedBody(unsigned selector) {
  return kEntryPoints[selector % kEntryPointCount].maxFuzzedBody;
}

unsigned SelectorOf(const std::string& name) {
  for (unsigned i = 0; i < kEntryPointCount; ++i) {
    if (name == kEntryPoints[i].name) return i;
  }
  throw std::invalid_argument("no entry point " + name);
}

int SelectorForRoot(const std::string& rootName) {
  for (unsigned i = 0; i < kEntryPointCount; ++i) {
    if (rootName == kEntryPoints[i].root) return static_cast<int>(i);
  }
  return -1;
}

std::string MakeInput(unsigned selector, unsigned generation, const std::string& body) {
  return std::string{static_cast<char>(selector), static_cast<char>(generation)} + body;
}

}  // namespace fuzz
}  // namespace Hypervale
