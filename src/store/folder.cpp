// The folder tree: parsing and writing the folder lines of "b_title.mst",
// and the fixed settings records of "b_title2.mst".
#include "store/folder.h"

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
#include "store/fileio.h"
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
  std::vector<B_TITLE> all;
  if (!load_folders(all)) return -1;
  for (size_t i = 0; i < all.size(); i++) {
    if ((mode == 1 && all[i].FOLDER_NO == key) ||
        (mode == 2 && static_cast<int64_t>(i) + 1 == key)) {
      sB_TITLE = all[i];
      return 0;
    }
  }
  return -1;
}

bool load_folders(std::vector<B_TITLE>& out) {
  out.clear();
  std::string text;
  if (!read_file(tree_path().c_str(), text)) return false;
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
  // The file is scanned in large chunks and the scan stops at the first
  // match, so looking up a folder near the front reads little.
  constexpr size_t REC = sizeof(B_TITLE2);
  constexpr size_t CHUNK = 4 * REC;
  Fd fd(b_open(settings_path().c_str()));
  if (!fd.ok()) return -1;
  std::unique_ptr<char[]> buf(new char[CHUNK]);
  off_t off = 0;
  size_t have = 0;  // bytes in buf
  for (;;) {
    ssize_t n = pread(fd.get(), buf.get() + have, CHUNK - have, off);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) return -1;  // end of file; a partial record is ignored
    off += n;
    have += static_cast<size_t>(n);
    size_t whole = have / REC;
    for (size_t i = 0; i < whole; i++) {
      int32_t no;
      std::memcpy(&no, buf.get() + i * REC, sizeof no);
      if (no == folder) {
        std::memcpy(&sB_TITLE2, buf.get() + i * REC, REC);
        return 0;
      }
    }
    std::memmove(buf.get(), buf.get() + whole * REC, have - whole * REC);
    have -= whole * REC;
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
