// Bulk transfers: posting many messages from one uploaded text file, and the
// administrators' download and replacement of the folder tree file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct INDEX_DATA;

// JOB=BATCH_UPLOAD: the upload form.
void j_BATCH_UPLOAD();
// JOB=BATCH_UPLOAD_WR: posts every block of the uploaded file FILE1 in file
// order and prints one line per block.
void j_BATCH_UPLOAD_WR();
// JOB=FOLDER_DOWNLOAD: "b_title.mst" as a download (administrators only).
void j_FOLDER_DOWNLOAD();
// JOB=FOLDER_UPLOAD: replaces "b_title.mst" with the uploaded FILE1, which
// must carry that name (administrators only).
void j_FOLDER_UPLOAD();

// The batch file: blocks start at lines beginning ";board" followed by the
// board's number; then a line whose text from its 4th character is the
// message answered (0 new thread), the title line (its line end included),
// a line with the priority from its 4th character, the body lines up to a
// line beginning "..", and two lines with the read confirmation and the
// display mode from their 5th character.

// Reads the blocks of a batch file in file order, a bounded piece at a
// time: neither the file nor any of its lines is ever held whole, only what
// the fields need of each line and the body up to `body_max` bytes. A line
// beginning ";board" starts a block wherever it stands, also inside the
// lines of the block before it.
class BatchReader {
 public:
  BatchReader(int fd, size_t body_max) : fd_(fd), body_max_(body_max) {}
  // The next block into `rec` (cleared first) and `body` (each body line
  // with its own line end and "\n\r" after it, cut to `body_max` bytes).
  // False when no block follows. A block that gives no board number
  // (FOLDER_NO 0) ends the processing.
  bool next(INDEX_DATA& rec, std::string& body);

 private:
  // The line at the current offset: its first `keep` bytes appended to
  // `out`; its whole length, 0 at the end of the file.
  size_t line(std::string& out, size_t keep);
  uint64_t offset() const { return buf_at_ + pos_; }
  void seek(uint64_t at);

  int fd_;
  size_t body_max_;
  std::string buf_;      // bytes of the file from buf_at_ on
  uint64_t buf_at_ = 0;
  size_t pos_ = 0;       // read position in buf_
  uint64_t resume_ = 0;  // where the search for the next block starts
};

// The n-th block (from 1) of the file at `path` into sINDEX_DATA and
// `body`. 0, or -1 when there is no such block, it gives no board number, or
// the file cannot be read.
int batch_upload_get(int n, const char* path, std::string& body);
