// The folder tree: "b_title.mst" (one text line per folder, in display
// order, nesting given by leading spaces) and "b_title2.mst" (one 8800-byte
// settings record per folder, in creation order), both in the data directory.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/records.h"

static_assert(std::endian::native == std::endian::little,
              "record files hold little-endian integers");

// Folder kinds.
constexpr int32_t KIND_DIR = 1;
constexpr int32_t KIND_BOARD = 2;
constexpr int32_t KIND_CHAT = 3;

// One parsed folder line.
struct B_TITLE {
  int32_t FOLDER_NO;
  int32_t KIND;   // 1 directory, 2 board, 3 chat room; 0 when not recognised
  char NAME[84];  // without the leading spaces; at most 83 bytes
  int32_t DEPTH;  // number of leading spaces
};

// One folder's settings. Strings are NUL-terminated Shift_JIS with the rest
// of the field zero.
struct B_TITLE2 {
  int32_t FOLDER_NO;
  int32_t ADD_MAX;      // attachment slots per message
  int32_t READ_LEVEL;   // lowest user level that may read
  int32_t WRITE_LEVEL;  // lowest user level that may write
  int32_t READ_CHK;     // default read confirmation: 1 or 2 (0 counts as 1)
  int32_t REWRITE_FLG;  // 2 lets authors edit their own messages (0 counts as 1)
  char TITLEPIC[252];
  char BACKPIC[252];
  char DIRPIC[252];
  char INFO[4002];  // line ends as single CR; at most 4000 bytes
  char DEFO[4002];  // line ends as single CR; at most 4000 bytes
  char FONTCOLOR[8];     // six hex digits without "#", or empty
  char RESFONTCOLOR[8];  // six hex digits without "#"
};
static_assert(sizeof(B_TITLE2) == 8800);
static_assert(offsetof(B_TITLE2, FOLDER_NO) == 0);
static_assert(offsetof(B_TITLE2, ADD_MAX) == 4);
static_assert(offsetof(B_TITLE2, READ_LEVEL) == 8);
static_assert(offsetof(B_TITLE2, WRITE_LEVEL) == 12);
static_assert(offsetof(B_TITLE2, READ_CHK) == 16);
static_assert(offsetof(B_TITLE2, REWRITE_FLG) == 20);
static_assert(offsetof(B_TITLE2, TITLEPIC) == 24);
static_assert(offsetof(B_TITLE2, BACKPIC) == 276);
static_assert(offsetof(B_TITLE2, DIRPIC) == 528);
static_assert(offsetof(B_TITLE2, INFO) == 780);
static_assert(offsetof(B_TITLE2, DEFO) == 4782);
static_assert(offsetof(B_TITLE2, FONTCOLOR) == 8784);
static_assert(offsetof(B_TITLE2, RESFONTCOLOR) == 8792);

constexpr size_t FOLDER_NAME_MAX = 83;  // bytes of NAME
constexpr size_t FOLDER_TEXT_MAX = 4000;  // bytes of INFO and DEFO

extern B_TITLE sB_TITLE;
extern B_TITLE2 sB_TITLE2;

// `base` (a directory setting ending in "/") followed by the folder number:
// the folder's directory under DATA_FILE_PATH, ADD_FILE_PATH or CG_FILE_PATH.
std::string folder_dir_path(const char* base, int32_t folder);

// ---- "b_title.mst" -------------------------------------------------------
// Positions count folder lines from 1; a line lacking one of its three
// commas is no folder line.

// Mode 1: the first folder line with FOLDER_NO == key. Mode 2: the folder
// line at position key. Into sB_TITLE; -1 when there is none or the file is
// missing (which reading never creates), sB_TITLE then unchanged.
int ReadB_TITLE(int32_t key, int mode);
// Every folder line in position order (entry p - 1 is position p), read at
// once; false when the file cannot be read (the list is then empty).
bool load_folders(std::vector<B_TITLE>& out);
// Writes sB_TITLE as a new line after physical line `position` (at the end
// when the file is shorter). -1 for a position below 1, a KIND outside 1-3
// or a file that cannot be written.
int InsertB_TITLE(int32_t position);
// Removes physical line `position`; -1 when there is no such line.
int DeleteB_TITLE(int32_t position);
// Replaces every folder line with that number by sB_TITLE and drops lines
// that are no folder lines. 0 if a line was replaced; -1 otherwise or for a
// KIND outside 1-3.
int ReWriteB_TITLE(int32_t folder);
// The folder number a new folder gets: one more than the highest present,
// 1 for an empty tree.
int32_t NextFOLDER_NO();

// ---- "b_title2.mst" ------------------------------------------------------
// Created empty by any access when missing. A partial record at the end is
// ignored and dropped by the next rewrite.

// The first record of the folder into sB_TITLE2; -1 when there is none
// (sB_TITLE2 then unchanged).
int ReadB_TITLE2(int32_t folder);
// As ReadB_TITLE2, into `out`; sB_TITLE2 is left as it was.
int read_b_title2_into(int32_t folder, B_TITLE2& out);
// Appends sB_TITLE2; 0 when the whole record was written.
int InsertB_TITLE2();
// Removes every record of the folder; 0 if at least one was removed.
int DeleteB_TITLE2(int32_t folder);
// Removes the records of all these folders in one rewrite; 0 if at least
// one was removed.
int DeleteB_TITLE2(const std::vector<int32_t>& folders);
// Replaces every record of the folder by sB_TITLE2 (stored under `folder`),
// or appends it when the folder has none. 0, or -1 when the file cannot be
// written.
int ReWriteB_TITLE2(int32_t folder);

// ---- Folder heads ---------------------------------------------------------
// The pages that walk many folders use only the access levels and the icon
// of each folder's settings: they read the head of each record (the part
// before the texts) and keep these fields alone.

struct FolderHead {
  int32_t READ_LEVEL;
  int32_t WRITE_LEVEL;
  std::string DIRPIC;
  uint32_t slot;  // the record's place in the file, from 0
};

// The heads of one data directory's settings records, read as they are
// asked for and kept. The first few folders are looked for at their usual
// place (folder number - 1, as ReadB_TITLE2 does); the first one not found
// there, or a page asking for more, has the heads of the whole file read
// at once: from "b_title2.heads" when that copy was made from the records
// as they are now, else from the records (which then write it afresh).
//
// "b_title2.heads" holds every record's head in file order under a stamp
// of "b_title2.mst" (device, inode, size, change and modification times).
// Every change to the records either replaces the file (a new inode) or
// appends to it (a new size), so a copy made before it no longer matches
// and is never used. Deleting the copy is safe: the next page rebuilds it.
class FolderHeads {
 public:
  // all_at_once: for a page that asks for every folder, which reads every
  // head at its first question instead of guessing first.
  explicit FolderHeads(bool all_at_once = false) : guesses_(all_at_once ? kGuesses : 0) {}
  // The head of the folder's first record, or null when it has none. The
  // head stays in place as long as this object.
  const FolderHead* find(int32_t folder);
  // As ReadB_TITLE2, reading the record at the place its head was found,
  // into `out` (sB_TITLE2 is left as it is).
  int read_record(int32_t folder, B_TITLE2& out);

 private:
  bool open();
  bool load_copy();
  void save_copy(const std::vector<std::pair<int32_t, FolderHead>>& all);

  Fd fd_;
  std::string stamp_;  // of the records as opened
  long records_ = -1;  // whole records in the file; -1 before it is opened
  static constexpr int kGuesses = 8;
  int guesses_;        // folders looked for at their usual place
  bool scanned_ = false;
  std::unordered_map<int32_t, FolderHead> heads_;
};

// ---- Whole-tree changes ----------------------------------------------------
// Creation, deletion and move each hold the data directory's lock from their
// first read to their last write and replace "b_title.mst" once, through a
// temporary file renamed over it, so that a failure leaves the old tree.

// One folder line as stored: the parsed record and the line's text after
// its leading spaces, without the line feed.
struct FolderLine {
  B_TITLE rec;
  std::string rest;
};
// Every folder line of "b_title.mst" in position order; false when the file
// cannot be read (the list is then empty).
bool load_tree(std::vector<FolderLine>& out);
// The file text for `lines`, each with DEPTH leading spaces. False when a
// line would be too long to read back (999 bytes with its line feed).
bool tree_text(const std::vector<FolderLine>& lines, std::string& out);
// Replaces "b_title.mst" by `text` under the data directory's lock, through
// one rename. 0 or -1.
int ReplaceB_TITLE(std::string_view text);

// Creates a folder of `kind` named `name` from the creation form's choices:
// `position` 0 puts it at the end at the top level; else `cls` 2 makes it
// the first entry of the directory at that position and `cls` 1 puts it on
// that folder's level after its subtree. Its settings record is written
// fresh (any leftover record of the reused number is replaced). Results:
// 0 (the number in `made`), 1 empty name, 2 no folder at the position or
// `cls` 2 under a folder that is no directory, 3 a name holding a comma or
// line end, -1 a kind outside 1-3, no number left or a file failure.
// Whatever an earlier folder of the number left in its message or
// attachment directory is moved into the quarantine first; the new places
// are added to `moved` (-1 when something could not be moved).
int CreateFOLDER(int32_t position, int cls, int kind, std::string_view name, int32_t& made,
                 std::vector<std::string>* moved = nullptr);
// Removes the folder at `position` with its subtree from "b_title.mst" and
// their settings records; their numbers in `removed`, in position order
// (empty when there is no folder there). 0, or -1 on a file failure.
int DeleteFOLDER(int32_t position, std::vector<int32_t>& removed);
// Moves the folder at `src` with its subtree: `target` below 1 puts it
// first at the top level; else `cls` 2 makes it the first entry of the
// directory at `target`, and any other `cls` puts it after the target's
// subtree on the target's level. Results: 0; -2 no folder at `src` or
// `target`, `cls` 2 under a folder that is no directory, or a line that
// would grow too long; -3 a target or place inside the moved block (which
// includes putting a folder where it already stands); -1 a file failure.
int MoveFOLDER(int32_t src, int32_t target, int cls);
