// The one way a page takes an uploaded file: only an upload that this
// request's decoding created (a file field's value is plain text a client
// can forge), under a name that is one safe path component, moved into
// place with filemove. Uploads nobody moved are removed when the request
// ends.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

struct TakenUpload {
  std::string name;  // the browser's file name: one safe component, cut to the limit
  std::string tmp;   // the temporary file in the working directory
};

// Longest file name kept: a name on disk has at most 255 bytes, and
// filemove writes through the name followed by ".part".
constexpr size_t kUploadNameMax = 250;

// The browser's file name (directory part already dropped) as one path
// component, cut to `max` bytes on a character boundary; empty when it is
// empty, starts with ".", or holds "/", "\", CR, LF or a control byte.
std::string safe_upload_name(std::string_view name, size_t max = kUploadNameMax);

// A name fit for a picture: safe_upload_name's rules, no comma, and one of
// the endings gif, jpg, jpeg, png, webp, bmp, ico (any letter case).
bool is_picture_name(std::string_view name);

// The n-th value of file field `field`, when it names an upload this
// request decoded (a regular file) and the sent name is safe. False
// otherwise; `out` then holds the temporary name of an own upload (or
// nothing), so that the caller may discard it.
bool take_upload(const char* field, int n, TakenUpload& out, size_t max = kUploadNameMax);

// Moves the upload to `target` (its directory must exist), replacing an
// existing file there only once the new one is complete. 0 or -1.
int place_upload(const TakenUpload& u, const std::string& target);

// Removes an own upload that will not be used (does nothing for others).
void discard_upload(const std::string& tmp);
