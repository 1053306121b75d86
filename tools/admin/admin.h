// Shared pieces of morvel-admin, the maintenance command: what a run
// reports and fixes, the table of the files the stores keep, and the
// commands themselves.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// ---- Findings ---------------------------------------------------------------

// How a fix is named in the output: "would remove", "removed".
struct FixVerb {
  const char* would;
  const char* did;
};
inline constexpr FixVerb kRemove{"would remove", "removed"};
inline constexpr FixVerb kQuarantine{"would move to quarantine", "moved to quarantine"};
inline constexpr FixVerb kDrop{"would drop", "dropped"};
inline constexpr FixVerb kTruncate{"would cut off", "cut off"};
inline constexpr FixVerb kRebuild{"would rebuild", "rebuilt"};

// One walk over the site, by `check` (report only), `repair` (report and
// fix each finding at once, under the locks the walk holds) or
// `repair --dry-run` (report what would be done).
class Run {
 public:
  enum Mode { kCheck, kRepair, kDryRun };
  explicit Run(Mode mode) : mode_(mode) {}
  Mode mode() const { return mode_; }
  // One finding, printed on a line of its own. `fix` repairs it (true: done);
  // without one, repair leaves the finding as it is.
  void finding(const std::string& what, const FixVerb* verb = nullptr, const std::function<bool()>& fix = {});
  // "checking 3/40 folders" on a terminal, overwritten in place.
  void progress(size_t done, size_t total) const;
  // Prints the summary; the exit status (0 clean or all fixed, 1 otherwise).
  int finish() const;

 private:
  Mode mode_;
  int found_ = 0, fixed_ = 0, left_ = 0, failed_ = 0;
};

// ---- The files the stores keep ---------------------------------------------

enum class Place { kData, kFolder, kAttach, kProgram };
enum class Role {
  kUnknown,    // none of the system's names: never touched
  kText,       // a comma-separated text store
  kRecords,    // fixed-size records of `record` bytes
  kBody,       // a message body "x<n>.dat"
  kMarks,      // a read-mark file "r<n>.dat"
  kTemporary,  // the temporary file of a replacement, or an upload
  kKnownDir,   // a directory the system keeps (the quarantine)
  kDerived,    // derived data, rebuilt from the record files
};
struct FileClass {
  Role role = Role::kUnknown;
  size_t record = 0;   // kRecords, kMarks: the record size
  int32_t number = 0;  // kBody, kMarks: the message number
};
FileClass classify(Place place, std::string_view name);

// ---- Commands ---------------------------------------------------------------

// The walks of check and repair: 0, 1 (see Run::finish) or 2 when the data
// directory cannot be read. `program_dir` holds the upload temporaries.
int scan_site(Run& run, const std::string& program_dir);
// Copies the data, attachment and picture directories into `dir`.
int backup_site(const std::string& dir);
int reset_password(const std::string& id);
// `admin_cmd`: this command with its settings file, for the hint printed
// beside the first password.
int init_site(const std::string& admin_cmd);

std::string random_password(size_t len);
