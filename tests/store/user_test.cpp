// The user master: look-up, line reading rules, appends, the sorted copies.
#include "store/user.h"

#include "data_dir.h"

namespace {

class UserStore : public DataDir {
 protected:
  void master(const std::string& text) { put("user.mst", text); }
  static std::string line(const std::string& id, int level = 1, int group = 0,
                          const std::string& name = "") {
    return id + "," + (name.empty() ? id : name) + "," + std::to_string(level) + ",m@x,pw," +
           std::to_string(group) + ",1,1,2,lng,pic,0,\n";
  }
  std::string ids(const char* name) {
    std::string out, text = get(name);
    for (size_t pos = 0; pos < text.size(); pos = text.find('\n', pos) + 1)
      out += (out.empty() ? "" : " ") + text.substr(pos, text.find(',', pos) - pos);
    return out;
  }
};

TEST_F(UserStore, LookupIgnoresCaseAndKeepsStoredSpelling) {
  master(line("Taro", 5) + line("TARO", 7));
  char id[24] = "taro", other[24] = "jiro";
  ASSERT_EQ(ReadMST_USER(id), 0);
  EXPECT_STREQ(id, "Taro");
  EXPECT_EQ(sMST_USER.USER_LEVEL, 5);  // the first of the two lines wins
  EXPECT_EQ(ReadMST_USER(other), -1);
  // A malformed line is no user; IDs compare as cut to 21 bytes.
  std::string longid(30, 'k');
  master("Jiro,broken\n" + line("jiro", 3) + line(longid, 4));
  ASSERT_EQ(ReadMST_USER(other), 0);
  EXPECT_EQ(std::tuple(std::string(other), sMST_USER.USER_LEVEL), std::tuple("jiro", 3));
  char cut[24] = "KKKKKKKKKKKKKKKKKKKKK";  // 21 bytes
  ASSERT_EQ(ReadMST_USER(cut), 0);
  EXPECT_EQ(sMST_USER.USER_LEVEL, 4);
  char s[] = "ab\x83\x61z";  // 0x83 0x61 is one character: its "a" stays
  ToUppers(s);
  EXPECT_STREQ(s, "AB\x83\x61Z");
}

TEST_F(UserStore, LineReadingRulesAndFieldWidths) {
  master("Ten,n,1,m,p,0,1,1,1,l,p\n"         // ten commas: not a record
         "Eleven,n,99999999999,m,p,4,1,1,1,l,p,1\n" +  // last comma missing: NO_READ_MODE 0
         std::string(30, 'i') + "," + std::string(80, 'a') + "\x82\xa0zz,1," +
         std::string(400, 'e') + "," + std::string(40, 'p') + ",0,1,1,1," +
         std::string(300, 'l') + ",,1,\n");
  const MST_USER& u = sMST_USER;
  ASSERT_EQ(ReadMST_USERcount(0), 0);  // the level is not wrapped
  EXPECT_EQ(std::tuple(field(u.USER_ID), u.USER_LEVEL, u.P_GROUP, u.NO_READ_MODE),
            std::tuple("Eleven", INT32_MAX, 4, 0));
  ASSERT_EQ(ReadMST_USERcount(1), 0);  // cut to the fields, the name without half a character
  EXPECT_EQ(std::tuple(field(u.USER_ID), field(u.USER_NAME), strlen(u.E_MAIL_ADDR),
                       strlen(u.USER_PASS), strlen(u.LANGUAGE), u.NO_READ_MODE),
            std::tuple(std::string(21, 'i'), std::string(80, 'a'), 251u, 23u, 255u, 1));
  EXPECT_EQ(ReadMST_USERcount(2), -1);
}

TEST_F(UserStore, InsertAppendsEvenAfterMissingFinalLineFeed) {
  std::string first = line("Admin", 100);
  first.pop_back();  // typed by hand without the last line feed
  master(first);
  // A name that would shift fields and forge a line.
  sMST_USER = MST_USER{.USER_ID = "New", .USER_NAME = "Nu,1\nforged", .USER_LEVEL = 1};
  ASSERT_EQ(InsertMST_USER(), 0);
  EXPECT_EQ(get("user.mst"), first + "\nNew,Nu,1,,,0,0,0,0,,,0,\n");
}

TEST_F(UserStore, SortedCopiesOrderAndFormat) {
  master(line("dave", 10000) + line("Bob", 100) + line("alice", 20, 1) + line("frank", 1001) +
         ",noid,1,,,0,0,0,0,,,0,\n");
  MakeOderID();
  EXPECT_EQ(ids("user2.mst"), "alice Bob dave frank");
  // Ten fields, WRITE_MODE and PICFILE left out.
  EXPECT_EQ(get("user2.mst").substr(0, 35), "alice,alice,20,m@x,pw,1,1,1,lng,0,\n");
  MakeOderLevel();
  // Levels compare as four-digit texts: 10000 counts as 1000, below 1001.
  EXPECT_EQ(ids("user3.mst"), "frank dave Bob alice");

  // Lines come from the master, not a stale copy; an empty level sorts below 0.
  master(line("Alice", 1, 0, "Fresh") + line("Bob", 0));
  put("user2.mst",
      "Alice,Stale,,m@x,pw,0,1,1,lng,0,\nGone,Gone,1,,,0,1,1,,0,\nBob,Bob,0,,,0,1,1,,0,\n");
  MakeOderLevel();
  EXPECT_EQ(get("user3.mst"),
            "Bob,Bob,0,m@x,pw,0,1,1,lng,0,\nAlice,Fresh,1,m@x,pw,0,1,1,lng,0,\n");
}

// Ties in level and group keep the plain exchange sort's order.
TEST_F(UserStore, SortedCopiesKeepTheExchangeSortsOrderOfTies) {
  struct U {
    std::string id;
    int level, group;
  };
  std::mt19937 random(7);
  std::vector<U> users;
  std::string text;
  for (int i = 0; i < 300; i++) {  // distinct IDs, out of order
    users.push_back({"u" + std::to_string(i * 7919 % 1000), static_cast<int>(random() % 5) * 10 - 20,
                     static_cast<int>(random() % 6) - 1});
    text += line(users.back().id, users.back().level, users.back().group);
  }
  master(text);
  auto exchange = [](std::vector<U>& v, auto after) {
    for (size_t i = 0; i + 1 < v.size(); i++)
      for (size_t j = i + 1; j < v.size(); j++)
        if (after(v[i], v[j])) std::swap(v[i], v[j]);
  };
  // Numbers compare as "%04d" and "%08d" texts, so -20 counts above -5.
  auto key = [](int n, int width) {
    char b[16];
    snprintf(b, sizeof b, "%0*d", width, n);
    return std::string(b);
  };
  exchange(users, [](const U& a, const U& b) { return a.id > b.id; });
  exchange(users, [&](const U& a, const U& b) { return key(a.level, 4) < key(b.level, 4); });
  exchange(users, [&](const U& a, const U& b) { return key(a.group, 8) > key(b.group, 8); });
  std::string want;
  for (const U& u : users) want += (want.empty() ? "" : " ") + u.id;
  MakeOderUpTo(3);
  EXPECT_EQ(ids("user4.mst"), want);
}

// Unchanged, the copies are reused; any change of the master rebuilds them.
TEST_F(UserStore, SortedCopiesFollowEveryChangeOfTheMaster) {
  master(line("b", 1) + line("a", 2));
  // Copies built within the clock tick of the master's change count as stale.
  struct stat m, now;
  ASSERT_EQ(stat((dir / "user.mst").c_str(), &m), 0);
  do put("tick", "x"), stat((dir / "tick").c_str(), &now);
  while (now.st_ctim.tv_sec == m.st_ctim.tv_sec && now.st_ctim.tv_nsec <= m.st_ctim.tv_nsec);
  MakeOderUpTo(3);
  EXPECT_EQ(ids("user4.mst"), "a b");
  struct stat before, after;
  stat((dir / "user4.mst").c_str(), &before);
  MakeOderUpTo(3);
  EXPECT_TRUE(stat((dir / "user4.mst").c_str(), &after) == 0 && before.st_ino == after.st_ino);
  EXPECT_STREQ(sMST_USER.USER_ID, "b");  // the last user, as a rebuild leaves it

  // Changed within the build's clock tick, and with the old time put back.
  sMST_USER = MST_USER{.USER_ID = "c", .USER_LEVEL = 3};
  InsertMST_USER();
  MakeOderUpTo(2);
  EXPECT_EQ(ids("user3.mst"), "c a b");
  MakeOderUpTo(3);  // from the copies still current, where they are
  EXPECT_EQ(ids("user4.mst"), "c a b");
  struct stat old;
  ASSERT_EQ(stat((dir / "user.mst").c_str(), &old), 0);
  master(line("b", 1) + line("a", 2));
  const timespec times[2] = {old.st_atim, old.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / "user.mst").c_str(), times, 0), 0);
  MakeOderUpTo(3);
  EXPECT_EQ(ids("user3.mst"), "a b");
  EXPECT_EQ(ids("user4.mst"), "a b");
}

TEST_F(UserStore, TheIndexOfLinesFindsWhatTheScanFinds) {
  std::string longid(30, 'k');
  std::string others;  // enough lines, out of order, for the index to sort them
  for (int i = 40; i > 0; i--) others += line(i % 2 ? "Dup" : "u" + std::to_string(i), i);
  const std::string text = line("Taro", 5) + others + line("TARO", 7) + "Jiro,broken\n" + line("jiro", 3) +
                           line(longid, 4) + "no comma\n" + line("Hana", 6) + line("u12", 9);
  const UserLines index(text);
  for (const char* ask : {"taro", "TARO", "jiro", "hana", "HANA", "dup", "u12", "u4", "KKKKKKKKKKKKKKKKKKKKK",
                          "kkkkkkkkkkkkkkkkkkkkkk", "nobody", "no comma", ""}) {
    char a[64], b[64];
    std::strcpy(a, ask);
    std::strcpy(b, ask);
    MST_USER ua{}, ub{};
    const bool found = find_user_in(text, a, ua);
    EXPECT_EQ(index.find(b, ub), found) << ask;
    EXPECT_STREQ(a, b) << ask;
    if (found) {
      EXPECT_EQ(ua.USER_LEVEL, ub.USER_LEVEL) << ask;
    }
  }
}

}  // namespace
