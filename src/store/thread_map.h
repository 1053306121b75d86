// Derived map of a board's threads: for each message number, its thread and
// where in the index that thread's records lie, so that a page that shows a
// few messages of a large board (the unread list) reads a few bytes of the
// map and then just those records of the index.
//
// File "threads.bin" in the board's directory (temporary copy
// "threads.bin.tmp"; neither name can be taken for a message, read-mark,
// index, attachment, unread-settings or chat file). Integers little-endian.
//
//   header, 56 bytes:
//     0  "MTM1"        magic
//     4  uint32 count  records of the index
//     8  int64 size, 16 int64 mtime (ns), 24 uint64 inode of "index.dat"
//        as it was when the map was made
//    32  8 bytes zero
//    40  uint32 top    numbers below it have an entry
//    44  uint32 odd    1: the index holds a number twice, or a number or
//                      thread out of range; the map then tells nothing
//    48  8 bytes zero
//   then for each number n below top, 12 bytes: int32 the thread of n's
//   first record; uint32 the position of the first record of that thread,
//   uint32 the number of positions from there to its last (0: no message n).
//
// A thread's records stand together in an index the store writes (a reply
// goes into its thread's part); where they do not, the span holds others
// too, which the reader leaves out. The map is used only while its stamp is
// the index's own; otherwise the reader makes it anew from the index under
// the board's lock. Records read by means of it are checked against it.
// Deleting it is always safe.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <vector>

struct ThreadSpan {
  int32_t thread = 0;
  uint32_t first = 0;  // position in the index
  uint32_t count = 0;  // 0: no such message
};

// The spans of the threads of messages `msgs` (numbers) of the board's
// index, whose status as the page opened it is `st`: from the map when it
// is current, else from the index itself (and the map is made anew). False
// when the index cannot be read, has changed since, or is odd (a number
// twice, or out of range): the page then reads the index it opened.
bool thread_spans(int32_t folder, const struct stat& st, const std::vector<int32_t>& msgs,
                  std::vector<ThreadSpan>& out);

// thread_spans for many boards, their maps read in one batch: whether each
// gave its spans.
std::vector<bool> thread_spans_many(const std::vector<int32_t>& folders, const std::vector<struct stat>& st,
                                    const std::vector<std::vector<int32_t>>& msgs,
                                    std::vector<std::vector<ThreadSpan>>& out);

// True for the map's file name and its temporary's (no directory).
bool is_thread_map_name(const char* name);
