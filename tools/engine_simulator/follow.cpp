#include "engine_simulator/follow.h"

#include "engine_simulator/failure.h"
#include "engine_simulator/xml_in.h"

namespace hvsim {

namespace {

// The links a GET of VMs (or of a VM's disk attachments) can follow, and what each brings.
struct FollowLink {
  bool ofVm;  // else of disk attachments
  const char* link;
  Follow brings;
};
const FollowLink kFollowLinks[] = {
    {true, "disk_attachments", {true, false, false, false}},
    {true, "disk_attachments.disk", {true, true, false, false}},
    {true, "snapshots", {false, false, true, false}},
    {true, "nics", {false, false, false, true}},
    {false, "disk", {false, true, false, false}},
};

}  // namespace

Follow parseFollow(const std::string& pattern, const std::string& text) {
  const bool ofVm = pattern == std::string("vms") || pattern == std::string("vms/*");
  const bool ofAttachments = pattern == std::string("vms/*/diskattachments") ||
                             pattern == std::string("vms/*/diskattachments/*");
  Follow follow;
  size_t from = 0;
  while (from <= text.size()) {
    size_t comma = text.find(',', from);
    if (comma == std::string::npos) comma = text.size();
    const std::string link = trim(text.substr(from, comma - from));
    from = comma + 1;
    if (link.empty()) continue;
    const FollowLink* known = nullptr;
    for (const FollowLink& each : kFollowLinks) {
      if (link == each.link && (each.ofVm ? ofVm : ofAttachments)) known = &each;
    }
    if (!known) throw Failure::badValue("The link '" + link + "' cannot be followed here");
    follow.diskAttachments |= known->brings.diskAttachments;
    follow.disks |= known->brings.disks;
    follow.snapshots |= known->brings.snapshots;
    follow.nics |= known->brings.nics;
  }
  return follow;
}

}  // namespace hvsim
