// The ID application store: one record per ID (a refused one gives way to
// a new application), writes in place, deletions and the purge as single
// rewrites; and the calendar step back used for the cut-off dates.
#include "store/guest_user.h"

#include <chrono>

#include "data_dir.h"
#include "store/records.h"
#include "text/datetime.h"

namespace {

using GuestStore = DataDir;

GUEST_USER app(const char* id, int32_t state, const char* date = "2001/03/03 10:00") {
  GUEST_USER g{};
  set_field(g.USER_ID, id);
  set_field(g.APPLY_DATE, date);
  g.OK_NG = state;
  return g;
}

std::string ids(const std::string& bytes) {
  std::vector<GUEST_USER> v;
  split_records(bytes, v);
  std::string s;
  for (const GUEST_USER& g : v) s += std::string(field(g.USER_ID)) + std::to_string(g.OK_NG) + " ";
  return s;
}

TEST_F(GuestStore, OneRecordPerIdAndWritesInPlace) {
  EXPECT_EQ(ReadGUEST_USER(0), -1);
  EXPECT_EQ(get("g_user.dat"), "");  // created empty
  for (const char* id : {"Aki", "Bob", "Cy"}) {
    sGUEST_USER = app(id, GUEST_PENDING);
    ASSERT_EQ(WriteGUEST_USER(), 0);
  }
  const std::string three = get("g_user.dat");
  EXPECT_EQ(three.size(), 3 * sizeof(GUEST_USER));
  sGUEST_USER = app("Bob", GUEST_PENDING);
  EXPECT_EQ(WriteGUEST_USER(), -1);  // pending: refused
  sGUEST_USER = app("bob", GUEST_PENDING);
  EXPECT_EQ(WriteGUEST_USER(), 0);  // IDs compare exactly
  EXPECT_EQ(ids(get("g_user.dat")), "Aki0 Bob0 Cy0 bob0 ");

  // A decision is written over the record; the length stays.
  ASSERT_EQ(ReadGUEST_USER2(0, "Bob"), 0);
  sGUEST_USER.OK_NG = GUEST_REFUSED;
  EXPECT_EQ(WriteGUEST_USER2(0, "Bob"), 0);
  EXPECT_EQ(WriteGUEST_USER2(1, "Bob"), -1);
  EXPECT_EQ(ReadGUEST_USER2(-1, "Bob"), -1);
  EXPECT_EQ(ids(get("g_user.dat")), "Aki0 Bob2 Cy0 bob0 ");
  // A new application replaces the refused one at the end (date order).
  sGUEST_USER = app("Bob", GUEST_PENDING, "2001/03/04 10:00");
  EXPECT_EQ(WriteGUEST_USER(), 0);
  EXPECT_EQ(ids(get("g_user.dat")), "Aki0 Cy0 bob0 Bob0 ");

  const std::string before = get("g_user.dat");
  for (int64_t bad : {int64_t{-1}, int64_t{4}, int64_t{1} << 40}) {
    EXPECT_EQ(DeleteGUEST_USER(bad), -1);
    EXPECT_EQ(ReadGUEST_USER(bad), -1);
  }
  EXPECT_EQ(get("g_user.dat"), before);
  put("g_user.dat", before + "partial");
  EXPECT_EQ(DeleteGUEST_USER(0), 0);
  EXPECT_EQ(ids(get("g_user.dat")), "Cy0 bob0 Bob0 ");  // the partial tail goes too
  ASSERT_EQ(ReadGUEST_USER(2), 0);
  EXPECT_EQ(field(sGUEST_USER.APPLY_DATE), "2001/03/04 10:00");
}

TEST_F(GuestStore, PurgeDropsDecidedRecordsUpToTheFirstNewerOne) {
  std::vector<GUEST_USER> v = {app("A", 1, "2001/03/01 09:00"), app("B", 0, "2001/03/01 09:00"),
                               app("C", 2, "2001/03/02 23:59"), app("D", 1, "2001/03/03 00:00"),
                               app("E", 2, "2001/03/01 00:00")};
  put("g_user.dat", std::string(record_bytes(v)));
  EXPECT_EQ(PurgeGUEST_USER("2001/03/02"), 2);
  EXPECT_EQ(ids(get("g_user.dat")), "B0 D1 E2 ");
  EXPECT_EQ(PurgeGUEST_USER("2001/03/02"), 0);
}

TEST(DaysBack, CalendarArithmetic) {
  char now[20];
  set_date(now);
  EXPECT_EQ(date_days_back(0), std::string(now, 10));
  EXPECT_EQ(date_days_back(-5), std::string(now, 10));
  using namespace std::chrono;
  const year_month_day d{sys_days{year_month_day{floor<days>(system_clock::now())}} - days{365}};
  EXPECT_EQ(date_days_back(365).substr(0, 4), std::to_string(static_cast<int>(d.year())));
  // A count beyond the calendar's start gives no date, at once.
  auto t0 = steady_clock::now();
  EXPECT_EQ(date_days_back(999999999), "");
  EXPECT_EQ(date_days_back(9223372036854775807LL), "");
  EXPECT_LT(steady_clock::now() - t0, milliseconds(50));
}

}  // namespace
