// Form input: decoding of query strings, URL-encoded and multipart bodies
// (uploads streamed to temporary files "CGI<n>"), field lookup, and the
// Shift_JIS-aware search used to split every comma-separated line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct CGI_ENTRY {
  std::string name;
  std::string value;
  CGI_ENTRY* next = nullptr;
};

extern CGI_ENTRY* list;
extern CGI_ENTRY* cur;
extern uint32_t content_length;
extern uint32_t input_byte;

// Largest URL-encoded body read into memory; a longer one gives -1 and no input.
constexpr uint32_t CGI_MAX_URLENCODED = 8u * 1024 * 1024;
// What one multipart body may upload: file parts, and bytes of file data in
// all. A body beyond either gives -1 and no input, and the files it had
// already produced are removed.
constexpr int CGI_MAX_FILE_PARTS = 100;
constexpr uint64_t CGI_MAX_FILE_BYTES = 64u * 1024 * 1024;

int cgi_get();
// Copies the n-th value of field `name` into `out` (size bytes, cut at a
// character boundary); empty when there are not so many.
void cgi_getvalue(const char* name, int n, char* out, size_t size);
template <size_t N>
inline void cgi_getvalue(const char* name, int n, char (&out)[N]) {
  cgi_getvalue(name, n, out, N);
}
// The whole n-th value, without a width limit.
std::string cgi_value(const char* name, int n = 0);
// True when `tmp` names a temporary file that this request's decoding
// created. A file field's value is plain text that a client can forge (a
// text part sent under a file field's name), so handlers move or remove
// only uploads this check confirms.
bool cgi_own_upload(std::string_view tmp);
// Releases the list, removes this request's upload files that no handler
// moved away, and sweeps upload files ("CGI<digits>") that nobody has
// touched for an hour (those of processes that died mid-request).
void cgi_free();

int StrFind(std::string_view text, std::string_view pattern);
char* cut_filename(char* value, char* name_out, size_t name_size, char* tmp_out,
                   size_t tmp_size);
