// Chat rooms: members and guests entering, writing and leaving, the display, refusals.
#include "board_site.h"
#include "store/chat.h"

namespace {

// Lounge (5): anyone reads, level 1 writes. Closed (6): level 50 reads.
struct ChatSite : BoardSite {
  ChatSite() {
    folder(1, KIND_BOARD, 0, "Board");
    folder(5, KIND_CHAT, 0, "Lounge", 0, 1);
    folder(6, KIND_CHAT, 0, "Closed", 50, 50);
    add_user("Odd", "pw", 1, 0);
  }
  std::string chat(const std::string& k, const std::string& job, Fields f = {}, int room = 5) const {
    f.insert(f.begin(), {{"SKEY", k}, {"JOB", job}, {"FOLDER_NO", std::to_string(room)}});
    return multipart(f).out;
  }
  std::vector<CHAT_DATA> lines() const { return records<CHAT_DATA>("5/chat.dat"); }
};

const std::string kHello = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd";  // Japanese greeting

std::string display(const std::string& k, int lines, int reload) {
  return "bbs.cgi?JOB=CHAT_DOWN&SKEY=" + k + "&FOLDER_NO=5&LOG_LINE=" + std::to_string(lines) +
         "&RELOAD_TIME=" + std::to_string(reload) + "\">";
}

TEST(ChatCgi, MemberEntersWritesAndLeaves) {
  ChatSite s;
  std::string k = s.key("Taro");
  Fields mine = {{"USER_NAME", "Hanako S"}, {"COLOR", "RED"}, {"LOG_LINE", "20"}, {"RELOAD_TIME", "60"}};
  std::string p = s.chat(k, "CHAT_UP", with(mine, "FAST", "1"));
  EXPECT_TRUE(has(p, "NAME=\"USER_NAME\" VALUE=\"Taro Y\"") && has(p, "NAME=\"FAST\" VALUE=\"2\""));

  EXPECT_TRUE(has(s.chat(k, "CHAT_DOWN", with(mine, "MTALK", kHello)), "CONTENT=\"0;URL=" + display(k, 20, 60)));
  ASSERT_EQ(s.lines().size(), 2u);

  p = s.chat(k, "CHAT_DOWN", mine);
  EXPECT_TRUE(has(p, "CONTENT=\"60;URL=" + display(k, 20, 60)));
  EXPECT_TRUE(has(p, "<B><FONT COLOR=\"RED\">.Taro Y</FONT></B> > <FONT COLOR=\"000000\">" + kHello));

  s.chat(k, "CHAT_UP", with(mine, "FAST", "3"));
  ASSERT_EQ(s.lines().size(), 3u);
  EXPECT_EQ(field(s.lines()[0].MTALK), "<B><FONT COLOR=\"RED\">.Taro Y</FONT></B> S356");  // newest first
  EXPECT_FALSE(has(s.chat(k, "CHAT_DOWN", {{"RELOAD_TIME", "999"}}), "Refresh"));
  ReadCHAT_IDX(5, "Taro");
  EXPECT_EQ(field(sCHAT_IDX.LAST_DATE), CHAT_LEFT_DATE);
}

TEST(ChatCgi, GuestsWhatTheDisplayEscapesAndRefusals) {
  ChatSite s;
  s.env["HTTP_USER_AGENT"] = "<script>ua()</script>";
  s.env.erase("REMOTE_ADDR");
  std::string k = s.key("Guest");
  Fields guest = {{"USER_NAME", "<i>G</i>"}, {"COLOR", "red\" onclick=\"x"}, {"RELOAD_TIME", "-5"},
                  {"FAST", "1"}};
  s.chat(k, "CHAT_UP", guest);
  s.chat(k, "CHAT_DOWN", {{"USER_NAME", "<i>G</i>"}, {"MTALK", "<B>bold</B>"}});
  s.chat(s.key("Odd"), "CHAT_DOWN", {{"USER_NAME", "Odd"}, {"MTALK", "x"}});
  EXPECT_EQ(ReadCHAT_IDX(5, "Guest"), -1);
  auto l = s.lines();
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0].MODE, 2);  // neither member nor guest: stored as a guest
  EXPECT_EQ(field(l[2].MTALK), "<B><FONT COLOR=\"4161E1\">&lt;i&gt;G&lt;/i&gt;</FONT></B> S355");
  EXPECT_EQ(field(l[2].REMOTE_ADDR), "");

  std::string p = s.chat(k, "CHAT_DOWN");
  EXPECT_TRUE(has(p, "CONTENT=\"30;URL=" + display(k, 30, 30)));
  EXPECT_TRUE(has(p, "<B><FONT COLOR=\"4161E1\">&lt;i&gt;G&lt;/i&gt;</FONT></B> > "
                     "<FONT COLOR=\"000000\"><B>bold</B></FONT>"));
  EXPECT_TRUE(has(p, "()(&lt;script&gt;ua()&lt;/script&gt;)"));
  EXPECT_FALSE(has(p, "<script>") || has(p, "<i>"));

  // A guest's entry form offers what he sent.
  p = s.chat(k, "CHAT_UP", {{"USER_NAME", "\"G\""}, {"RELOAD_TIME", "999"}});
  EXPECT_TRUE(has(p, "MAXLENGTH=\"80\" VALUE=\"&quot;G&quot;\"") &&
              has(p, "RELOAD_TIME\">\n<OPTION VALUE=\"999\">S348"));

  const size_t kept = s.lines().size();
  std::string taro = s.key("Taro"), reader = s.key("Reader");
  const std::tuple<std::string, std::string, Fields, int> refused_cases[] = {
      {taro, "CHAT_UP", {{"FAST", "1"}}, 9}, {taro, "CHAT_DOWN", {{"MTALK", "x"}}, 9},
      {taro, "CHAT_DOWN", {{"MTALK", "x"}}, 1}, {taro, "CHAT", {}, 6},
      {reader, "CHAT_UP", {{"FAST", "1"}}, 5}, {reader, "CHAT_UP", {{"FAST", "3"}}, 5},
      {reader, "CHAT_DOWN", {{"MTALK", "x"}}, 5}};
  for (const auto& [k, job, f, room] : refused_cases)
    EXPECT_TRUE(refused(s.chat(k, job, f, room))) << job << " " << room;
  EXPECT_FALSE(file_exists(s.data + "9"));
  EXPECT_FALSE(file_exists(s.data + "1/chat.dat"));
  EXPECT_EQ(s.lines().size(), kept);
  // Reading is enough to watch.
  EXPECT_TRUE(has(s.chat(reader, "CHAT_DOWN"), "<BODY BGCOLOR=\"#FFFFFF\" >"));
}

}  // namespace
