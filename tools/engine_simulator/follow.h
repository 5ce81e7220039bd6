// The "follow" parameter of a GET of VMs or of a VM's disk attachments (engines from 4.2): the
// linked objects it names come inline in the same answer.
#pragma once

#include <string>

namespace hvsim {

// Links of a VM, or of its disk attachments, that a GET follows: the objects come inline.
struct Follow {
  bool diskAttachments = false;
  bool disks = false;  // the full disk inside each disk attachment
  bool snapshots = false;
  bool nics = false;
};

// The comma-separated links of "follow" for the route `pattern` ("vms", "vms/*",
// "vms/*/diskattachments", "vms/*/diskattachments/*"); throws Failure::badValue (400) for a link
// the route cannot follow, as the engine refuses it.
Follow parseFollow(const std::string& pattern, const std::string& text);

}  // namespace hvsim
