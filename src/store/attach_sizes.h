// Derived copy of a board's attachment list with each attached file's size,
// so that a page showing messages of many boards (the unread list) learns
// what is attached, and how large it is, from one small read per board
// instead of the whole list and a look-up of every file.
//
// File "attsize.bin" in the board's directory (temporary copy
// "attsize.bin.tmp"; neither name can be taken for a message, read-mark,
// index, attachment, unread-settings or chat file). Integers little-endian.
//
//   header, 40 bytes:
//     0  "MAS1"        magic
//     4  uint32 count  records of "add_file.dat"
//     8  int64 size, 16 int64 mtime (ns), 24 uint64 inode of "add_file.dat"
//        as it was when the copy was made
//    32  8 bytes zero
//   then for each record, in file order, 16 bytes: int32 MSG_NO,
//   int32 ADD_NO, int32 the file's size (0: not found), uint32 the length
//   of its name; then the names, in the same order, one after another.
//
// The copy is used only while its stamp is the list's own. Every store step
// that changes the list or an attached file removes the copy first, under
// the board's lock, and keeps the lock until its change is done; the next
// reader makes it anew under the same lock. So a step killed half-way
// leaves no copy, never a wrong one. Deleting it is always safe.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "store/records.h"

struct AttachedFile {
  int32_t msg = 0;
  int32_t slot = 0;
  int32_t size = 0;  // bytes, as the file's status gives them; 0 when missing
  std::string name;  // FILE_NAME up to its first NUL
};

// The copy as a page read it ahead, in a batch with other files: the
// list's stamp must have been taken before the copy was read.
struct AttachCopy {
  FileStamp list;
  std::string bytes;
  bool read = false;  // false: the copy could not be read
};

// Every record of the board's attachment list, in file order, with its
// file's size: from the copy when it is current (`ahead`: as read ahead),
// else from the list and the files (and the copy is made anew). A board
// without a list has none. False when the list exists but cannot be read.
// `only`: when given, the numbers (ascending) of the messages whose files
// are wanted; the others may be left out.
bool load_attached_files(int32_t folder, std::vector<AttachedFile>& out, const AttachCopy* ahead = nullptr,
                         const std::vector<int32_t>* only = nullptr);

// The copy's file name in the board's directory.
const char* attach_sizes_name();

// Removes the copy. Called by every step that changes the attachment list
// or an attached file, under the board's lock, before the change.
void drop_attached_sizes(int32_t folder);

// Whether a current copy agrees with the list and the files as they are
// now (an attached file changed by hand makes it disagree). True when there
// is no current copy: the next page makes it anew anyway.
bool verify_attached_sizes(int32_t folder);

// True for the copy's file name and its temporary's (no directory).
bool is_attach_sizes_name(const char* name);
