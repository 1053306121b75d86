// Derived read data of a board: for each user who has read something there,
// the set of the board's messages he has marked read, so that a user's
// unread count and unread list cost one small read per board instead of one
// read-mark file per message.
//
// The read-mark files ("r%d.dat") stay the record of truth and are written
// exactly as before; this file is a cache beside them. Deleting it loses
// nothing: the next request that needs it builds it again in one pass over
// the board (the index and every read-mark file).
//
// File "readcache.bin" in the board's directory (temporary copy
// "readcache.bin.tmp"; neither name can be taken for a message, read-mark,
// index, attachment, unread-settings or chat file). Integers little-endian.
//
//   header, 64 bytes:
//     0  "MRC1"            magic
//     4  uint32 version    1
//     8  uint32 state      0 clean; 1 a change is under way (stale)
//    12  uint32 seq        counts changes; readers compare it before and after
//    16  int64 size, 24 int64 mtime (ns), 32 uint64 inode of "index.dat" as
//        last written by a step that kept this file current
//    40  uint32 records    whole records of the index
//    44  uint32 width      bytes of every bitmap (bit n: message number n)
//    48  uint32 slots      entries of the user directory (a power of two)
//    52  uint32 rows       users with a bitmap
//    56  8 bytes zero
//   present bitmap (width bytes): the numbers the index holds
//   user directory (slots x 32 bytes): a user ID in 24 bytes, zero-padded,
//     and its row number plus one (0: free slot); open addressing, probed
//     linearly from a hash of the ID, at most half full
//   rows (rows x width bytes): each user's read messages, always a subset of
//     the present bitmap
//
// A user's unread count is the count of present bits minus the count of his
// bits; his unread list is the present bits he lacks. A reader takes no lock:
// it reads the header, the directory entry and the row, then the header
// again, and uses what it read only when the file was clean, unchanged in
// between, and stamped with the index's current size, time and inode. In any
// other case it takes the board's lock, looks again and, if the file is
// still not current, builds it anew.
//
// Every store step that changes read marks or the index keeps the file
// current under the board's lock: it marks the file stale (state 1) before
// touching any record file, and clean with the new stamp once its own
// changes and the file's agree. A step that is killed, or fails, half-way
// leaves the file marked stale, never silently wrong. A file that is
// already stale when a step begins is removed. The deletion of a user
// changes no read mark and so nothing here; the deletion of a folder removes
// the file before the rest of the folder's files.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/records.h"

// What a reader needs of one user in one board.
struct ReadView {
  int count = 0;                 // messages of the index he has not read
  std::vector<int32_t> numbers;  // their numbers, ascending (when asked for)
};

// The user's view of the board, from the derived data, built or rebuilt
// where missing or stale. False when the board cannot be read (an index or
// a read-mark file that cannot be read); a board without a directory reads
// as empty. A message is read when its read-mark file holds a record of the
// user. (On a board whose index holds a number twice, or numbers out of
// range, which the store never writes, the counts are made from the files
// alone, and such numbers' marks are the current user's.)
bool read_view(int32_t folder, std::string_view user, ReadView& out, bool numbers = false);

// read_view for many boards at once: where the files are current, each
// one's start and then the user's row are read in batches over all boards;
// the others one by one. Whether each board could be read. `stamps`, when
// given, are the boards' indexes' stamps as the caller took them (from the
// files it holds open).
std::vector<bool> read_views(const std::vector<int32_t>& folders, std::string_view user, std::vector<ReadView>& out,
                             bool numbers = false, const std::vector<FileStamp>* stamps = nullptr);

// A store step's change of the derived data. Made while the board's lock is
// held and before any record file is touched; it marks a current file
// stale at once. The changes are written by commit(); an object destroyed
// without commit() leaves the file stale. Nested changes of one board in one
// process join the outermost one, which alone writes.
class ReadCacheChange {
 public:
  explicit ReadCacheChange(int32_t folder);
  ~ReadCacheChange();
  ReadCacheChange(const ReadCacheChange&) = delete;
  ReadCacheChange& operator=(const ReadCacheChange&) = delete;

  bool active() const;                                  // a current file is kept
  bool has_read(std::string_view user, int32_t msg);    // by the file, when active
  void mark(std::string_view user, int32_t msg);        // a mark was added
  void mark_all(std::string_view user);                 // every message marked
  void reset(int32_t msg, std::string_view user);       // marks replaced by user's alone
  void clear(int32_t msg);                              // every mark removed
  void added(int32_t msg);                              // the index gained the number
  void removed(int32_t msg);                            // the index lost the number
  void commit();

  struct State;

 private:
  State* st_ = nullptr;
  bool outer_ = false;
};

// Removes the board's derived data (the board's lock is taken).
void drop_read_cache(int32_t folder);

// Compares board `folder`'s derived read data with a recount from the
// read-mark files (and the index): -1 when the board cannot be read, 0 when
// they agree or there is no current derived data (a missing or stale file is
// rebuilt by the next request anyway), otherwise the number of disagreeing
// entries (user and message pairs, and the index's numbers).
int verify_read_cache(int32_t folder);
// Drops and rebuilds board `folder`'s derived read data from the read-mark
// files, under the board's lock. 0 or -1.
int rebuild_read_cache(int32_t folder);
// True for a file name (no directory) of the derived read data, its
// temporary copy included.
bool is_read_cache_name(const char* name);
// The path of the board's derived read data file.
std::string read_cache_path(int32_t folder);
