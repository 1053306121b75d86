// Every text conversion, in its returning form and in place in a buffer of
// a size chosen by the input, and the chain a message body goes through on
// its way to the page.
#include <algorithm>
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
  if (size < 2) return 0;
  // Byte 0 picks the conversion, byte 1 the size of the buffer the
  // in-place form works in; the rest is the text.
  const size_t buf_size = 1 + data[1] * 16;
  std::string_view t(reinterpret_cast<const char*>(data + 2), size - 2);
  switch (data[0] % 14) {
    case 0:
      (void)CrLf_to_Cr(t);
      in_buffer(t, buf_size, [](char* b, size_t) { CrLf_to_Cr(b); });
      break;
    case 1:
      (void)CrLf_to_BR(t);
      in_buffer(t, buf_size, [](char* b, size_t n) { CrLf_to_BR(b, n); });
      break;
    case 2:
      (void)Add_Blue(t, "0000FF");
      in_buffer(t, buf_size, [](char* b, size_t n) { Add_Blue(b, "0000FF", n); });
      break;
    case 3:
      (void)Add_a_href(t);
      in_buffer(t, buf_size, [](char* b, size_t n) { Add_a_href(b, n); });
      break;
    case 4: {
      (void)get_url(t);
      std::vector<char> out(buf_size);
      get_url(std::string(t.substr(0, t.find('\0'))).c_str(), out.data(), buf_size);
      break;
    }
    case 5:
      (void)HtmlConvert(t);
      in_buffer(t, buf_size, [](char* b, size_t n) { HtmlConvert(b, n); });
      break;
    case 6:
      (void)Add_Res(t);
      in_buffer(t, buf_size, [](char* b, size_t n) { Add_Res(b, n); });
      break;
    case 7: {
      (void)ketadori(t);
      in_buffer(t, buf_size, [](char* b, size_t n) { ketadori(b, n); });
      std::string small(t.substr(0, 20));
      small.resize(std::max(KETADORI_SIZE, small.size() + 1), '\0');
      ketadori(small.data());
      break;
    }
    case 8:
      (void)TrimRight(t);
      in_buffer(t, buf_size, [](char* b, size_t) { TrimRight(b); });
      break;
    case 9:
      (void)Add_Bold(t, t.substr(0, data[1] % 4));
      in_buffer(t, buf_size, [](char* b, size_t n) { Add_Bold(b, "a", n); });
      break;
    case 10:
      (void)BR_to_CrLf(t);
      in_buffer(t, buf_size, [](char* b, size_t) { BR_to_CrLf(b); });
      break;
    case 11:
      (void)AddQuart(t);
      in_buffer(t, buf_size, [](char* b, size_t n) { AddQuart(b, n); });
      break;
    case 12:
      (void)chk_date(std::string(t.substr(0, t.find('\0'))).c_str());
      break;
    default: {
      // A body as the pages show it, in each HTML mode.
      std::string blue = Add_Blue(t, "336699");
      (void)safe_html(CrLf_to_BR(Add_a_href(blue)));
      (void)safe_html("<PRE>" + blue + "</PRE>");
      (void)safe_html(blue);
    }
  }
  return 0;
}
