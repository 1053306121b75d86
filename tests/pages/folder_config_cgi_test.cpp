// A folder's settings and access pages: who may use them, what is stored, escaping.
#include "board_site.h"

namespace {

// Boards 1 and 2; Reader (level 0) administers board 1.
struct ConfigSite : BoardSite {
  ConfigSite() {
    folder(1, KIND_BOARD, 0, "One");
    folder(2, KIND_BOARD, 0, "Two");
    sB_U_ACL = {1, "Reader", 3};
    WriteB_U_ACL();
    std::ofstream(data + "group.mst") << "4,Staff<&>,\n7,Guests,\n";
  }
  std::string save(const std::string& k, const std::string& no, Fields f,
                   const std::vector<Upload>& files = {}) const {
    f.insert(f.end(), {{"JOB", "BORDCONFIGWR"}, {"FOLDER_NO", no}, {"NAME", "Renamed"},
                       {"ADD_MAX", "2"}, {"READ_CHK", "2"}, {"REWRITE_FLG", "2"}});
    return store(k, f, files);
  }
  B_TITLE2 settings(int32_t no) const {
    for (const B_TITLE2& r : records<B_TITLE2>("b_title2.mst")) if (r.FOLDER_NO == no) return r;
    return B_TITLE2{};
  }
};

TEST(FolderConfigCgi, FolderAdministratorOnlyForOwnFolder) {
  ConfigSite s;
  std::string reader = s.key("Reader"), taro = s.key("Taro");
  // Another folder, no right, a folder that does not exist: refused.
  EXPECT_TRUE(has(s.page(reader, {{"JOB", "BORDACCESS"}, {"FOLDER_NO", "1"}}), "(One) S"));
  for (auto [k, job, no] : {std::tuple{reader, "BORDCONFIG", "2"}, {taro, "BORDACCESS", "1"}, {s.key("Admin"), "BORDCONFIG", "9"}})
    EXPECT_TRUE(refused(s.page(k, {{"JOB", job}, {"FOLDER_NO", no}}))) << job << no;
  std::string before = read_file_bytes(s.data + "b_title2.mst");
  EXPECT_TRUE(error_page(s.save(reader, "2", {}), 109, 3));
  EXPECT_TRUE(error_page(s.save(s.key("Admin"), "9", {}), 109, 3));
  EXPECT_TRUE(error_page(
      s.store(reader, {{"JOB", "BORDACCESSWR"}, {"FOLDER_NO", "9"}, {"SUB1", "x"}, {"READ_LEVEL", "5"}}), 109, 3));
  EXPECT_EQ(read_file_bytes(s.data + "b_title2.mst"), before);

  // From the board page: FROM survives the save, and no way to the list.
  std::string out = s.save(reader, "1", {{"FROM", "ROOM"}});
  EXPECT_TRUE(has(out, "NAME=\"FROM\" VALUE=\"ROOM\"") && !has(out, "VALUE=\"FOLDERLIST\"")) << out;
  EXPECT_EQ(read_file_bytes(s.data + "b_title.mst"), "Renamed,1,Board,\nTwo,2,Board,\n");
  EXPECT_TRUE(has(s.page(s.key("Admin"), {{"JOB", "BORDACCESS"}, {"FOLDER_NO", "2"}}), "VALUE=\"FOLDERLIST\""));
}

TEST(FolderConfigCgi, SettingsAndAccessEntriesStoredAndShownEscaped) {
  ConfigSite s;
  std::string k = s.key("Admin");
  std::string before = read_file_bytes(s.data + "b_title.mst") + read_file_bytes(s.data + "b_title2.mst");
  Upload pic{"FILE1", "t.png", "PNG"};
  EXPECT_TRUE(error_page(s.store(k, {{"JOB", "BORDCONFIGWR"}, {"FOLDER_NO", "1"}, {"NAME", "  "}}, {pic}), 190, 206));
  EXPECT_TRUE(error_page(s.save(k, "1", {{"NAME", "a,b"}}), 190, 362));
  EXPECT_EQ(read_file_bytes(s.data + "b_title.mst") + read_file_bytes(s.data + "b_title2.mst"), before);
  EXPECT_FALSE(file_exists(s.pic + "1/t.png"));

  s.configure(1, [](B_TITLE2& b) { b.READ_LEVEL = 7; });
  std::string info = "&amp;</TEXTAREA>\r\nx" + std::string(5000, 'y');
  std::string out = s.save(k, "1",
                           {{"NAME", " <N&>"}, {"ADD_MAX", "2147483647"}, {"INFO", info}, {"DEFO", "a\r\nb"},
                            {"TITLEPIC", "typed.gif"}, {"BACKPIC", "b\".gif"}, {"FONTCOLOR", "FF0000"},
                            {"RESFONTCOLOR", "\"><x"}},
                           {{"FILE1", "up.png", "PNG"}, {"FILE3", "evil.sh", "#!"}});
  B_TITLE2 c = s.settings(1);
  EXPECT_EQ(read_file_bytes(s.data + "b_title.mst"), "<N&>,1,Board,\nTwo,2,Board,\n");
  EXPECT_EQ(c.ADD_MAX, 99);
  EXPECT_EQ(c.READ_LEVEL, 7);  // kept
  EXPECT_EQ(field(c.INFO), ("&amp;</TEXTAREA>\rx" + std::string(5000, 'y')).substr(0, 3999));
  EXPECT_EQ(field(c.DEFO), "a\rb");
  EXPECT_EQ(field(c.TITLEPIC), "up.png");  // the upload replaces the typed name
  EXPECT_EQ(field(c.DIRPIC), "");           // not a picture: neither stored nor placed
  EXPECT_EQ(read_file_bytes(s.pic + "1/up.png"), "PNG");
  EXPECT_FALSE(file_exists(s.pic + "1/evil.sh"));
  for (const char* piece :
       {"(&lt;N&amp;&gt;) S190", "VALUE=\"&lt;N&amp;&gt;\"", ">&amp;amp;&lt;/TEXTAREA&gt;\rxyy",
        "VALUE=\"b&quot;.gif\"", "VALUE=\"&quot;&gt;&lt;x\"", "BACKGROUND=\"http://test/pic/1/b&quot;.gif\""})
    EXPECT_TRUE(has(out, piece)) << piece;

  auto send = [&](Fields f) {
    f.insert(f.end(), {{"JOB", "BORDACCESSWR"}, {"FOLDER_NO", "2"}});
    return s.store(k, f);
  };
  // The group entries, then the user entries, as "folder:who=mode".
  auto entries = [&] {
    std::string out;
    for (const B_G_ACL& e : s.records<B_G_ACL>("b_g_acl.mst"))
      out += std::to_string(e.FOLDER_NO) + ":" + std::to_string(e.T02_GROUP_ID) + "=" + std::to_string(e.GROUPMODE) + " ";
    for (const B_U_ACL& e : s.records<B_U_ACL>("b_u_acl.mst"))
      out += "| " + std::to_string(e.FOLDER_NO) + ":" + std::string(field(e.USER_ID)) + "=" + std::to_string(e.USERMODE) + " ";
    return out;
  };
  send({{"GROUP_ADD", "x"}, {"GROUPLIST", "4"}, {"GROUPLIST", "7"}, {"GROUPMODE", "1"}});
  send({{"GROUP_ADD", "x"}, {"GROUPLIST", "4"}, {"GROUPLIST", "5"}, {"GROUPMODE", "2"}});  // 5: no such group
  EXPECT_EQ(entries(), "2:4=2 2:7=1 | 1:Reader=3 ");
  EXPECT_TRUE(error_page(send({{"GROUP_ADD", "x"}, {"GROUPLIST", "7"}, {"GROUPMODE", "3"}}), 109, 3));
  EXPECT_TRUE(error_page(send({{"USER_ADD", "x"}, {"USERLIST", "taro"}, {"USERMODE", "4"}}), 109, 3));
  send({{"USER_ADD", "x"}, {"USERLIST", "taro"}, {"USERLIST", "Nobody"}, {"USERMODE", "3"}});
  EXPECT_EQ(entries(), "2:4=2 2:7=1 | 1:Reader=3 | 2:Taro=3 ");

  std::string page = send({{"SUB1", "x"}, {"READ_LEVEL", "10"}, {"WRITE_LEVEL", "20"}});
  c = s.settings(2);
  EXPECT_EQ(std::vector<int32_t>({c.READ_LEVEL, c.WRITE_LEVEL, c.READ_CHK}), std::vector<int32_t>({10, 20, 1}));
  for (const char* piece : {">Staff&lt;&amp;&gt;[S232]\n", ">&lt;B&gt;Bad&lt;/B&gt;\n"})
    EXPECT_TRUE(has(page, piece)) << piece << page;

  send({{"GROUP_DEL", "x"}, {"NOWGROUP", "4"}});
  send({{"USER_DEL", "x"}, {"NOWUSER", "Taro"}});
  EXPECT_EQ(entries(), "2:7=1 | 1:Reader=3 ");
}

}  // namespace
