// Working memory of the pages that print many messages: see memory.h.
//
// glibc's main arena carves blocks from the top of the brk heap in address
// order. So the step pads the heap up to the next 2 MiB boundary with one
// block that is never freed (address space only: it is never written), and
// lets the same allocation extend the heap by a few MiB beyond it. Nothing
// has touched that room yet, so marking it MADV_HUGEPAGE lets the first
// block placed there fault in a whole huge page.
#include "app/memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "store/batch_read.h"

namespace {

constexpr uintptr_t kHuge = uintptr_t{2} << 20;
constexpr uintptr_t kRoom = uintptr_t{4} << 20;  // the heap's growth beyond the boundary
constexpr size_t kOutBuffer = 65536;

}  // namespace

void use_huge_heap() {
  static bool done = false;
  if (done) return;
  done = true;
  // Freed memory is kept for the rest of the request.
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  const struct mallinfo2 mi = mallinfo2();
  void* end = sbrk(0);
  if (end == reinterpret_cast<void*>(-1)) return;
  // The top block ends at the break; the next block is carved at its start.
  const uintptr_t top = reinterpret_cast<uintptr_t>(end) - mi.keepcost;
  const uintptr_t boundary = (top + (64 << 10) + kHuge - 1) & ~(kHuge - 1);
  // A block of n bytes takes n + 8 rounded up to 16; the one after it then
  // starts 16 bytes before the boundary and hands out memory from it on.
  if (top % 16 != 0) return;
  mallopt(M_TOP_PAD, static_cast<int>(kRoom));
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kRoom));
  void* pad = malloc(boundary - 16 - top - 8);
  mallopt(M_TOP_PAD, 128 << 10);  // glibc's default
  // Blocks up to 1 MiB come from the heap, and so from the huge pages.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  if (!pad) return;
  const uintptr_t brk_end = reinterpret_cast<uintptr_t>(sbrk(0));
  if (brk_end < boundary + kHuge) return;
  if (madvise(reinterpret_cast<void*>(boundary), (brk_end - boundary) & ~(kHuge - 1), MADV_HUGEPAGE) != 0)
    return;
  batch_rings_in_heap();
  // The response's buffer moves there too, for a large page fills all of
  // it. Called before the first output; what a buffer holds is written out
  // first all the same.
  if (char* buffer = static_cast<char*>(malloc(kOutBuffer))) {
    fflush(stdout);
    setvbuf(stdout, buffer, _IOFBF, kOutBuffer);
  }
}
