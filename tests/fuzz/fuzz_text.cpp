// Every text conversion, returning and in place in a buffer sized by the
// input, and the chain a message body goes through to the page.
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "text/convert.h"
#include "text/datetime.h"
#include "text/filter.h"

namespace {

// An in-place conversion of `text` in a buffer of exactly `size` bytes.
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

// Byte 0 of a case's input sizes the in-place buffer; the rest is the text.
std::string_view text_of(std::string_view in) { return in.substr(in.empty() ? 0 : 1); }

template <size_t I>
void conversion(std::string_view in) {
  kConversions[I].first(text_of(in));
  in_buffer(text_of(in), 1 + (in.empty() ? 0 : static_cast<uint8_t>(in[0])) * 16, kConversions[I].second);
}
void date(std::string_view in) { (void)chk_date(std::string(text_of(in).substr(0, text_of(in).find('\0'))).c_str()); }
// A body as the pages show it, in each HTML mode.
void body(std::string_view in) {
  std::string blue = Add_Blue(text_of(in), "336699");
  (void)safe_html(CrLf_to_BR(Add_a_href(blue)));
  (void)safe_html("<PRE>" + blue + "</PRE>");
  (void)safe_html(blue);
}
template <size_t... I>
constexpr std::array<void (*)(std::string_view), sizeof...(I) + 2> cases(std::index_sequence<I...>) {
  return {conversion<I>..., date, body};
}
const auto kCases = cases(std::make_index_sequence<std::size(kConversions)>());

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_pick(data, size, kCases);
}
