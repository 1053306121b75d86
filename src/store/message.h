// The message store of a board: the thread-ordered index "index.dat", one
// body file and one read-mark file per message, and the attachment list
// "add_file.dat", all in the board's data directory; plus the paths of the
// attached files under the attachment directory.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "store/records.h"

static_assert(std::endian::native == std::endian::little,
              "record files hold little-endian integers");

// One message in "index.dat". Strings are NUL-terminated Shift_JIS with the
// rest of the field zero.
struct INDEX_DATA {
  int32_t FOLDER_NO;
  int32_t MSG_NO;
  int32_t HTML_MODE;       // 0, 1 or 2
  int32_t THREAD_NO;       // MSG_NO of the thread's first message
  int32_t RES_DEPTH;       // 0 for the first message of a thread
  int32_t WRITE_PRIORITY;  // 0 none, 1 or 2
  char WRITE_DATE[20];     // "YYYY/MM/DD hh:mm"
  char USER_ID[22];        // author, or last editor
  char WRITE_TITLE[82];    // at most 81 bytes
  int32_t ADD_COUNT;       // attachment slots filled on the last write
  int32_t DEL_FLG;         // 1: deleted, kept because replies follow it
  int32_t READ_CHK;        // read confirmation: 1 or 2
};
static_assert(sizeof(INDEX_DATA) == 160);
static_assert(offsetof(INDEX_DATA, FOLDER_NO) == 0);
static_assert(offsetof(INDEX_DATA, MSG_NO) == 4);
static_assert(offsetof(INDEX_DATA, HTML_MODE) == 8);
static_assert(offsetof(INDEX_DATA, THREAD_NO) == 12);
static_assert(offsetof(INDEX_DATA, RES_DEPTH) == 16);
static_assert(offsetof(INDEX_DATA, WRITE_PRIORITY) == 20);
static_assert(offsetof(INDEX_DATA, WRITE_DATE) == 24);
static_assert(offsetof(INDEX_DATA, USER_ID) == 44);
static_assert(offsetof(INDEX_DATA, WRITE_TITLE) == 66);
static_assert(offsetof(INDEX_DATA, ADD_COUNT) == 148);
static_assert(offsetof(INDEX_DATA, DEL_FLG) == 152);
static_assert(offsetof(INDEX_DATA, READ_CHK) == 156);

// One reader of a message, in "r<MSG_NO>.dat".
struct READ_POINT {
  int32_t MSG_NO;
  char USER_ID[24];  // at most 21 bytes
  int32_t RESERVED;  // always 0
};
static_assert(sizeof(READ_POINT) == 32);
static_assert(offsetof(READ_POINT, MSG_NO) == 0);
static_assert(offsetof(READ_POINT, USER_ID) == 4);
static_assert(offsetof(READ_POINT, RESERVED) == 28);

// One attached file, in "add_file.dat"; keyed by MSG_NO and ADD_NO.
struct ADD_FILE {
  int32_t MSG_NO;
  int32_t ADD_NO;          // attachment slot, from 1
  char FILE_NAME[252];     // as uploaded, without directories
};
static_assert(sizeof(ADD_FILE) == 260);
static_assert(offsetof(ADD_FILE, MSG_NO) == 0);
static_assert(offsetof(ADD_FILE, ADD_NO) == 4);
static_assert(offsetof(ADD_FILE, FILE_NAME) == 8);

constexpr int32_t TITLE_MAX = 81;      // bytes of WRITE_TITLE
constexpr int32_t USER_ID_MAX = 21;    // bytes of a user ID in any record
constexpr int32_t CONTENTS_MAX = 99999;  // bytes of a body that are read

extern INDEX_DATA sINDEX_DATA;
extern READ_POINT sREAD_POINT;
extern ADD_FILE sADD_FILE;

// ---- Paths ---------------------------------------------------------------
// Built from DATA_FILE_PATH / ADD_FILE_PATH (which end in "/") and numbers.

// The data directory as a directory to open (".", the program's own, where
// DATA_FILE_PATH is empty); the boards' files are named relative to it.
std::string msg_data_dir();
std::string msg_dir_path(int32_t folder);                        // "%s%d"
std::string msg_index_path(int32_t folder);                      // .../index.dat
std::string msg_index_tmp_path(int32_t folder);                  // .../index.dat.tmp
std::string msg_body_name(int32_t msg);                          // "x%d.dat"
std::string msg_mark_name(int32_t msg);                          // "r%d.dat"
std::string msg_body_path(int32_t folder, int32_t msg);          // .../x%d.dat
std::string msg_mark_path(int32_t folder, int32_t msg);          // .../r%d.dat
std::string msg_mark_tmp_path(int32_t folder, int32_t msg);      // .../R%d.TMP
std::string msg_add_list_path(int32_t folder);                   // .../add_file.dat
std::string msg_add_list_tmp_path(int32_t folder);               // .../add_file.dat.tmp
// Attachments: ADD_FILE_PATH f "/x" m, then "/" s, then "/" name.
std::string msg_attach_board_path(int32_t folder);  // ADD_FILE_PATH f
// "x" m "/" s "/" name: the file's path inside the board's directory.
std::string msg_attach_file_name(int32_t msg, int32_t slot, const char* name);
std::string msg_attach_dir_path(int32_t folder, int32_t msg);
std::string msg_attach_slot_path(int32_t folder, int32_t msg, int32_t slot);
std::string msg_attach_file_path(int32_t folder, int32_t msg, int32_t slot,
                                 const char* name);

// ---- Message index -------------------------------------------------------

// Whole records in the index; 0 when it cannot be opened.
int CountINDEX_DATA(int32_t folder);
// Mode 1: first record with MSG_NO == key. Mode 2: record at position key
// (from 1). Into sINDEX_DATA; -1 when there is none.
int ReadINDEX_DATA(int32_t folder, int32_t key, int mode);
// Mode 1: record with the highest MSG_NO (the later on a tie); the buffer is
// cleared first and stays clear when there is none. Mode 2: the last record.
int ReadINDEX_DATA_MAX(int32_t folder, int mode);
// The n-th record (from 0, in file order) of thread `thread`.
int ReadINDEX_DATA_G(int32_t folder, int n, int32_t thread);
// Adds the message in sINDEX_DATA (MSG_NO: the message answered, 0 for a
// new thread), numbers and threads it, and writes the author's read mark.
// On return sINDEX_DATA holds the stored record.
int WriteINDEX_DATA();
// The same, with the message's own files stored before its record: under
// the board's lock the new number is cleared of anything a removed message
// or an interrupted post left (body, read marks, attachment records and
// files), sINDEX_DATA is set to the record to be stored, and `fill(number)`
// writes the body and attachments. Only then is the record written, which
// makes the message visible. -1, with no record, when `fill` fails.
int WriteINDEX_DATA(const std::function<int(int32_t)>& fill);
// Overwrites every record of sINDEX_DATA's folder with its MSG_NO.
int ReWriteINDEX_DATA();
// Removes every record with that number; 0 if at least one was removed.
int DeleteINDEX_DATA(int32_t folder, int32_t msg);

// The whole index in file order, read at once; false when it cannot be
// opened (no data directory), with `out` empty.
bool load_index(int32_t folder, std::vector<INDEX_DATA>& out);

// The whole index mapped read-only, for pages that look at a few records
// of a large board: nothing is copied, and only the parts of the file a page
// touches are read in. The store never shortens "index.dat" in place (a
// rewrite replaces the file by rename), so the mapped records stay
// readable for the life of the map. Opening creates a missing file where
// the board's directory exists, as load_index does.
class IndexMap {
 public:
  explicit IndexMap(int32_t folder);
  ~IndexMap();
  IndexMap(const IndexMap&) = delete;
  IndexMap& operator=(const IndexMap&) = delete;
  // False when the index cannot be opened (the records are then empty).
  bool ok() const { return ok_; }
  std::span<const INDEX_DATA> records() const { return {data_, size_}; }

 private:
  const INDEX_DATA* data_ = nullptr;
  size_t size_ = 0;
  void* map_ = nullptr;
  size_t map_len_ = 0;
  std::vector<INDEX_DATA> copy_;  // where the file cannot be mapped
  bool ok_ = false;
};

// ---- Bodies --------------------------------------------------------------

// Replaces the body of the message named by sINDEX_DATA with `text`.
int WriteContentsDATA(const char* text);
// Reads that body, at most CONTENTS_MAX bytes, NUL-terminated, into `buf`
// (which holds CONTENTS_MAX + 1 bytes). A missing body reads as empty.
int ReadContentsDATA(char* buf);
// The body of message `msg` as ReadContentsDATA reads it: at most
// CONTENTS_MAX bytes, ending before the first NUL byte. False when the file
// cannot be opened or read whole (`text` then holds what was read).
bool read_body(int32_t folder, int32_t msg, std::string& text);
// A body as read_body gives it, from the bytes of its file (read elsewhere,
// as in a batch with others; a missing file gives no bytes).
std::string body_text(std::string_view file_bytes);

// ---- Read marks ----------------------------------------------------------

// The current user's mark on the message, into sREAD_POINT.
int ReadREAD_POINT(int32_t folder, int32_t msg);
// The n-th mark (from 0) on the message, into sREAD_POINT.
int ReadREAD_POINT2(int32_t folder, int32_t msg, int n);
// Stores sREAD_POINT, replacing the same user's mark on that message.
int WriteREAD_POINT(int32_t folder);
// Marks the message read by the current user unless the user already has a
// mark on it; checked and appended in one step under the lock. The user's
// mark ends up in sREAD_POINT. 0, or -1 when the file cannot be written.
int MarkREAD_POINT(int32_t folder, int32_t msg);
// Marks every message of the board read by the current user, as
// MarkREAD_POINT would one by one, under one hold of the board's lock and
// with one open, read and close per read-mark file (and a write where the
// mark is missing). The number of marks added; -1 when the index cannot be
// read or some read-mark file could not be read or written.
int MarkAllREAD_POINT(int32_t folder);
// Replaces the message's marks at once by the current user's mark alone
// (into sREAD_POINT too), so that no reader sees the file empty. 0 or -1.
int ResetREAD_POINT(int32_t folder, int32_t msg);
// Clears the message's marks; the file stays, empty.
int DeleteREAD_POINT(int32_t folder, int32_t msg);
// The current user's marks on each of the messages: how many records of
// his its read-mark file holds (0 also when it has no file), or -1 when the
// file exists but cannot be read. The files are read in batches, none
// created.
std::vector<int> own_marks(int32_t folder, const std::vector<int32_t>& msgs);
// The current user's unread messages in the folder (0 when the user has
// excluded the folder from unread tracking). Leaves the folder's last
// record in sINDEX_DATA.
int CountREAD_POINT(int32_t folder);
// The same without touching sINDEX_DATA; -1 when the board cannot be read.
int unread_count(int32_t folder);
// Which of the boards have a directory; a board without one holds no
// message and no unread settings. Many boards are looked up in one listing
// of the data directory; where it cannot be read, every board is taken to
// have one.
std::vector<bool> have_dirs(const std::vector<int32_t>& folders);
// unread_count of each of the boards at once: boards without a directory
// are found by one listing, exclusion lists and derived data are read in
// batches.
std::vector<int> unread_counts(const std::vector<int32_t>& folders);
// The numbers of the messages of the board the current user has not read,
// ascending, whether or not he excluded the board; empty when the board
// cannot be read.
std::vector<int32_t> unread_numbers(int32_t folder);
// A board's index as a page opened it, with its status.
struct OpenedIndex {
  Fd fd;  // not ok: no index
  struct stat st {};
};
// The board's index opened for reading; of each board.
OpenedIndex open_index(int32_t folder);
std::vector<OpenedIndex> open_indexes(const std::vector<int32_t>& folders);
// unread_numbers of each of the boards, read in one batch where it can be;
// with `opened`, against the boards' indexes as the caller opened them.
std::vector<std::vector<int32_t>> unread_numbers_many(const std::vector<int32_t>& folders,
                                                      const std::vector<OpenedIndex>* opened = nullptr);

// ---- Attachment list -----------------------------------------------------

// The record with sADD_FILE's MSG_NO and ADD_NO, into sADD_FILE.
int ReadADD_FILE(int32_t folder);
// The whole list in file order, read at once (created empty where the
// board's directory exists); false when it cannot be opened.
bool load_add_files(int32_t folder, std::vector<ADD_FILE>& out);
// The records of one message, in file order, read a bounded chunk at a time
// so that a long list is never held whole; false when it cannot be opened.
bool load_add_files(int32_t folder, int32_t msg, std::vector<ADD_FILE>& out);
// The first record of `list` for that message and slot, as ReadADD_FILE
// finds it; null when there is none.
const ADD_FILE* find_add_file(const std::vector<ADD_FILE>& list, int32_t msg, int32_t slot);
// Stores sADD_FILE, replacing the record with the same key.
int WriteADD_FILE(int32_t folder);
// Removes every record of the message; 0 if at least one was removed.
int DeleteADD_FILE(int32_t folder, int32_t msg);
// Removes every record of the message's slot; 0 if at least one was removed.
int DeleteADD_FILE2(int32_t folder, int32_t msg, int32_t slot);
// Removes the attached files of the message's slot, all of them or all but
// the one named `keep`, and then the slot's and the message's attachment
// directories where they are left empty; under the board's lock. A file
// that is no longer listed is no longer served either.
void remove_attached_files(int32_t folder, int32_t msg, int32_t slot, const char* keep = nullptr);
