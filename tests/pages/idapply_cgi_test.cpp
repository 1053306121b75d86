// ID applications: result codes, storage, escaping, decisions, simultaneous applications.
#include "board_site.h"
#include "store/guest_user.h"

namespace {

struct IdSite : Site {
  IdSite() {
    add_user("Admin", "pw", 100);
    add_user("Taro", "pw");
  }
  std::string apply(const std::string& k, const std::string& id, const std::string& name = "N",
                    const std::string& pass = "p", const std::string& mail = "m@x") const {
    return multipart({{"SKEY", k}, {"JOB", "IDSINSEIWR"}, {"USER_ID", id}, {"USER_NAME", name},
                      {"USER_PASS", pass}, {"E_MAIL_ADDR", mail}})
        .out;
  }
  Response decide(const std::string& k, Fields f) const {
    f.insert(f.begin(), {{"SKEY", k}, {"JOB", "IDSINSEIsysopWR"}});
    return multipart(f);
  }
  std::vector<GUEST_USER> apps() const { return records<GUEST_USER>("g_user.dat"); }
};

bool refused_with(const std::string& out, int slot) { return error_page(out, 311, slot); }

TEST(IdApplyCgi, ResultCodesNothingStoredOnRefusalAndOneOfSimultaneous) {
  IdSite s;
  const std::string k = s.login("Taro", "pw");
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"", "N"}, 181}, {{"X", ""}, 182}, {{"taro", "N"}, 312}, {{"../x", "N"}, 327},
      {{"X", "a,b"}, 362}, {{"X", "N", "p w"}, 363}, {{"X", "N", "p", "m,x"}, 364},
  };
  for (const auto& [f, slot] : cases)
    EXPECT_TRUE(refused_with(s.apply(k, f[0], f[1], f.size() > 2 ? f[2] : "p", f.size() > 3 ? f[3] : "m@x"), slot)) << slot;
  EXPECT_TRUE(s.apps().empty());

  // Values are cut to their fields; a pending ID is refused, an existing user's first.
  std::string out = s.apply(k, std::string(30, 'L'), "Long <B>name</B> " + std::string(100, 'n'));
  ASSERT_EQ(s.apps().size(), 1u);
  EXPECT_EQ(field(s.apps()[0].USER_ID), std::string(21, 'L'));
  EXPECT_EQ(field(s.apps()[0].USER_NAME).size(), 81u);
  EXPECT_TRUE(refused_with(s.apply(k, std::string(21, 'L')), 313));
  s.add_user(std::string(21, 'L'), "pw");
  EXPECT_TRUE(refused_with(s.apply(k, std::string(21, 'L')), 312));
  // The public list escapes what applicants typed.
  EXPECT_TRUE(has(out, "Long &lt;B&gt;name&lt;/B&gt;") && !has(out, "<B>name")) << out;

  // Simultaneous applications for one ID store one.
  EXPECT_TRUE(run_together(6, [&](int) { return s.multipart({{"SKEY", k}, {"JOB", "IDSINSEIWR"},
      {"USER_ID", "Same"}, {"USER_NAME", "N"}}).status; }));
  EXPECT_EQ(s.apps().size(), 2u);
}

TEST(IdApplyCgi, DecisionsCreateUsersAndRefusedIdsMayApplyAgain) {
  IdSite s;
  s.env["HTTP_USER_AGENT"] = "<script>x</script>";
  const std::string taro = s.login("Taro", "pw"), admin = s.login("Admin", "pw");
  s.apply(taro, "NewBie", "New Bie", "secret", "nb@x");
  s.apply(taro, "Other");
  std::string list = s.multipart({{"SKEY", admin}, {"JOB", "IDSINSEIlist2"}}).out;
  EXPECT_TRUE(has(list, "VALUE=\"NewBie\"") && has(list, "&lt;script&gt;") && !has(list, "<script>"));
  EXPECT_TRUE(refused(s.multipart({{"SKEY", taro}, {"JOB", "IDSINSEIlist2"}}).out));

  s.decide(taro, {{"USER_ID", "NewBie"}, {"OK_NG", "1"}, {"MES", "1"}});
  s.decide(admin, {{"USER_ID", "NewBie"}, {"OK_NG", "7"}, {"MES", "1"}});
  EXPECT_EQ(s.apps()[0].OK_NG, GUEST_PENDING);
  EXPECT_EQ(s.login("NewBie", "secret"), "");

  std::string out = s.decide(admin, {{"USER_ID", "NewBie"}, {"OK_NG", "1"}, {"MES", "4"},
                                     {"MESSAGE", "Welcome <i>"}}).out;
  EXPECT_FALSE(has(out, "VALUE=\"NewBie\"")) << out;  // no longer pending
  EXPECT_EQ(s.apps()[0].OK_NG, GUEST_ACCEPTED);
  EXPECT_TRUE(has(read_file_bytes(s.data_file("user.mst")), "\nNewBie,New Bie,10,nb@x,secret,0,1,1,1,"));
  EXPECT_NE(s.login("NewBie", "secret"), "");
  EXPECT_TRUE(has(s.multipart({{"SKEY", taro}, {"JOB", "IDSINSEIlist"}}).out, "Welcome &lt;i&gt;"));

  // A refused ID applies again, replacing the old application.
  s.decide(admin, {{"USER_ID", "Other"}, {"OK_NG", "2"}, {"MES", "2"}});
  EXPECT_EQ(s.apps()[1].OK_NG, GUEST_REFUSED);
  EXPECT_EQ(field(s.apps()[1].MESSAGE), "S327");
  EXPECT_TRUE(has(s.apply(taro, "Other", "Again"), "<B>S107</B>"));
  ASSERT_EQ(s.apps().size(), 2u);
  EXPECT_EQ(field(s.apps()[1].USER_NAME), "Again");
  // An ID that became a user's meanwhile is refused, not created twice.
  s.add_user("OTHER", "pw");
  s.decide(admin, {{"USER_ID", "Other"}, {"OK_NG", "1"}, {"MES", "1"}});
  EXPECT_EQ(s.apps()[1].OK_NG, GUEST_REFUSED);
  EXPECT_FALSE(has(read_file_bytes(s.data_file("user.mst")), "\nOther,"));
}

}  // namespace
