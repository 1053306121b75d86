// The chat store: the newest 61 lines, the member index, simultaneous writers.

#include "data_dir.h"
#include "store/chat.h"

namespace {

constexpr int32_t R = 4;
using ChatStore = DataDir;

void line(const std::string& text, const std::string& name = "Taro") {
  sCHAT_DATA = CHAT_DATA{.MODE = 1};
  set_field(sCHAT_DATA.USER_NAME, name);
  set_field(sCHAT_DATA.MTALK, text);
  ASSERT_EQ(WriteCHAT_DATA(R), 0);
}

std::string talk(int n) {
  return ReadCHAT_DATA(R, n) == 0 ? std::string(field(sCHAT_DATA.MTALK)) : "-";
}

TEST_F(ChatStore, KeepsTheNewest61LinesNewestFirst) {
  EXPECT_EQ(talk(0), "-");  // an empty room
  for (int i = 0; i < 70; i++) line("line " + std::to_string(i));
  std::string bytes = get("4/chat.dat");
  ASSERT_EQ(bytes.size(), 61 * sizeof(CHAT_DATA));
  EXPECT_EQ(bytes.substr(0, 4) + bytes.substr(108, 8), std::string("\1\0\0\0line 69\0", 12));
  EXPECT_EQ(talk(60), "line 9");
  EXPECT_EQ(talk(61) + talk(-1), "--");
}

TEST_F(ChatStore, OneIndexEntryPerMember) {
  auto entry = [](const std::string& id, int lines) {
    sCHAT_IDX = CHAT_IDX{.LOG_LINE = lines};
    set_field(sCHAT_IDX.USER_ID, id);
    set_field(sCHAT_IDX.LAST_DATE, "2024/05/06 07:08");
    return WriteCHAT_IDX(R);
  };
  EXPECT_EQ(ReadCHAT_IDX(R, "Taro"), -1);
  // Simultaneous first entries of one member leave one record.
  EXPECT_TRUE(run_together(10, [&](int) { return entry("Taro", 20); }));
  EXPECT_EQ(entry("Hanako", 10), 0);
  EXPECT_EQ(entry("Taro", 40), 0);
  ASSERT_EQ(get("4/chat.idx").size(), 2 * sizeof(CHAT_IDX));
  ASSERT_EQ(ReadCHAT_IDX(R, "Taro"), 0);
  EXPECT_EQ(sCHAT_IDX.LOG_LINE, 40);

  // A member who has left is not marked present again by a reload.
  EXPECT_EQ(MarkCHAT_IDX(R, "Taro", CHAT_LEFT_DATE, false), 0);
  EXPECT_EQ(MarkCHAT_IDX(R, "Taro", "2024/05/06 09:00", true), -1);
  EXPECT_EQ(MarkCHAT_IDX(R, "Hanako", "2024/05/06 09:00", true), 0);
  ReadCHAT_IDX(R, "Taro");
  EXPECT_EQ(field(sCHAT_IDX.LAST_DATE), CHAT_LEFT_DATE);
  EXPECT_EQ(get("4/chat.idx").size(), 2 * sizeof(CHAT_IDX));
}

TEST_F(ChatStore, SimultaneousWritersLoseNoLine) {
  constexpr int WRITERS = 20, EACH = 4;
  EXPECT_TRUE(run_together(WRITERS, [](int k) {
    for (int i = 0; i < EACH; i++) {
      line(std::to_string(k) + ":" + std::to_string(i));
      if (::testing::Test::HasFailure()) return 1;
    }
    return 0;
  }));
  // Of each writer's lines, his last ones are kept, newest first.
  std::vector<CHAT_DATA> lines;
  ASSERT_TRUE(load_chat_lines(R, lines));
  ASSERT_EQ(lines.size(), CHAT_LINES_KEPT);
  std::map<int, std::vector<int>> kept;
  for (const CHAT_DATA& d : lines) {
    std::string t(field(d.MTALK));
    kept[std::stoi(t)].push_back(std::stoi(t.substr(t.find(':') + 1)));
  }
  for (const auto& [k, seq] : kept)
    for (size_t j = 0; j < seq.size(); j++) EXPECT_EQ(seq[j], EACH - 1 - static_cast<int>(j)) << k;
}

}  // namespace
