// Reading many small files of one directory at once: the read marks of
// every message of a board (unread counts, unread list, mark all read), the
// bodies a search reads and the boards' unread settings; pieces of many
// files: the boards' derived read data and thread maps; and many pieces of
// open files: the heads of the folders' settings records, the index records
// the unread list shows.
//
// Where the kernel offers io_uring, more than a few files go through it in
// batches: each file is opened and read by a linked chain of requests (it
// is closed when the next file takes its slot, or with the ring), and a
// whole batch costs one system call instead of three or four per file.
// Where it does not (an older kernel, io_uring switched off, a sandbox),
// the files are read one by one with the same results.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Calls `fn(i, bytes, err)` for each `names[i]` (a file name in `dir`), in
// order: `err` is 0 and `bytes` the whole file, or `err` is the errno of the
// failed open or read (ENOENT for a missing file) and `bytes` empty. Files
// are opened for reading only: nothing is created. `bytes` is valid only
// during the call.
void read_small_files(const std::string& dir, const std::vector<std::string>& names,
                      const std::function<void(size_t, std::string_view, int)>& fn);

// Calls `fn(i, bytes)` for each offsets[i], in order: the `len` bytes of
// the open file `fd` at that offset (fewer at its end, none on an error).
// Many pieces are read in batches in the same way.
void read_ranges(int fd, const std::vector<long>& offsets, size_t len,
                 const std::function<void(size_t, std::string_view)>& fn);
// The same with a length for each piece, lens[i] (at most 4 KiB); two
// pieces already go in one batch.
void read_ranges(int fd, const std::vector<long>& offsets, const std::vector<size_t>& lens,
                 const std::function<void(size_t, std::string_view)>& fn);

// The same, piece i read from fds[i].
void read_ranges(const std::vector<int>& fds, const std::vector<long>& offsets, const std::vector<size_t>& lens,
                 const std::function<void(size_t, std::string_view)>& fn);

// A piece of a file: `len` bytes at `off`.
struct FilePiece {
  long off;
  size_t len;
};
using PiecesThen = std::function<std::vector<FilePiece>(size_t, const std::vector<std::string_view>&)>;
using PiecesDone = std::function<void(size_t, const std::vector<std::string_view>&, int)>;

// Reads pieces of each `names[i]` (a file in `dir`) from one open file:
// first the pieces first[i], then those `then(i, got)` asks for once it has
// seen what they hold (`then` may be null). Calls
// `fn(i, got, err)` in order: `got` each piece's bytes (fewer at the file's
// end, none past it or after a failed read), the first pieces then the
// later ones; `err` the errno of a failed open (then nothing was read).
// Many files go through io_uring in batches of two system calls: a file
// read twice is the same file both times, even where it is replaced in
// between. At most 128 later pieces are read; more are left empty.
void read_pieces(const std::string& dir, const std::vector<std::string>& names,
                 const std::vector<std::vector<FilePiece>>& first, const PiecesThen& then, const PiecesDone& fn);

// Called once the process's heap lies on a huge page: the batches' rings
// are then kept in it.
void batch_rings_in_heap();

// For tests: forces the one-by-one reading (true) or allows the batches,
// and whether the batches go through io_uring here.
void read_small_files_plain(bool plain);
bool read_small_files_batching();
