// The folder tree: parsing and writing the folder lines of "b_title.mst",
// and the fixed settings records of "b_title2.mst".
#include "store/folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/attach_sizes.h"
#include "store/batch_read.h"
#include "store/fileio.h"
#include "store/quarantine.h"
#include "store/read_cache.h"
#include "store/records.h"
#include "store/textrec.h"

B_TITLE sB_TITLE;
B_TITLE2 sB_TITLE2;

namespace {

constexpr size_t LINE_MAX_BYTES = 999;  // one line read

std::string tree_path() { return data_file("b_title.mst"); }
std::string settings_path() { return data_file("b_title2.mst"); }

// Parses one folder line: "<spaces><name>,<number>,<kind word>,". False
// when one of the three commas is missing.
bool parse_folder_line(std::string_view line, B_TITLE& out) {
  std::string_view name, number, kind;
  if (!next_field(line, name) || !next_field(line, number) || !next_field(line, kind))
    return false;

  std::memset(&out, 0, sizeof out);
  size_t depth = 0;
  while (depth < name.size() && name[depth] == ' ') depth++;
  out.DEPTH = static_cast<int32_t>(depth);
  set_field(out.NAME, name.substr(depth));
  out.FOLDER_NO = static_cast<int32_t>(parse_num(number));
  if (!kind.empty()) {
    switch (kind[0]) {
      case 'D': case 'd': out.KIND = KIND_DIR; break;
      case 'B': case 'b': out.KIND = KIND_BOARD; break;
      case 'C': case 'c': out.KIND = KIND_CHAT; break;
      default: break;
    }
  }
  return true;
}

// The stored line for a folder record, or false when the record cannot be
// written as one: a kind without a word, or a line too long to read back.
// The name ends before any line feed or comma and loses a lone lead byte at
// its end: each would otherwise split the line into wrong fields or lines.
bool build_folder_line(const B_TITLE& r, std::string& out) {
  const char* word;
  switch (r.KIND) {
    case KIND_DIR: word = "Dir,\n"; break;
    case KIND_BOARD: word = "Board,\n"; break;
    case KIND_CHAT: word = "Chat,\n"; break;
    default: return false;
  }
  std::string_view name = field_text(field(r.NAME), true);
  name = name.substr(0, sjis_fit(name, FOLDER_NAME_MAX));
  out.assign(static_cast<size_t>(std::max<int32_t>(r.DEPTH, 0)), ' ');
  out += name;
  out += ',';
  out += std::to_string(r.FOLDER_NO);
  out += ',';
  out += word;
  return out.size() <= LINE_MAX_BYTES;
}

B_TITLE2 tidy_settings(const B_TITLE2& in) {
  B_TITLE2 r = in;
  refit(r.TITLEPIC);
  refit(r.BACKPIC);
  refit(r.DIRPIC);
  refit(r.INFO, FOLDER_TEXT_MAX);
  refit(r.DEFO, FOLDER_TEXT_MAX);
  refit(r.FONTCOLOR);
  refit(r.RESFONTCOLOR);
  return r;
}

}  // namespace

std::string folder_dir_path(const char* base, int32_t folder) {
  return std::string(base) + std::to_string(folder);
}

// ---- "b_title.mst" -------------------------------------------------------

int ReadB_TITLE(int32_t key, int mode) {
  if (mode != 1 && mode != 2) return -1;
  std::string text;
  if (!read_file(tree_path().c_str(), text)) return -1;
  // Lines are parsed up to the one asked for and no further.
  int64_t position = 0;
  B_TITLE r;
  for (std::string_view piece : line_pieces(text, LINE_MAX_BYTES)) {
    if (!parse_folder_line(piece, r)) continue;
    position++;
    if ((mode == 1 && r.FOLDER_NO == key) || (mode == 2 && position == key)) {
      sB_TITLE = r;
      return 0;
    }
  }
  return -1;
}

bool load_folders(std::vector<B_TITLE>& out) {
  out.clear();
  std::string text;
  if (!read_file(tree_path().c_str(), text)) return false;
  // Room for every line at once: a large tree is not copied as it grows.
  out.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  B_TITLE r;
  for (std::string_view piece : line_pieces(text, LINE_MAX_BYTES))
    if (parse_folder_line(piece, r)) out.push_back(r);
  return true;
}

int InsertB_TITLE(int32_t position) {
  if (position < 1) return -1;
  std::string line;
  if (!build_folder_line(sB_TITLE, line)) return -1;
  std::string path = tree_path(), tmp = path + ".TMP";
  DirLock lock(path.c_str());
  std::string text;
  if (!load_text_store(path.c_str(), text, true)) return -1;
  std::string out;
  out.reserve(text.size() + line.size() + 1);
  int32_t n = 0;
  bool written = false;
  for (std::string_view piece : line_pieces(text, LINE_MAX_BYTES)) {
    put_line(out, piece);
    if (++n == position) {
      put_line(out, line);
      written = true;
    }
  }
  if (!written) put_line(out, line);
  return replace_file(path.c_str(), tmp.c_str(), out);
}

int DeleteB_TITLE(int32_t position) {
  std::string path = tree_path(), tmp = path + ".tmp";
  DirLock lock(path.c_str());
  std::string text;
  if (!load_text_store(path.c_str(), text, true)) return -1;
  std::vector<std::string_view> pieces = line_pieces(text, LINE_MAX_BYTES);
  if (position < 1 || static_cast<size_t>(position) > pieces.size()) return -1;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < pieces.size(); i++)
    if (i + 1 != static_cast<size_t>(position)) put_line(out, pieces[i]);
  return replace_file(path.c_str(), tmp.c_str(), out);
}

int ReWriteB_TITLE(int32_t folder) {
  std::string line;
  if (!build_folder_line(sB_TITLE, line)) return -1;
  std::string path = tree_path(), tmp = path + ".tmp";
  DirLock lock(path.c_str());
  std::string text;
  if (!load_text_store(path.c_str(), text, true)) return -1;
  std::string out;
  out.reserve(text.size() + line.size());
  bool replaced = false;
  B_TITLE r;
  for (std::string_view piece : line_pieces(text, LINE_MAX_BYTES)) {
    if (!parse_folder_line(piece, r)) continue;  // not a folder line: dropped
    if (r.FOLDER_NO == folder) {
      put_line(out, line);
      replaced = true;
    } else {
      put_line(out, piece);
    }
  }
  if (out != text && replace_file(path.c_str(), tmp.c_str(), out) != 0) return -1;
  return replaced ? 0 : -1;
}

int32_t NextFOLDER_NO() {
  std::vector<B_TITLE> all;
  load_folders(all);
  int32_t highest = 0;
  for (const B_TITLE& r : all) highest = std::max(highest, r.FOLDER_NO);
  return highest + 1;
}

// ---- "b_title2.mst" ------------------------------------------------------

int ReadB_TITLE2(int32_t folder) {
  constexpr size_t REC = sizeof(B_TITLE2);
  Fd fd(b_open(settings_path().c_str()));
  if (!fd.ok()) return -1;
  // Records are appended as folders are made, and folder numbers rise as
  // folders are made, so a folder's record stands at position number - 1
  // unless records before it were removed. That one record is read first;
  // only when it is another folder's is the file scanned.
  if (folder >= 1) {
    B_TITLE2 rec;
    long at = static_cast<long>(folder - 1) * static_cast<long>(REC);
    if (pread_some(fd.get(), &rec, REC, at) == static_cast<long>(REC) && rec.FOLDER_NO == folder) {
      sB_TITLE2 = rec;
      return 0;
    }
  }
  // The scan goes a chunk at a time and stops at the first match.
  constexpr size_t CHUNK = 4 * REC;
  std::unique_ptr<char[]> buf(new char[CHUNK]);
  long off = 0;
  for (;;) {
    long n = pread_some(fd.get(), buf.get(), CHUNK, off);
    if (n <= 0) return -1;  // end of file or error; a partial record is ignored
    size_t whole = static_cast<size_t>(n) / REC;
    for (size_t i = 0; i < whole; i++) {
      int32_t no;
      std::memcpy(&no, buf.get() + i * REC, sizeof no);
      if (no == folder) {
        std::memcpy(&sB_TITLE2, buf.get() + i * REC, REC);
        return 0;
      }
    }
    if (whole == 0) return -1;
    off += static_cast<long>(whole * REC);
  }
}

int InsertB_TITLE2() {
  B_TITLE2 rec = tidy_settings(sB_TITLE2);
  std::string path = settings_path();
  DirLock lock(path.c_str());
  size_t count = static_cast<size_t>(get_filelength(path.c_str())) / sizeof(B_TITLE2);
  return put_record(path.c_str(), count, &rec, sizeof rec);
}

int DeleteB_TITLE2(int32_t folder) {
  std::string path = settings_path(), tmp = path + ".tmp";
  auto drop = [folder](const B_TITLE2& r) { return r.FOLDER_NO == folder; };
  int removed = remove_records<B_TITLE2>(path.c_str(), tmp.c_str(), drop);
  return removed > 0 ? 0 : -1;
}

int DeleteB_TITLE2(const std::vector<int32_t>& folders) {
  // Streams the records through one reused buffer into the temporary file:
  // the file holds every folder's texts, and a whole copy in memory would
  // cost more than the copy on disk.
  std::vector<int32_t> sorted(folders);
  std::sort(sorted.begin(), sorted.end());
  constexpr size_t REC = sizeof(B_TITLE2), CHUNK = 16 * REC;
  std::string path = settings_path(), tmp = path + ".tmp";
  DirLock lock(path.c_str());
  Fd in(b_open(path.c_str()));
  if (!in.ok()) return -1;
  unlink(tmp.c_str());
  Fd out(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!out.ok()) return -1;
  std::unique_ptr<char[]> buf(new char[CHUNK]);
  off_t off = 0;
  int removed = 0;
  bool ok = true, tail = false;
  for (;;) {
    ssize_t n = pread(in.get(), buf.get(), CHUNK, off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    size_t whole = static_cast<size_t>(n) / REC * REC, kept = 0;
    for (size_t i = 0; i < whole; i += REC) {
      int32_t no;
      std::memcpy(&no, buf.get() + i, sizeof no);
      if (std::binary_search(sorted.begin(), sorted.end(), no)) {
        removed++;
        continue;
      }
      if (kept != i) std::memmove(buf.get() + kept, buf.get() + i, REC);
      kept += REC;
    }
    if (!write_all(out.get(), buf.get(), kept)) {
      ok = false;
      break;
    }
    off += static_cast<off_t>(whole);
    if (whole < static_cast<size_t>(n)) {
      tail = true;  // a partial record at the end goes with the rewrite
      break;
    }
  }
  struct stat st;
  if (ok && fstat(in.get(), &st) == 0) fchmod(out.get(), st.st_mode & 07777);
  out.reset();
  if (!ok || (removed == 0 && !tail) || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return -1;
  }
  return removed > 0 ? 0 : -1;
}

int ReWriteB_TITLE2(int32_t folder) {
  // The record is stored under the number asked for even when the caller
  // left another number in the buffer, so no other folder's record appears.
  B_TITLE2 rec = tidy_settings(sB_TITLE2);
  rec.FOLDER_NO = folder;
  std::string path = settings_path(), tmp = path + ".TMP";
  DirLock lock(path.c_str());
  std::string bytes;
  if (!load_bytes_b_open(path.c_str(), bytes)) return -1;
  std::vector<B_TITLE2> recs;
  split_records(bytes, recs);
  bool replaced = false;
  for (B_TITLE2& r : recs) {
    if (r.FOLDER_NO == folder) {
      r = rec;
      replaced = true;
    }
  }
  // A new record is appended after the last whole record (over any partial
  // tail); a replacement rewrites the file so that readers never see a
  // half-written record.
  if (!replaced) return put_record(path.c_str(), recs.size(), &rec, sizeof rec);
  return save_records(path.c_str(), tmp.c_str(), recs);
}

// ---- Folder heads ---------------------------------------------------------

bool FolderHeads::open() {
  if (records_ < 0) {
    records_ = 0;
    fd_ = Fd(b_open(settings_path().c_str()));
    struct stat st;
    if (fd_.ok() && fstat(fd_.get(), &st) == 0) {
      records_ = static_cast<long>(st.st_size / static_cast<off_t>(sizeof(B_TITLE2)));
      const int64_t stamp[] = {static_cast<int64_t>(st.st_dev), static_cast<int64_t>(st.st_ino),
                               static_cast<int64_t>(st.st_size), st.st_mtim.tv_sec,
                               st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
      stamp_.assign("MVH1", 4);
      stamp_.append(reinterpret_cast<const char*>(stamp), sizeof stamp);
    }
  }
  return records_ > 0;
}

namespace {

std::string copy_path() { return data_file("b_title2.heads"); }

// One head as the copy stores it: number, levels, slot, picture length and
// picture.
void put_head(std::string& out, int32_t no, const FolderHead& h) {
  const int32_t nums[] = {no, h.READ_LEVEL, h.WRITE_LEVEL, static_cast<int32_t>(h.slot),
                          static_cast<int32_t>(h.DIRPIC.size())};
  out.append(reinterpret_cast<const char*>(nums), sizeof nums);
  out += h.DIRPIC;
}

}  // namespace

bool FolderHeads::load_copy() {
  std::string bytes;
  int32_t count;
  if (!read_file(copy_path().c_str(), bytes) || bytes.size() < stamp_.size() + sizeof count ||
      bytes.compare(0, stamp_.size(), stamp_) != 0)
    return false;
  std::memcpy(&count, bytes.data() + stamp_.size(), sizeof count);
  // Read into a list first: a damaged copy leaves the heads as they were.
  std::vector<std::pair<int32_t, FolderHead>> all;
  size_t at = stamp_.size() + sizeof count;
  int32_t nums[5];
  while (at < bytes.size()) {
    if (bytes.size() - at < sizeof nums) return false;
    std::memcpy(nums, bytes.data() + at, sizeof nums);
    at += sizeof nums;
    if (nums[3] < 0 || nums[3] >= records_ || nums[4] < 0 ||
        static_cast<size_t>(nums[4]) > std::min(bytes.size() - at, sizeof(B_TITLE2::DIRPIC)))
      return false;
    FolderHead h{nums[1], nums[2], std::string(bytes.data() + at, static_cast<size_t>(nums[4])),
                 static_cast<uint32_t>(nums[3])};
    at += static_cast<size_t>(nums[4]);
    all.emplace_back(nums[0], std::move(h));
  }
  if (all.size() != static_cast<size_t>(count)) return false;
  for (auto& [no, h] : all)
    if (!heads_.count(no)) heads_.emplace(no, std::move(h));
  return true;
}

void FolderHeads::save_copy(const std::vector<std::pair<int32_t, FolderHead>>& all) {
  std::string out = stamp_;
  const int32_t count = static_cast<int32_t>(all.size());
  out.append(reinterpret_cast<const char*>(&count), sizeof count);
  for (const auto& [no, h] : all) put_head(out, no, h);
  // A temporary name of this process's own: two pages rebuilding at once
  // never write into one file.
  std::string path = copy_path(), tmp = path + ".tmp" + std::to_string(getpid());
  replace_file(path.c_str(), tmp.c_str(), out);
}

namespace {

constexpr size_t HEAD = offsetof(B_TITLE2, INFO);  // the part before the texts

void parse_head(const char* buf, uint32_t slot, int32_t& no, FolderHead& out) {
  auto int_at = [buf](size_t off) {
    int32_t v;
    std::memcpy(&v, buf + off, sizeof v);
    return v;
  };
  no = int_at(offsetof(B_TITLE2, FOLDER_NO));
  out.READ_LEVEL = int_at(offsetof(B_TITLE2, READ_LEVEL));
  out.WRITE_LEVEL = int_at(offsetof(B_TITLE2, WRITE_LEVEL));
  const char* pic = buf + offsetof(B_TITLE2, DIRPIC);
  out.DIRPIC.assign(pic, strnlen(pic, sizeof(B_TITLE2::DIRPIC)));
  out.slot = slot;
}

}  // namespace

const FolderHead* FolderHeads::find(int32_t folder) {
  if (auto it = heads_.find(folder); it != heads_.end()) return &it->second;
  if (scanned_ || !open()) return nullptr;
  // The first few folders asked for are read at their usual place, one by
  // one. A page that asks for more reads every head, in batches.
  if (guesses_ < kGuesses && folder >= 1 && folder <= records_) {
    guesses_++;
    char buf[HEAD];
    long at = static_cast<long>(folder - 1) * static_cast<long>(sizeof(B_TITLE2));
    int32_t no;
    FolderHead h;
    if (pread_some(fd_.get(), buf, HEAD, at) == static_cast<long>(HEAD)) {
      parse_head(buf, static_cast<uint32_t>(folder - 1), no, h);
      if (no == folder) return &heads_.emplace(folder, std::move(h)).first->second;
    }
  }
  // The first record of each number counts; heads found at their usual
  // place before stay as they were.
  scanned_ = true;
  if (!load_copy()) {
    std::vector<long> offsets(static_cast<size_t>(records_));
    for (size_t slot = 0; slot < offsets.size(); slot++)
      offsets[slot] = static_cast<long>(slot * sizeof(B_TITLE2));
    std::vector<std::pair<int32_t, FolderHead>> all;
    all.reserve(offsets.size());
    bool whole = true;
    read_ranges(fd_.get(), offsets, HEAD, [&](size_t slot, std::string_view bytes) {
      if (bytes.size() < HEAD) {
        whole = false;  // a read failed: no copy is made of what is missing
        return;
      }
      all.emplace_back();
      parse_head(bytes.data(), static_cast<uint32_t>(slot), all.back().first, all.back().second);
    });
    if (whole) save_copy(all);
    for (auto& [no, h] : all)
      if (!heads_.count(no)) heads_.emplace(no, std::move(h));
  }
  auto it = heads_.find(folder);
  return it == heads_.end() ? nullptr : &it->second;
}

// ReadB_TITLE2 into `out`, sB_TITLE2 left as it was. Apart, so that the
// callers' frames hold no second record: each stack page a frame reaches
// is faulted in on every request.
[[gnu::noinline]] int read_b_title2_into(int32_t folder, B_TITLE2& out) {
  const B_TITLE2 kept = sB_TITLE2;
  const int r = ReadB_TITLE2(folder);
  if (r == 0) out = sB_TITLE2;
  sB_TITLE2 = kept;
  return r;
}

int FolderHeads::read_record(int32_t folder, B_TITLE2& out) {
  const FolderHead* h = find(folder);
  if (!h) return -1;
  long at = static_cast<long>(h->slot) * static_cast<long>(sizeof out);
  if (pread_some(fd_.get(), &out, sizeof out, at) == static_cast<long>(sizeof out) && out.FOLDER_NO == folder)
    return 0;
  return read_b_title2_into(folder, out);
}

// ---- Whole-tree changes ----------------------------------------------------

namespace {

// The end of the subtree that starts at index `i`: the index of the first
// folder after it whose depth is not greater than its own.
size_t subtree_end(const std::vector<FolderLine>& t, size_t i) {
  size_t e = i + 1;
  while (e < t.size() && t[e].rec.DEPTH > t[i].rec.DEPTH) e++;
  return e;
}

// Whether something is at `path` other than an empty directory.
bool has_content(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) return true;
  DIR* d = opendir(path.c_str());
  if (!d) return true;
  bool found = false;
  while (struct dirent* e = readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      found = true;
      break;
    }
  closedir(d);
  return found;
}

// Moves whatever an earlier folder of number `folder` left in its message
// and attachment directories aside, noting each new place in `moved`. False
// when something could not be moved and is still there.
bool clear_leftovers(int32_t folder, std::vector<std::string>* moved) {
  const std::pair<const char*, const char*> bases[] = {{SYSINFO.DATA_FILE_PATH, "data"},
                                                       {SYSINFO.ADD_FILE_PATH, "add"}};
  for (const auto& [base, kind] : bases) {
    std::string dir = folder_dir_path(base, folder);
    if (!has_content(dir)) continue;
    std::string label = "folder" + std::to_string(folder) + "-" + kind;
    std::string now = quarantine(dir, label);
    if (now.empty()) return false;
    if (moved) moved->push_back(now);
  }
  return true;
}

// Writes the tree; -2 when a line would grow too long, -1 on a file failure.
int save_tree(const std::vector<FolderLine>& t) {
  std::string text;
  if (!tree_text(t, text)) return -2;
  return ReplaceB_TITLE(text) == 0 ? 0 : -1;
}

}  // namespace

bool load_tree(std::vector<FolderLine>& out) {
  out.clear();
  std::string text;
  if (!read_file(tree_path().c_str(), text)) return false;
  FolderLine l;
  for (std::string_view piece : line_pieces(text, LINE_MAX_BYTES)) {
    if (!parse_folder_line(piece, l.rec)) continue;
    if (!piece.empty() && piece.back() == '\n') piece.remove_suffix(1);
    l.rest.assign(piece.substr(static_cast<size_t>(l.rec.DEPTH)));
    out.push_back(l);
  }
  return true;
}

bool tree_text(const std::vector<FolderLine>& lines, std::string& out) {
  out.clear();
  for (const FolderLine& l : lines) {
    size_t depth = static_cast<size_t>(std::max<int32_t>(l.rec.DEPTH, 0));
    if (depth + l.rest.size() + 1 > LINE_MAX_BYTES) return false;
    out.append(depth, ' ');
    out += l.rest;
    out += '\n';
  }
  return true;
}

int ReplaceB_TITLE(std::string_view text) {
  std::string path = tree_path(), tmp = path + ".tmp";
  DirLock lock(path.c_str());
  return replace_file(path.c_str(), tmp.c_str(), text);
}

int CreateFOLDER(int32_t position, int cls, int kind, std::string_view name, int32_t& made,
                 std::vector<std::string>* moved) {
  made = 0;
  // Leading blanks would be read back as depth and nest the folder under its
  // neighbour.
  while (!name.empty() && (name[0] == ' ' || name[0] == '\t')) name.remove_prefix(1);
  if (name.empty()) return 1;
  if (name.find_first_of(",\r\n") != std::string_view::npos) return 3;
  if (kind < KIND_DIR || kind > KIND_CHAT) return -1;

  DirLock lock(tree_path().c_str());
  std::vector<FolderLine> tree;
  load_tree(tree);
  size_t n = tree.size();
  if (position < 0) position = 0;
  if (static_cast<size_t>(position) > n) return 2;
  if (position == 0 || cls != 2) cls = 1;

  size_t at = n;  // index the new line takes
  int32_t depth = 0;
  if (position > 0) {
    const B_TITLE& ref = tree[static_cast<size_t>(position) - 1].rec;
    if (cls == 2) {
      if (ref.KIND != KIND_DIR) return 2;
      at = static_cast<size_t>(position);
      depth = ref.DEPTH + 1;
    } else {
      at = subtree_end(tree, static_cast<size_t>(position) - 1);
      depth = ref.DEPTH;
    }
  }

  int32_t highest = 0;
  for (const FolderLine& l : tree) highest = std::max(highest, l.rec.FOLDER_NO);
  if (highest == INT32_MAX) return -1;

  FolderLine line;
  std::memset(&line.rec, 0, sizeof line.rec);
  line.rec.FOLDER_NO = highest + 1;
  line.rec.KIND = kind;
  line.rec.DEPTH = 0;
  set_field(line.rec.NAME, name);
  if (!build_folder_line(line.rec, line.rest)) return -1;
  line.rest.pop_back();  // the line feed
  line.rec.DEPTH = depth;
  tree.insert(tree.begin() + static_cast<std::ptrdiff_t>(at), line);

  // A reused number starts clean: no messages, attachments or chat lines of
  // an earlier folder (they are kept aside, not deleted), a fresh settings
  // record and no access entries. All this is done before the tree is
  // written, so that a failure leaves no folder with another folder's
  // content or rights.
  if (!clear_leftovers(line.rec.FOLDER_NO, moved)) return -1;
  std::vector<int32_t> no{line.rec.FOLDER_NO};
  DeleteFOLDER_ACL(no);
  // The settings file is only rewritten when a leftover record is there;
  // looking for one reads the records' numbers alone, not their texts.
  bool leftover = false;
  {
    Fd fd(b_open(settings_path().c_str()));
    int32_t no;
    for (off_t off = 0; fd.ok() && !leftover; off += sizeof(B_TITLE2)) {
      if (pread(fd.get(), &no, sizeof no, off) != static_cast<ssize_t>(sizeof no)) break;
      leftover = no == line.rec.FOLDER_NO;
    }
  }
  std::memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
  sB_TITLE2.FOLDER_NO = line.rec.FOLDER_NO;
  sB_TITLE2.READ_CHK = 1;
  sB_TITLE2.REWRITE_FLG = 1;
  if ((leftover ? ReWriteB_TITLE2(line.rec.FOLDER_NO) : InsertB_TITLE2()) != 0) return -1;
  if (save_tree(tree) != 0) return -1;
  made = line.rec.FOLDER_NO;
  return 0;
}

int DeleteFOLDER(int32_t position, std::vector<int32_t>& removed) {
  removed.clear();
  DirLock lock(tree_path().c_str());
  std::vector<FolderLine> tree;
  load_tree(tree);
  if (position < 1 || static_cast<size_t>(position) > tree.size()) return 0;
  size_t first = static_cast<size_t>(position) - 1, end = subtree_end(tree, first);
  for (size_t i = first; i < end; i++) removed.push_back(tree[i].rec.FOLDER_NO);
  tree.erase(tree.begin() + static_cast<std::ptrdiff_t>(first),
             tree.begin() + static_cast<std::ptrdiff_t>(end));
  if (save_tree(tree) != 0) {
    removed.clear();
    return -1;
  }
  DeleteB_TITLE2(removed);
  DeleteFOLDER_ACL(removed);
  // The folders' message and attachment directories are emptied, each
  // under its own lock (taken after the data directory's).
  for (int32_t f : removed) {
    // The derived read data goes first: it must never outlive, even for a
    // moment, the read-mark files it was made from.
    drop_read_cache(f);
    drop_attached_sizes(f);
    for (const char* base : {SYSINFO.DATA_FILE_PATH, SYSINFO.ADD_FILE_PATH}) {
      std::string dir = folder_dir_path(base, f);
      DirLock folder_lock((dir + "/x").c_str());
      DelDIR(dir.c_str());
    }
  }
  return 0;
}

int MoveFOLDER(int32_t src, int32_t target, int cls) {
  DirLock lock(tree_path().c_str());
  std::vector<FolderLine> tree;
  load_tree(tree);
  size_t n = tree.size();
  if (src < 1 || static_cast<size_t>(src) > n) return -2;
  size_t s = static_cast<size_t>(src) - 1, e = subtree_end(tree, s);
  if (cls != 2) cls = 1;

  size_t q;  // index of the folder the block goes before (n: the end)
  int32_t depth;
  if (target < 1) {
    q = 0;
    depth = 0;
  } else {
    if (static_cast<size_t>(target) > n) return -2;
    size_t t = static_cast<size_t>(target) - 1;
    if (t >= s && t < e) return -3;
    const B_TITLE& ref = tree[t].rec;
    if (cls == 2) {
      if (ref.KIND != KIND_DIR) return -2;
      q = t + 1;
      depth = ref.DEPTH + 1;
    } else {
      q = subtree_end(tree, t);
      depth = ref.DEPTH;
    }
  }
  if (q >= s && q < e) return -3;

  int32_t shift = depth - tree[s].rec.DEPTH;
  std::vector<FolderLine> out;
  out.reserve(n);
  auto put_block = [&] {
    for (size_t i = s; i < e; i++) {
      out.push_back(tree[i]);
      out.back().rec.DEPTH += shift;
    }
  };
  for (size_t i = 0; i < n; i++) {
    if (i == q) put_block();
    if (i < s || i >= e) out.push_back(tree[i]);
  }
  if (q == n) put_block();
  return save_tree(out);
}
