// The bits of the detail mask: which related objects the facade fetches for a record.
#pragma once

#include "hypervale/commonRecords.h"

namespace Hypervale {
namespace detail {

constexpr UINT64 kAll = ~UINT64{0};
constexpr UINT64 kVmDataCenter = 0x1 | 0x40;             // bits 0 and 6
constexpr UINT64 kVmSnapshots = 0x8;                     // bit 3
constexpr UINT64 kVmDisks = 0x10;                        // bit 4
constexpr UINT64 kHostDataCenter = 0x2000000;            // bit 25
constexpr UINT64 kHostVnicProfiles = 0x4000000;          // bit 26
constexpr UINT64 kHostVms = 0x20000000;                  // bit 29
constexpr UINT64 kDomainUsers = 0x400000000;             // bit 34: a domain's disks and their VMs
constexpr UINT64 kDataCenterClusters = 0x1000000000000;  // bit 48
constexpr UINT64 kDataCenterDomains = 0x2000000000000;   // bit 49
constexpr UINT64 kClusterVms = 0x10000000000000;         // bit 52
constexpr UINT64 kClusterHosts = 0x20000000000000;       // bit 53

}  // namespace detail
}  // namespace Hypervale
