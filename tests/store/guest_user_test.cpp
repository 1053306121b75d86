// The ID application store: duplicates, writes in place, indexes, deletion.
#include "store/guest_user.h"

#include "data_dir.h"

namespace {

using GuestStore = DataDir;

GUEST_USER app(const char* id, int32_t state) {
  GUEST_USER g{.OK_NG = state};
  set_field(g.USER_ID, id);
  return g;
}

// "ID state" of every record in file order.
std::string ids(const std::string& bytes) {
  std::vector<GUEST_USER> v;
  split_records(bytes, v);
  std::string s;
  for (const GUEST_USER& g : v) s += std::string(field(g.USER_ID)) + std::to_string(g.OK_NG) + " ";
  return s;
}

TEST_F(GuestStore, DuplicatesIndexesAndDeletion) {
  EXPECT_EQ(ReadGUEST_USER(0), -1);
  EXPECT_EQ(get("g_user.dat"), "");  // created empty
  for (const char* id : {"Aki", "Bob", "bob", "Bob"}) {
    sGUEST_USER = app(id, GUEST_PENDING);
    WriteGUEST_USER();
  }
  EXPECT_EQ(ids(get("g_user.dat")), "Aki0 Bob0 bob0 ");  // IDs compare exactly
  ASSERT_EQ(ReadGUEST_USER2(0, "bob"), 0);
  sGUEST_USER.OK_NG = GUEST_ACCEPTED;
  EXPECT_EQ(WriteGUEST_USER2(0, "bob"), 0);
  EXPECT_EQ(WriteGUEST_USER2(1, "bob"), -1);
  EXPECT_EQ(ReadGUEST_USER2(-1, "bob"), -1);

  const std::string before = get("g_user.dat");
  EXPECT_EQ(ids(before), "Aki0 Bob0 bob1 ");  // written in place
  for (int64_t bad : {int64_t{-1}, int64_t{3}, int64_t{1} << 40}) {
    EXPECT_EQ(DeleteGUEST_USER(bad), -1);
    EXPECT_EQ(ReadGUEST_USER(bad), -1);
  }
  EXPECT_EQ(DeleteGUEST_USER(0), 0);
  EXPECT_EQ(get("g_user.dat"), before.substr(sizeof(GUEST_USER)));
}

}  // namespace
