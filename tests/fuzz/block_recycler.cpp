#include "fuzz/block_recycler.h"

#include <algorithm>
#include <new>
#include <xercesc/util/OutOfMemoryException.hpp>

namespace Hypervale {
namespace fuzz {

BlockRecycler::~BlockRecycler() {
  for (const Block& block : kept_) ::operator delete(block.p);
}

void* BlockRecycler::allocate(XMLSize_t size) {
  if (size >= kLargeBlock) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto kept = std::find_if(kept_.begin(), kept_.end(),
                                   [&](const Block& block) { return block.size == size; });
    if (kept != kept_.end()) {
      live_.push_back(*kept);
      keptBytes_ -= size;
      kept_.erase(kept);
      return live_.back().p;
    }
  }
  void* p = nullptr;
  try {
    p = ::operator new(size);
  } catch (const std::bad_alloc&) {
    // What Xerces' own manager throws, and what its callers expect.
    throw xercesc::OutOfMemoryException();
  }
  if (size >= kLargeBlock) {
    const std::lock_guard<std::mutex> lock(mutex_);
    live_.push_back({p, size});
  }
  return p;
}

void BlockRecycler::deallocate(void* p) {
  if (!p) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto live =
        std::find_if(live_.begin(), live_.end(), [&](const Block& block) { return block.p == p; });
    if (live != live_.end()) {
      const Block block = *live;
      live_.erase(live);
      const auto sameSize = std::count_if(kept_.begin(), kept_.end(),
                                          [&](const Block& b) { return b.size == block.size; });
      if (static_cast<std::size_t>(sameSize) < kKeptPerSize &&
          keptBytes_ + block.size <= kKeptBytes) {
        kept_.push_back(block);
        keptBytes_ += block.size;
        return;
      }
    }
  }
  ::operator delete(p);
}

}  // namespace fuzz
}  // namespace Hypervale
