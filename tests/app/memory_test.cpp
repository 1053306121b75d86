// The huge-page heap of the pages that print many messages.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/memory.h"

namespace {

// The VmFlags line of the mapping that holds `p`, from /proc/self/smaps.
std::string flags_of(const void* p) {
  const auto at = reinterpret_cast<uintptr_t>(p);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    uintptr_t lo = 0, hi = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> lo >> dash >> hi && dash == '-') inside = lo <= at && at < hi;
    if (inside && line.rfind("VmFlags:", 0) == 0) return line;
  }
  return "";
}

bool huge_pages_offered() {
  std::ifstream f("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string s;
  std::getline(f, s);
  return !s.empty() && s.find("[never]") == std::string::npos;
}

TEST(HugeHeap, LaterBlocksComeFromAdvisedMemoryAndTheHeapStaysSound) {
  if (!huge_pages_offered()) GTEST_SKIP() << "no transparent huge pages here";
  use_huge_heap();
  use_huge_heap();  // once per process
  // Blocks of every size keep their bytes while others come and go.
  std::vector<std::pair<char*, size_t>> held;
  for (size_t i = 0, n = 24; i < 300; i++, n = n * 7 % 70001 + 1) {
    char* p = static_cast<char*>(malloc(n));
    ASSERT_NE(p, nullptr);
    memset(p, static_cast<int>(i & 0xFF), n);
    held.emplace_back(p, n);
    if (i % 3 == 0) {
      free(held.front().first);
      held.erase(held.begin());
    }
  }
  for (size_t k = 0; k < held.size(); k++) {
    const auto [p, n] = held[k];
    EXPECT_TRUE(p[0] == p[n - 1]) << k;
  }
  EXPECT_NE(flags_of(held.back().first).find(" hg"), std::string::npos) << flags_of(held.back().first);
  for (const auto& [p, n] : held) free(p);
}

}  // namespace
