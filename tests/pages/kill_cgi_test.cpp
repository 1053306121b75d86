// Killed posting requests never leave a broken message, a wrong body or attachment.
#include "board_site.h"

namespace {

// One request as sent: what it was and which message it aimed at.
struct Attempt {
  char kind;        // 'P' post, 'R' reply, 'E' edit, 'D' delete
  int32_t sel = 0;  // message answered, edited or deleted
  bool file = false;
};

// The request number in a title "T<n>", a body "B<n> ..." or a file "A<n>...".
long token(std::string_view text, char mark) {
  if (text.empty() || text[0] != mark) return -1;
  return std::atol(std::string(text.substr(1, 12)).c_str());
}

TEST(KillCgi, KilledPostingNeverLeavesABrokenMessage) {
  PostingSite s;
  s.write_settings("MAX_CONTENTS,99999,\n");
  s.configure(1, [](B_TITLE2& b) { b.ADD_MAX = 1; });
  const std::string admin = s.key("Admin");
  std::map<long, Attempt> sent;

  // Sends request `id` and kills it after `delay_us` (never when negative).
  auto request = [&](long id, const Attempt& a, long delay_us) {
    sent[id] = a;
    if (a.kind == 'D')
      return s.multipart({{"SKEY", admin}, {"JOB", "DELMSG"}, {"FOLDER_NO", "1"}, {"SEL_NO", std::to_string(a.sel)}},
                         {}, delay_us);
    const std::string n = std::to_string(id);
    Fields f = {{"SKEY", admin}, {"JOB", "BORDWRITEWR"}, {"FJOB", a.kind == 'E' ? "EDITMSG" : "BORDWRITE"},
                {"FOLDER_NO", "1"}, {"SEL_NO", std::to_string(a.sel)}, {"WRITE_TITLE", "T" + n},
                {"WRITE_DATA", "B" + n + " " + std::string(2000, 'b')}, {"ADD_FILE1", a.kind == 'E' ? "ON" : ""}};
    std::vector<Upload> files;
    if (a.file) files.push_back({"FILE1", "f.bin", "A" + n + " " + std::string(20000, 'a')});
    return s.multipart(f, files, delay_us);
  };

  long id = 0;
  kill_loop("posting request", 250, 60, [&](auto count, long kill, std::mt19937& rng) {
    std::vector<int32_t> nos;
    for (const INDEX_DATA& r : s.index()) nos.push_back(r.MSG_NO);
    Attempt a;
    int pick = static_cast<int>(rng() % 10);
    int32_t any = nos.empty() ? 0 : nos[rng() % nos.size()];
    if (pick < 3 || nos.empty()) a = {'P', 0, pick == 0};
    else if (pick < 5) a = {'R', any, pick == 4};
    else if (pick < 7) a = {'E', any};
    else if (pick < 8) a = {'D', any};
    else {
      // The highest number deleted and taken over by the next post at once.
      request(++id, {'D', *std::max_element(nos.begin(), nos.end())}, -1);
      a = {'P', 0, pick == 9};
    }
    count(request(++id, a, kill));
  });

  // Every record has its own body, or a newer one of an edit of it that
  // died before its record; never an older one or another message's.
  std::vector<ADD_FILE> adds = s.attachments();
  for (const INDEX_DATA& r : s.index()) {
    const long t = token(field(r.WRITE_TITLE), 'T'), b = token(s.body(r.MSG_NO), 'B');
    SCOPED_TRACE("message " + std::to_string(r.MSG_NO) + " title " + std::to_string(t) + " body " +
                 std::to_string(b));
    ASSERT_TRUE(sent.count(t));
    EXPECT_TRUE(b == t || (b > t && sent[b].kind == 'E' && sent[b].sel == r.MSG_NO));
    // A post's attachment is in place with its record, and is its own.
    const ADD_FILE* add = find_add_file(adds, r.MSG_NO, 1);
    if (sent[t].kind != 'E') {
      EXPECT_EQ(add != nullptr, sent[t].file);
    }
    if (add) {
      std::string content = read_file_bytes(s.add + "1/x" + std::to_string(r.MSG_NO) + "/1/" +
                                            field(add->FILE_NAME).data());
      const long f = token(content, 'A');
      EXPECT_TRUE(sent.count(f) && sent[f].file && (sent[t].kind == 'E' || f == t)) << f;
    }
  }
  // Posting goes on.
  const size_t before = s.index().size();
  ASSERT_EQ(request(++id, {'P', 0, true}, -1).status, 0);
  EXPECT_EQ(s.index().size(), before + 1);
  EXPECT_EQ(token(field(s.index().back().WRITE_TITLE), 'T'), id);
}

}  // namespace
