// Derived copy of a board's index that keeps only each record's number and
// thread, 8 bytes a record instead of 160: a page that shows a few messages
// of a large board (the unread list) finds their records and their threads'
// records in it, then reads just those records of the index.
//
// File "threads.bin" in the board's directory (temporary copy
// "threads.bin.tmp"; neither name can be taken for a message, read-mark,
// index, attachment, unread-settings or chat file). Integers little-endian.
//
//   header, 40 bytes:
//     0  "MTP1"        magic
//     4  uint32 count  records of the index
//     8  int64 size, 16 int64 mtime (ns), 24 uint64 inode of "index.dat"
//        as it was when the copy was made
//    32  8 bytes zero
//   then for each record, in file order: int32 MSG_NO, int32 THREAD_NO
//
// The copy is used only while its stamp is the index's own; otherwise the
// reader makes it anew from the index under the board's lock. Records read
// by means of it are checked against it, so an index changed in place while
// a page reads is never taken for the copy's. Deleting it is always safe.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <vector>

struct IndexPair {
  int32_t msg;
  int32_t thread;
  // Left as they are: vectors of pairs are sized and then filled by a read.
  IndexPair() {}  // NOLINT
  IndexPair(int32_t m, int32_t t) : msg(m), thread(t) {}
};

// The number and thread of every record of the board's index, whose
// status as the page opened it is `st`, in file order: from the copy when it
// is current, else from the index itself (and the copy is made anew). False
// when the index cannot be read or has changed since: the page then reads
// the index it opened.
bool load_index_pairs(int32_t folder, const struct stat& st, std::vector<IndexPair>& out);

// True for the copy's file name and its temporary's (no directory).
bool is_index_pairs_name(const char* name);
