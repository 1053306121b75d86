// Form decoding of a query, URL-encoded or multipart body, announced longer
// or shorter than it is. Input: byte 0 the kind, byte 1 the length's offset,
// for multipart the Content-Type parameters up to a line feed, the body.
#include "cgi/cgilib.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_enter_scratch_dir();
  if (size < 2) return 0;
  const int kind = data[0] % 3;
  const long offset = static_cast<int8_t>(data[1]) * 37L;
  std::string_view rest = fuzz_rest(data, size, 2);
  std::string ctype = "application/x-www-form-urlencoded";
  if (kind == 2) {
    size_t nl = rest.find('\n');
    ctype = "multipart/form-data; " + std::string(rest.substr(0, nl));
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
  }
  if (kind == 0) {
    setenv("REQUEST_METHOD", "GET", 1);
    setenv("QUERY_STRING", std::string(rest.substr(0, rest.find('\0'))).c_str(), 1);
  } else {
    setenv("REQUEST_METHOD", "POST", 1);
    setenv("CONTENT_TYPE", std::string(ctype.substr(0, ctype.find('\0'))).c_str(), 1);
    long announced = static_cast<long>(rest.size()) + offset;
    setenv("CONTENT_LENGTH", std::to_string(announced).c_str(), 1);
    fuzz_stdin(rest);
  }
  cgi_get();
  // Every field, as the pages read them.
  for (CGI_ENTRY* e = list; e && e->next; e = e->next) {
    char small[8];
    cgi_getvalue(e->name.c_str(), 0, small);
    (void)cgi_own_upload(e->value);
    (void)cgi_value(e->name.c_str(), 1);
  }
  cgi_free();
  fuzz_remove_uploads();
  return 0;
}
