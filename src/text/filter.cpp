// The output filter for stored HTML text.
#include "text/filter.h"

#include "text/convert.h"

std::string safe_html(std::string_view html) { return HtmlConvert(html); }
