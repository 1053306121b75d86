// Bulk transfers: posting many messages from one uploaded text file, and the
// administrators' download and replacement of the folder tree file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// Offsets of every block start in `text`, found in one pass.
std::vector<size_t> batch_block_starts(std::string_view text);
// Parses the block starting at `offset` into `rec` (cleared first) and
// `body` (each body line with its own line end and "\n\r" after it). False
// when the block gives no board number, which ends the processing.
bool batch_parse_block(std::string_view text, size_t offset, INDEX_DATA& rec, std::string& body);
// The n-th block (from 1) of the file at `path` into sINDEX_DATA and
// `body`. 0, or -1 when there is no such block, it gives no board number, or
// the file cannot be read.
int batch_upload_get(int n, const char* path, std::string& body);
