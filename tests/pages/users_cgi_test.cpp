// User administration and personal settings: saves, refusals, memberships, escaping.
#include "board_site.h"

namespace {

struct UserSite : BoardSite {
  std::string admin = key("Admin");
  std::string users() const { return read_file_bytes(data + "user.mst"); }
  std::string line_of(const std::string& id) const {
    const Names m = all_matches("\n" + users(), "\n(" + id + ",.*)");
    return m.empty() ? "" : m[0];
  }
};

bool error_109(const std::string& out, int message) { return error_page(out, 109, message); }

const Fields kNew = {{"USER_ID", "NewOne"}, {"USER_PASS", "pw1"}, {"USER_NAME", "New One"},
                     {"USER_LEVEL", "5 "}, {"E_MAIL_ADDR", "n@x.test"}, {"P_GROUP", "2"},
                     {"USER_DISP_DEF", "2"}, {"MODE", "1"}, {"WRITE_MODE", "2"},
                     {"LANGUAGE", "test.lng"}, {"PICFILE", ""}, {"SUB1", "S171"}};

TEST(UsersCgi, NewUserIsStoredOnceEditedUnderTheStoredIdAndRefusalsStoreNothing) {
  UserSite s;
  s.save(s.admin, "NEWUSERWR", kNew);
  EXPECT_EQ(s.line_of("NewOne"), "NewOne,New One,5,n@x.test,pw1,2,2,1,2,test.lng,,0,");
  EXPECT_TRUE(error_109(s.save(s.admin, "NEWUSERWR", with(kNew, "USER_ID", "NEWONE")).out, 312));

  // An ID spelt otherwise edits the stored user; his unread choice stays.
  size_t size = s.users().size();
  s.save(s.admin, "USERWR", with(with(kNew, "USER_ID", "newone"), "USER_LEVEL", "7"));
  EXPECT_EQ(s.line_of("NewOne"), "NewOne,New One,7,n@x.test,pw1,2,2,1,2,test.lng,,0,");
  EXPECT_EQ(s.users().size(), size);
  s.save(s.admin, "USERWR", with(with(kNew, "USER_ID", "Quiet"), "USER_NAME", "Quiet"));
  EXPECT_EQ(s.line_of("Quiet"), "Quiet,Quiet,5,n@x.test,pw1,2,2,1,2,test.lng,,1,");
  // What lies beyond a field's width neither counts nor is stored.
  s.save(s.admin, "NEWUSERWR", with(with(kNew, "USER_ID", "Long"), "USER_NAME", std::string(81, 'n') + ",x"));
  EXPECT_EQ(s.line_of("Long").substr(0, 89), "Long," + std::string(81, 'n') + ",5,");

  std::string before = s.users();
  for (auto [field, value, message] :
       {std::tuple{"USER_ID", "  ", 181}, {"USER_NAME", "", 182}, {"USER_ID", "a,b", 327},
        {"USER_ID", "../x", 327}, {"USER_ID", ".hidden", 327}, {"USER_ID", "a\\b", 327},
        {"USER_ID", "a\rb", 327}, {"USER_NAME", "a\nb", 362}, {"USER_PASS", "a,b", 363},
        {"E_MAIL_ADDR", "a\r@x", 364}})
    EXPECT_TRUE(error_109(s.save(s.admin, "NEWUSERWR", with(kNew, field, value)).out, message))
        << field << "=" << value;
  // Only administrators use the user forms; cancelling stores nothing.
  std::string taro = s.key("Taro");
  EXPECT_TRUE(error_109(s.save(taro, "NEWUSERWR", kNew).out, 3));
  EXPECT_TRUE(error_109(s.save(taro, "USERWR", with(kNew, "USER_ID", "Taro")).out, 3));
  EXPECT_TRUE(refused(s.save(taro, "USERWR", with(kNew, "SUB2", "S4")).out));
  EXPECT_EQ(s.users(), before);
  EXPECT_TRUE(refused(s.page(taro, {{"JOB", "USERMENT"}})));
}

TEST(UsersCgi, MembershipsKeepTheTypedIdAndTheNewUserPageWhatWasTyped) {
  UserSite s;
  write_file_bytes(s.data + "group.mst", "1,One,\n2,Two,\n");
  Fields in = {{"USER_ID", "Mixed"}, {"USER_NAME", "M"}, {"GROUP_IN", "S171"},
               {"GROUPLIST", "2"}, {"GROUPLIST", "1"}, {"GROUPLIST", "0"}, {"GROUPLIST", "9"}};
  std::string out = s.save(s.admin, "NEWUSERWR", in).out;
  EXPECT_EQ(read_file_bytes(s.data + "g_user.mst"), "1,Mixed,\n2,Mixed,\n");
  EXPECT_TRUE(has(out, "NAME=\"USER_ID\" VALUE=\"Mixed\"") &&
              has(out, "MULTIPLE>\n<OPTION VALUE=\"1\">One\n<OPTION VALUE=\"2\">Two\n</SELECT>"))
      << out;
  s.save(s.admin, "USERWR", {{"USER_ID", "Mixed"}, {"USER_NAME", "M"}, {"GROUP_OUT", "S172"},
                             {"NOWGROUP", "1"}});
  EXPECT_EQ(read_file_bytes(s.data + "g_user.mst"), "2,Mixed,\n");

  // A membership button on the new-user page keeps what was typed.
  in = with(with(with(kNew, "SUB1", ""), "GROUP_IN", "S171"), "PICFILE", "me.png");
  out = s.save(s.admin, "NEWUSERWR", in).out;
  EXPECT_EQ(joined(out, "MAXLENGTH=\"\\d+\" VALUE=\"([^\"]*)\""), "pw1 New One 5 n@x.test me.png") << out;
  EXPECT_EQ(joined(out, "<SELECT NAME=\"\\w+\">\n<OPTION VALUE=\"([^\"]*)\""), "2 2 1 2 test.lng") << out;
}

TEST(UsersCgi, PersonalSettingsAndEscapedForms) {
  UserSite s;
  std::string taro = s.key("Taro");
  Fields mine = {{"USER_NAME", "Taro &amp; Co"}, {"USER_PASS", "new"}, {"E_MAIL_ADDR", ""},
                 {"USER_DISP_DEF", "3"}, {"WRITE_MODE", "2"}, {"LANGUAGE", "test.lng"},
                 {"NO_READ_MODE", "1"}, {"PICFILE", "me.png"}, {"USER_LEVEL", "500"}, {"P_GROUP", "4"},
                 {"MODE", "2"}, {"USER_ID", "Admin"}, {"SUB1", "S171"}};
  std::string out = s.save(taro, "MYDATAWR", with(mine, "PICFILE", ""), {{"FILE1", "me.png", "PNG"}}).out;
  EXPECT_EQ(s.line_of("Taro"), "Taro,Taro &amp; Co,1,,new,0,3,1,2,test.lng,me.png,1,");
  EXPECT_EQ(read_file_bytes(s.pic + "userpic/Taro/me.png"), "PNG");
  EXPECT_TRUE(has(out, "VALUE=\"Taro &amp;amp; Co\"") && has(out, "S183")) << out;
  for (const char* lang : {"../test.lng", "missing.lng", "bbs.ini"})
    s.save(taro, "MYDATAWR", with(mine, "LANGUAGE", lang), {{"FILE1", "x.html", "<x>"}});
  s.save(taro, "MYDATAWR", with(mine, "PICFILE", "a,b.png"));
  EXPECT_EQ(s.line_of("Taro"), "Taro,Taro &amp; Co,1,,new,0,3,1,2,test.lng,me.png,1,");
  EXPECT_FALSE(file_exists(s.pic + "userpic/Taro/x.html"));

  // No personal settings for a guest, nor for anyone when turned off.
  std::string guest = s.key("Guest"), before = s.users();
  EXPECT_TRUE(refused(s.page(guest, {{"JOB", "MYDATA"}})));
  EXPECT_TRUE(error_109(s.save(guest, "MYDATAWR", mine).out, 3));
  s.write_settings("MYDATA,1,\n");
  EXPECT_EQ(s.page(s.key("Jiro"), {{"JOB", "MYDATA"}}), "");
  EXPECT_TRUE(error_109(s.save(s.key("Jiro"), "MYDATAWR", mine).out, 3));
  EXPECT_EQ(s.users(), before);

  write_file_bytes(s.data + "group.mst", "1,<G>,\n");
  std::ofstream(s.data + "user.mst", std::ios::app)
      << "a&b,</TEXTAREA>\",150,m&amp;,p\"w,1,9,7,1,test.lng,p&.png,0,\n";
  std::string p = s.page(s.admin, {{"JOB", "USERMENT"}, {"USER_ID", "A&B"}});
  for (const char* piece :
       {"VALUE=\"p&quot;w\"", "VALUE=\"&lt;/TEXTAREA&gt;&quot;\"", "VALUE=\"m&amp;amp;\"",
        "NAME=\"USER_ID\" VALUE=\"a&amp;b\"", "NAME=\"P_GROUP\">\n<OPTION VALUE=\"1\">&lt;G&gt;\n",
        "NAME=\"LANGUAGE\">\n<OPTION VALUE=\"test.lng\">test.lng\n", "VALUE=\"p&amp;.png\""})
    EXPECT_TRUE(has(p, piece)) << piece << "\n" << p;
  p = s.page(s.admin, {{"JOB", "USERLIST"}, {"SJOB", "ORDER_LEVEL"}});
  EXPECT_TRUE(has(p, ">150</TD><TD BGCOLOR=\"#FFFFFF\">&lt;G&gt;<BR>") && has(p, "&lt;B&gt;Bad&lt;/B&gt;")) << p;
}

TEST(UsersCgi, SimultaneousSavesLoseNothing) {
  UserSite s;
  std::string taro = s.key("Taro");
  for (int round = 0; round < 4; round++) {
    std::string id = "Dup" + std::to_string(round);
    EXPECT_TRUE(run_together(3, [&](int) {
      return s.save(s.admin, "NEWUSERWR", with(kNew, "USER_ID", id)).status;
    }));
    EXPECT_EQ(all_matches(s.users(), "\n(" + id + "),").size(), 1u) << id;
    std::string level = std::to_string(10 + round);
    EXPECT_TRUE(run_together(2, [&](int k) {
      return k ? s.save(s.admin, "USERWR", with(with(kNew, "USER_ID", "Taro"), "USER_LEVEL", level)).status
               : s.save(taro, "MYDATAWR", with(kNew, "USER_PASS", "pw")).status;
    }));
    EXPECT_EQ(all_matches(s.line_of("Taro"), "^Taro,[^,]*,([0-9]+),"), std::vector{level});
  }
}

}  // namespace
