// The ID application store. Every change runs under the data directory's
// lock; deletions and the purge rewrite the file once, through a temporary
// file renamed over it, so an application filed meanwhile waits for the lock
// instead of being lost.
#include "store/guest_user.h"

#include <cstring>
#include <string>
#include <vector>

#include "store/records.h"

GUEST_USER sGUEST_USER;

namespace {

std::string path() { return data_file("g_user.dat"); }
std::string tmp_path() { return path() + ".tmp"; }

bool same_id(const GUEST_USER& g, const char* id) {
  return strncmp(g.USER_ID, id, sizeof g.USER_ID) == 0;
}

// Position of the k-th record of `id`, or -1.
int64_t nth_of(const std::vector<GUEST_USER>& recs, int64_t k, const char* id) {
  if (k < 0) return -1;
  for (size_t i = 0; i < recs.size(); i++)
    if (same_id(recs[i], id) && k-- == 0) return static_cast<int64_t>(i);
  return -1;
}

}  // namespace

int ReadGUEST_USER(int64_t index) {
  std::vector<GUEST_USER> recs;
  if (index < 0 || !load_records(path().c_str(), recs)) return -1;
  if (static_cast<uint64_t>(index) >= recs.size()) return -1;
  sGUEST_USER = recs[static_cast<size_t>(index)];
  return 0;
}

int ReadGUEST_USER2(int64_t k, const char* user_id) {
  std::vector<GUEST_USER> recs;
  if (!load_records(path().c_str(), recs)) return -1;
  int64_t i = nth_of(recs, k, user_id);
  if (i < 0) return -1;
  sGUEST_USER = recs[static_cast<size_t>(i)];
  return 0;
}

int WriteGUEST_USER() {
  std::string p = path();
  DirLock lock(p.c_str());
  std::string bytes;
  if (!load_bytes_b_open(p.c_str(), bytes)) return -1;
  std::vector<GUEST_USER> recs;
  split_records(bytes, recs);
  bool refused = false;
  for (const GUEST_USER& g : recs) {
    if (!same_id(g, sGUEST_USER.USER_ID)) continue;
    if (g.OK_NG != GUEST_REFUSED) return -1;
    refused = true;
  }
  if (!refused) return put_record(p.c_str(), recs.size(), &sGUEST_USER, sizeof sGUEST_USER);
  std::erase_if(recs, [](const GUEST_USER& g) { return same_id(g, sGUEST_USER.USER_ID); });
  recs.push_back(sGUEST_USER);
  return save_records(p.c_str(), tmp_path().c_str(), recs);
}

int WriteGUEST_USER2(int64_t k, const char* user_id) {
  std::string p = path();
  DirLock lock(p.c_str());
  std::vector<GUEST_USER> recs;
  if (!load_records(p.c_str(), recs)) return -1;
  int64_t i = nth_of(recs, k, user_id);
  if (i < 0) return -1;
  return put_record(p.c_str(), static_cast<size_t>(i), &sGUEST_USER, sizeof sGUEST_USER);
}

int DeleteGUEST_USER(int64_t index) {
  std::string p = path();
  DirLock lock(p.c_str());
  std::vector<GUEST_USER> recs;
  if (index < 0 || !load_records(p.c_str(), recs)) return -1;
  if (static_cast<uint64_t>(index) >= recs.size()) return -1;
  recs.erase(recs.begin() + index);
  return save_records(p.c_str(), tmp_path().c_str(), recs);
}

int PurgeGUEST_USER(const char* cutoff, std::vector<GUEST_USER>* left) {
  std::string p = path();
  DirLock lock(p.c_str());
  std::vector<GUEST_USER> recs;
  if (!load_records(p.c_str(), recs)) return -1;
  std::vector<GUEST_USER> kept;
  kept.reserve(recs.size());
  size_t i = 0;
  for (; i < recs.size() && strncmp(recs[i].APPLY_DATE, cutoff, 10) <= 0; i++)
    if (recs[i].OK_NG == GUEST_PENDING) kept.push_back(recs[i]);
  const size_t dropped = i - kept.size();
  if (dropped == 0) {
    if (left) *left = std::move(recs);
    return 0;
  }
  kept.insert(kept.end(), recs.begin() + static_cast<long>(i), recs.end());
  if (save_records(p.c_str(), tmp_path().c_str(), kept) != 0) return -1;
  if (left) *left = std::move(kept);
  return static_cast<int>(dropped);
}
