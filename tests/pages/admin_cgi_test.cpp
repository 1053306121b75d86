// The system settings page and its store step; group administration and deletion.
#include "board_site.h"

namespace {

struct AdminSite : BoardSite {
  std::string admin = key("Admin"), taro = key("Taro");
  std::string groups() const { return read_file_bytes(data + "group.mst"); }
};

bool group_error(const std::string& out, int message) { return error_page(out, 154, message); }

TEST(AdminCgi, SettingsAndGroups) {
  AdminSite s;
  s.write_settings("LOGIN_GIF,a\"b&amp;.gif,\nDATETIME,5,\nMYDATA,1,\n");
  std::string p = s.page(s.admin, {{"JOB", "SYSTEM"}});
  EXPECT_TRUE(has(p, "VALUE=\"a&quot;b&amp;amp;.gif\"") && has(p, "<OPTION VALUE=\"1\">S9\n")) << p;

  std::string before = read_file_bytes(s.ini);
  Fields f = {{"LANGUAGE", "test.lng"}, {"CG_FILE_PATH", s.pic}, {"CG_FILE_WEB_PATH", s.pic_web},
              {"DATA_FILE_PATH", s.data}, {"ADD_FILE_PATH", s.add},
              {"ADD_FILE_WEB_PATH", "http://test/add/"}, {"LOGIN_GIF", "typed.jpg"},
              {"BACK_GIF", "back.gif"}, {"LOG_DATE", "30"}, {"DATETIME", "2"}, {"IECOLS", "70"},
              {"NSCOLS", "x"}, {"ROWS", "9"}, {"MYDATA", "1"}, {"MAX_CONTENTS", "5000"},
              {"LOGOFF_URL", ""}, {"FRAME_DIVIDE", "25"}};
  EXPECT_TRUE(refused(s.save(s.taro, "SYSTEMUPDATE", f).out));
  EXPECT_EQ(read_file_bytes(s.ini), before);

  // An uploaded picture replaces the typed name; no other file is placed.
  p = s.save(s.admin, "SYSTEMUPDATE", f,
                         {{"FILE1", "logo.png", "PNG"}, {"FILE2", "page.html", "<x>"}}).out;
  const std::string ini = read_file_bytes(s.ini);
  for (const std::string& line : Names{"\nDATA_FILE_PATH," + s.data + ",\n", "\nLOGIN_GIF,logo.png,\nBACK_GIF,back.gif,\n",
                                 "\nLOG_DATE,30,\nDATETIME,2,\nIECOLS,70,\nNSCOLS,0,\nROWS,9,\n", "\nMAX_CONTENTS,5000,\nFRAME_DIVIDE,25,\n"})
    EXPECT_TRUE(has(ini, line)) << line << ini;
  EXPECT_EQ(read_file_bytes(s.pic + "/logo.png"), "PNG");
  EXPECT_FALSE(file_exists(s.pic + "/page.html"));
  EXPECT_TRUE(has(p, "NAME=\"DATETIME\">\n<OPTION VALUE=\"2\">S10\n") && has(p, "VALUE=\"logo.png\"")) << p;

  for (auto [id, name, message] :
       {std::tuple{"", "x", 156}, {"1", "", 157}, {"-2", "x", 158}, {"1", "a,b", 362}})
    EXPECT_TRUE(group_error(s.save(s.admin, "NEWGROUPWR", {{"T02_GROUP_ID", id}, {"T02_GROUP_NAME", name}}).out,
                            message)) << id << "/" << name;
  EXPECT_TRUE(group_error(s.save(s.taro, "NEWGROUPWR", {{"T02_GROUP_ID", "1"}, {"T02_GROUP_NAME", "x"}}).out, 3));
  EXPECT_FALSE(file_exists(s.data + "group.mst"));

  for (auto [id, name] : {std::pair{"3", "Three"}, {"1", "<One> & \"1\""}, {"2", "Two"}, {"1", "One"}})
    s.save(s.admin, "NEWGROUPWR", {{"T02_GROUP_ID", id}, {"T02_GROUP_NAME", name}});
  EXPECT_EQ(s.groups(), "1,One,\n2,Two,\n3,Three,\n");
  s.save(s.admin, "NEWGROUPWR", {{"T02_GROUP_ID", "2"}, {"T02_GROUP_NAME", "<T>&amp;"}});
  EXPECT_TRUE(has(s.page(s.admin, {{"JOB", "EDITGROUP"}, {"T02_GROUP_ID", "2"}}), "VALUE=\"&lt;T&gt;&amp;amp;\">"));
  EXPECT_TRUE(has(s.page(s.admin, {{"JOB", "NEWGROUP"}}), "MAXLENGTH=\"3\" VALUE=\"4\""));
  EXPECT_TRUE(has(s.page(s.admin, {{"JOB", "DELGROUP"}}), "<OPTION VALUE=\"2\">2:&lt;T&gt;&amp;amp;\n"));

  // Deletion removes memberships, access entries and primary groups.
  write_file_bytes(s.data + "group.mst", "1,One,\n3,Three,\n");
  write_file_bytes(s.data + "g_user.mst", "1,Taro,\n3,Taro,\n3,Jiro,\n");
  write_file_bytes(s.data + "user.mst", "Admin,Admin,100,,pw,3,1,1,1,,,0,\nTaro,T,1,,pw,1,1,1,1,,,0,\n"
                                        "Jiro,J,1,,pw,3,1,1,1,,,1,\n");
  for (int32_t folder : {1, 2})
    for (int32_t group : {1, 3}) sB_G_ACL = {folder, group, 1}, WriteB_G_ACL();
  std::string acl = read_file_bytes(s.data + "b_g_acl.mst");
  EXPECT_TRUE(refused(s.save(s.taro, "DELGROUPWR", {{"T02_GROUP_ID", "3"}}).out));
  EXPECT_EQ(read_file_bytes(s.data + "b_g_acl.mst"), acl);
  EXPECT_EQ(s.groups(), "1,One,\n3,Three,\n");

  EXPECT_EQ(joined(s.save(s.admin, "DELGROUPWR", {{"T02_GROUP_ID", "3"}}).out, "T02_GROUP_ID=([0-9]+)\">"), "1");
  EXPECT_EQ(s.groups(), "1,One,\n");
  EXPECT_EQ(read_file_bytes(s.data + "g_user.mst"), "1,Taro,\n");
  EXPECT_EQ(read_file_bytes(s.data + "user.mst"), "Admin,Admin,100,,pw,0,1,1,1,,,0,\n"
                                                  "Taro,T,1,,pw,1,1,1,1,,,0,\nJiro,J,1,,pw,0,1,1,1,,,1,\n");
  std::vector<B_G_ACL> left = s.records<B_G_ACL>("b_g_acl.mst");
  ASSERT_EQ(left.size(), 2u);
  EXPECT_TRUE(left[0].T02_GROUP_ID == 1 && left[1].T02_GROUP_ID == 1);
}

}  // namespace
