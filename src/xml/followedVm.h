// A VM as an engine from 4.2 on answers it when asked to "follow" links: with its disk
// attachments (each with its disk) and its snapshots inline. Each part records whether the
// answer held it, so that whatever an engine left out is still read one request at a time.
#pragma once

#include <string>
#include <vector>

#include "hypervale/diskRecords.h"
#include "hypervale/vmRecord.h"

namespace Hypervale {

struct FollowedDisk {
  SDiskAttachmentInfoLib attachment;
  bool diskInline = false;  // the attachment holds the whole disk, not only a reference
  SDiskInfoLib disk;
};

struct FollowedDetails {
  bool hasAttachments = false;
  std::vector<FollowedDisk> disks;
  bool hasSnapshots = false;
  std::vector<SSnapshotInfoLib> snapshots;
};

struct FollowedVm {
  SVMInfoLib vm;
  FollowedDetails details;
};

inline const std::string& NameOf(const FollowedVm& followed) { return followed.vm.name; }

}  // namespace Hypervale
