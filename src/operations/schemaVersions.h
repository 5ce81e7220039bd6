// The engine generations the library tells apart, as schema versions (major * 1000000 +
// minor * 1000 + build of the engine's product version).
#pragma once

#include <cstdint>

namespace Hypervale {
namespace schema {

constexpr std::int32_t kApiV4 = 4000000;            // API v4 starts at 4.0.0
constexpr std::int32_t kDiskAttachments = 4000002;  // disk attachments replace a VM's disks
                                                    // (and activate what is attached)
constexpr std::int32_t kJobSearch = 4002000;  // jobs?search=correlation_id= answers that
                                              // request's jobs only (before: every job)
constexpr std::int32_t kFollow = 4002000;  // "follow" puts linked objects inline

}  // namespace schema
}  // namespace Hypervale
