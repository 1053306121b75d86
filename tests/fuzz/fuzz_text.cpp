// Every text conversion, in its returning form and in place in a buffer of
// a size chosen by the input, and the chain a message body goes through on
// its way to the page.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
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

// Each conversion's returning form and its in-place form.
using Whole = void (*)(std::string_view);
using InPlace = void (*)(char*, size_t);
const std::pair<Whole, InPlace> kConversions[] = {
    {[](std::string_view t) { (void)CrLf_to_Cr(t); }, [](char* b, size_t) { CrLf_to_Cr(b); }},
    {[](std::string_view t) { (void)CrLf_to_BR(t); }, [](char* b, size_t n) { CrLf_to_BR(b, n); }},
    {[](std::string_view t) { (void)Add_Blue(t, "0000FF"); }, [](char* b, size_t n) { Add_Blue(b, "0000FF", n); }},
    {[](std::string_view t) { (void)Add_a_href(t); }, [](char* b, size_t n) { Add_a_href(b, n); }},
    {[](std::string_view t) { (void)get_url(t); },
     [](char* b, size_t n) { std::vector<char> out(n); get_url(b, out.data(), n); }},
    {[](std::string_view t) { (void)HtmlConvert(t); }, [](char* b, size_t n) { HtmlConvert(b, n); }},
    {[](std::string_view t) { (void)Add_Res(t); }, [](char* b, size_t n) { Add_Res(b, n); }},
    {[](std::string_view t) {
       (void)ketadori(t);
       std::string small(t.substr(0, 20));  // the fixed-size form
       small.resize(std::max(KETADORI_SIZE, small.size() + 1), '\0');
       ketadori(small.data());
     },
     [](char* b, size_t n) { ketadori(b, n); }},
    {[](std::string_view t) { (void)TrimRight(t); }, [](char* b, size_t) { TrimRight(b); }},
    {[](std::string_view t) { (void)Add_Bold(t, t.substr(0, t.size() % 4)); },
     [](char* b, size_t n) { Add_Bold(b, "a", n); }},
    {[](std::string_view t) { (void)BR_to_CrLf(t); }, [](char* b, size_t) { BR_to_CrLf(b); }},
    {[](std::string_view t) { (void)AddQuart(t); }, [](char* b, size_t n) { AddQuart(b, n); }},
};
constexpr size_t kCount = sizeof kConversions / sizeof kConversions[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Byte 0 picks the conversion, byte 1 the size of the buffer the
  // in-place form works in; the rest is the text.
  const size_t buf_size = 1 + data[1] * 16;
  std::string_view t(reinterpret_cast<const char*>(data + 2), size - 2);
  const size_t pick = data[0] % (kCount + 2);
  if (pick < kCount) {
    kConversions[pick].first(t);
    in_buffer(t, buf_size, kConversions[pick].second);
  } else if (pick == kCount) {
    (void)chk_date(std::string(t.substr(0, t.find('\0'))).c_str());
  } else {
    // A body as the pages show it, in each HTML mode.
    std::string blue = Add_Blue(t, "336699");
    (void)safe_html(CrLf_to_BR(Add_a_href(blue)));
    (void)safe_html("<PRE>" + blue + "</PRE>");
    (void)safe_html(blue);
  }
  return 0;
}
