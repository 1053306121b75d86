// Escaping of texts put into pages.
#include <gtest/gtest.h>

#include <string>

#include "app/html.h"

TEST(Html, EscapesEachSpecialCharacterWhereverItStands) {
  EXPECT_EQ(esc(""), "");
  EXPECT_EQ(esc("plain \x82\xa0 text"), "plain \x82\xa0 text");
  EXPECT_EQ(esc("&<>\"'"), "&amp;&lt;&gt;&quot;&#39;");
  EXPECT_EQ(esc("<a>b&c\"d'"), "&lt;a&gt;b&amp;c&quot;d&#39;");
  std::string out = "kept ";
  esc_into(out, std::string_view("x<\0y", 4));
  EXPECT_EQ(out, std::string("kept x&lt;\0y", 12));
}
