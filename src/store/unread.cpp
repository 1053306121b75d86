// Unread folder marks: the users who excluded a board from unread tracking,
// one user ID per line in the board's "unread.dat".
#include "store/unread.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cgi/sjis.h"
#include "store/batch_read.h"
#include "store/message.h"
#include "store/records.h"
#include "store/textrec.h"

namespace {

constexpr size_t LINE_MAX_BYTES = 299;  // a line and its line feed
constexpr size_t ID_MAX = LINE_MAX_BYTES - 1;

std::string list_path(int32_t folder) { return msg_dir_path(folder) + "/unread.dat"; }

// A stored line as it is compared: without its line feed and then without
// a carriage return before it.
std::string_view entry_of(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// The user ID as one line can hold it: it ends before a line end and is
// cut to fit the line.
std::string_view key_of(const char* user_id) {
  std::string_view id(user_id ? user_id : "");
  id = id.substr(0, std::min(id.find_first_of("\r\n"), id.size()));
  return id.substr(0, sjis_fit(id, ID_MAX));
}

}  // namespace

int ChkUNREAD(int32_t folder, const char* user_id) {
  std::string text;
  if (!read_file(list_path(folder).c_str(), text)) return -1;
  std::string_view id = key_of(user_id);
  int n = 0;
  for (std::string_view line : line_pieces(text, LINE_MAX_BYTES)) {
    ++n;
    if (entry_of(line) == id) return n;
  }
  return -1;
}

std::vector<bool> ChkUNREAD_many(const std::vector<int32_t>& folders, const char* user_id,
                                 const std::vector<bool>* dirs) {
  // Only boards with a directory can have a list.
  const std::vector<bool> listed = dirs ? std::vector<bool>() : have_dirs(folders);
  if (!dirs) dirs = &listed;
  std::vector<std::string> names;
  std::vector<size_t> at;
  for (size_t i = 0; i < folders.size(); i++)
    if ((*dirs)[i]) {
      names.push_back(std::to_string(folders[i]) + "/unread.dat");
      at.push_back(i);
    }
  std::string_view id = key_of(user_id);
  std::vector<bool> out(folders.size(), false);
  read_small_files(msg_data_dir(), names, [&](size_t k, std::string_view text, int err) {
    if (err) return;
    for (std::string_view line : line_pieces(text, LINE_MAX_BYTES))
      if (entry_of(line) == id) {
        out[at[k]] = true;
        return;
      }
  });
  return out;
}

int WriteUNREAD(int32_t folder, const char* user_id) {
  make_dir(msg_dir_path(folder).c_str());
  std::string path = list_path(folder);
  std::string_view id = key_of(user_id);
  DirLock lock(path.c_str());
  std::string text;
  if (read_file(path.c_str(), text)) {
    for (std::string_view line : line_pieces(text, LINE_MAX_BYTES))
      if (entry_of(line) == id) return -2;
  }
  std::string line(id);
  line += '\n';
  return append_line(path.c_str(), text, line);
}

int DeleteUNREAD(int32_t folder, const char* user_id) {
  std::string path = list_path(folder), tmp = path + ".tmp";
  std::string_view id = key_of(user_id);
  DirLock lock(path.c_str());
  std::string text;
  if (!read_file(path.c_str(), text)) return -1;
  std::string out;
  out.reserve(text.size());
  bool removed = false;
  for (std::string_view line : line_pieces(text, LINE_MAX_BYTES)) {
    std::string_view entry = entry_of(line);
    if (entry == id) {
      removed = true;
      continue;
    }
    out += entry;
    out += '\n';
  }
  if (out != text && replace_file(path.c_str(), tmp.c_str(), out) != 0) return -1;
  return removed ? 0 : -1;
}

int ReadUNREAD(int32_t folder, int line, char* out) {
  if (line < 1) return -1;
  std::string text;
  if (!read_file(list_path(folder).c_str(), text)) return -1;
  std::vector<std::string_view> lines = line_pieces(text, LINE_MAX_BYTES);
  if (static_cast<size_t>(line) > lines.size()) return -1;
  std::string_view l = lines[static_cast<size_t>(line) - 1];
  std::memcpy(out, l.data(), l.size());
  out[l.size()] = '\0';
  return 0;
}
