// Every text conversion, in its returning form and in place in a buffer of
// a size chosen by the input (byte 0), and the chain a message body goes
// through on its way to the page.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/convert.h"
#include "text/datetime.h"
#include "text/filter.h"

namespace {

// Runs an in-place conversion on a copy of `text` in a buffer of exactly
// `size` bytes, so that a write beyond it is caught.
template <typename F>
void in_buffer(std::string_view text, size_t size, F conv) {
  std::vector<char> buf(size);
  size_t n = std::min(text.size(), size - 1);
  memcpy(buf.data(), text.data(), n);
  buf[n] = '\0';
  conv(buf.data(), size);
  if (strnlen(buf.data(), size) == size) abort();  // lost its terminator
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t buf_size = 1 + data[0] * 16;
  std::string_view t(reinterpret_cast<const char*>(data + 1), size - 1);

  (void)CrLf_to_Cr(t);
  (void)CrLf_to_BR(t);
  (void)Add_Blue(t, "0000FF");
  (void)Add_a_href(t);
  (void)get_url(t);
  (void)HtmlConvert(t);
  (void)Add_Res(t);
  (void)ketadori(t);
  (void)TrimRight(t);
  (void)Add_Bold(t, t.substr(0, data[0] % 4));
  (void)BR_to_CrLf(t);
  (void)AddQuart(t);

  in_buffer(t, buf_size, [](char* b, size_t) { CrLf_to_Cr(b); });
  in_buffer(t, buf_size, [](char* b, size_t n) { CrLf_to_BR(b, n); });
  in_buffer(t, buf_size, [](char* b, size_t n) { Add_Blue(b, "0000FF", n); });
  in_buffer(t, buf_size, [](char* b, size_t n) { Add_a_href(b, n); });
  in_buffer(t, buf_size, [](char* b, size_t n) { HtmlConvert(b, n); });
  in_buffer(t, buf_size, [](char* b, size_t n) { Add_Res(b, n); });
  in_buffer(t, buf_size, [](char* b, size_t n) { ketadori(b, n); });
  in_buffer(t, buf_size, [](char* b, size_t) { TrimRight(b); });
  in_buffer(t, buf_size, [](char* b, size_t n) { Add_Bold(b, "a", n); });
  in_buffer(t, buf_size, [](char* b, size_t) { BR_to_CrLf(b); });
  in_buffer(t, buf_size, [](char* b, size_t n) { AddQuart(b, n); });
  {
    std::vector<char> out(buf_size);
    std::string in(t.substr(0, t.find('\0')));
    get_url(in.c_str(), out.data(), buf_size);
  }
  if (t.size() < 32) {
    std::string small(t);
    small.resize(KETADORI_SIZE > small.size() ? KETADORI_SIZE : small.size() + 1, '\0');
    ketadori(small.data());
  }

  (void)chk_date(std::string(t.substr(0, t.find('\0'))).c_str());

  // A body as the pages show it, in each HTML mode.
  std::string blue = Add_Blue(t, "336699");
  (void)safe_html(CrLf_to_BR(Add_a_href(blue)));
  (void)safe_html("<PRE>" + blue + "</PRE>");
  (void)safe_html(blue);
  return 0;
}
