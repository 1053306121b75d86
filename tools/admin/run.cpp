// How check and repair report: one line per finding, what repair did with
// it, progress on a terminal, and the summary with the exit status.
#include <unistd.h>

#include <cstdio>

#include "admin.h"

void Run::finding(const std::string& what, const FixVerb* verb, const std::function<bool()>& fix) {
  found_++;
  if (mode_ == kCheck) {
    printf("%s\n", what.c_str());
  } else if (!verb || !fix) {
    left_++;
    printf("left as it is: %s\n", what.c_str());
  } else if (mode_ == kDryRun) {
    printf("%s: %s\n", verb->would, what.c_str());
  } else if (fix()) {
    fixed_++;
    printf("%s: %s\n", verb->did, what.c_str());
  } else {
    failed_++;
    printf("FAILED, %s: %s\n", verb->would, what.c_str());
  }
  fflush(stdout);
}

void Run::progress(size_t done, size_t total) const {
  if (!isatty(STDERR_FILENO) || total == 0) return;
  fprintf(stderr, "\rfolders: %zu/%zu", done, total);
  if (done == total) fprintf(stderr, "\n");
}

int Run::finish() const {
  if (found_ == 0) {
    printf("clean: nothing found\n");
    return 0;
  }
  if (mode_ == kRepair) {
    printf("%d found: %d fixed, %d left as they are, %d failed\n", found_, fixed_, left_, failed_);
    return left_ + failed_ > 0 ? 1 : 0;
  }
  printf("%d found\n", found_);
  return 1;
}
