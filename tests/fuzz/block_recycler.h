// The XML library's memory for the fuzzer: what it allocates goes to operator new as with its
// own manager, except that blocks of kLargeBlock bytes and more are kept when freed and handed
// out again for the same size. Xerces builds a reader of about 160 KiB for every parse; the
// address sanitizer maps each block that large on its own and unmaps it once quarantined, so
// every parse paid a map, a dozen page faults and an unmap: about half of a small body's run.
// Only Xerces' own large blocks are kept, which no reader code points into; everything else
// keeps the sanitizer's quarantine and redzones.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>
#include <xercesc/framework/MemoryManager.hpp>

namespace Hypervale {
namespace fuzz {

class BlockRecycler : public xercesc::MemoryManager {
 public:
  // The sanitizer's allocator serves smaller blocks from pools it reuses anyway.
  static constexpr std::size_t kLargeBlock = 128 * 1024;
  // Kept blocks of one size, and of all sizes together.
  static constexpr std::size_t kKeptPerSize = 2;
  static constexpr std::size_t kKeptBytes = 4 * 1024 * 1024;

  BlockRecycler() = default;
  ~BlockRecycler() override;
  BlockRecycler(const BlockRecycler&) = delete;
  BlockRecycler& operator=(const BlockRecycler&) = delete;

  xercesc::MemoryManager* getExceptionMemoryManager() override { return this; }
  void* allocate(XMLSize_t size) override;
  void deallocate(void* p) override;

 private:
  struct Block {
    void* p;
    std::size_t size;
  };
  std::mutex mutex_;
  std::vector<Block> live_;  // large blocks handed out (a parse holds one or two)
  std::vector<Block> kept_;  // large blocks freed, for the next allocation of their size
  std::size_t keptBytes_ = 0;
};

}  // namespace fuzz
}  // namespace Hypervale
