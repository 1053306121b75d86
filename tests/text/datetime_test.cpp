// Date stepping, month lengths with leap years, and the "hh:mm" arithmetic.
#include "text/datetime.h"
#include "board.h"

namespace {

TEST(Dates, StepsAcrossMonthYearAndLeapDays) {
  const struct {
    void (*op)(char*);
    const char *in, *want;
  } cases[] = {
      {next_7date, "2001/12/28", "2002/01/04"},
      {next_date, "2001/03/05 09:07.42", "2001/03/06"},  // the time part is dropped
      // February has 29 days in leap years; centuries only when divisible by 400.
      {next_date, "2024/02/28", "2024/02/29"},
      {back_date, "2000/03/01", "2000/02/29"},
      {back_7date, "2024/03/03", "2024/02/25"},
      // Month steps keep the day, clamped to the month's length.
      {next_month, "2024/01/31", "2024/02/29"},
      {back_month, "2001/00/05", "2000/12/05"},  // damaged months stay in range
  };
  for (const auto& c : cases) {
    char buf[32] = {0};
    strcpy(buf, c.in);
    c.op(buf);
    EXPECT_STREQ(buf, c.want) << c.in;
  }
  char buf[] = "9999/12/31\0#";  // the result never runs past an 11-byte date
  next_date(buf);
  EXPECT_EQ(buf[11], '#');
  for (const char* bad : {"2001/04/31", "2023/02/29", "2100/02/29", "2001/00/32"})
    EXPECT_EQ(chk_date(bad), -1) << bad;
  for (const char* good : {"2001/04/30", "2000/02/29"}) EXPECT_EQ(chk_date(good), 0) << good;
}

TEST(Times, AddSubtractAndCount) {
  auto op = [](void (*f)(char*, const char*, int), const char* a, const char* b, int mode) {
    char buf[16] = {0};
    strcpy(buf, a);
    f(buf, b, mode);
    return std::string(buf);
  };
  EXPECT_EQ(op(add_time, "23:30", "00:45", 1) + op(add_time, "08:00", "01:00", 0), "24:00 9:00");
  EXPECT_EQ(op(sub_time, "09:00", "10:00", 1) + op(sub_time, "10:10", "8:20", 1), "00:0001:50");
  EXPECT_EQ(calc_TimeToCount("10:00", "09:00", "00:25"), 3);
  // Steps that can never reach the end stop instead of looping forever.
  EXPECT_EQ(calc_TimeToCount("09:00", "10:00", "00:00"), 0);
  EXPECT_EQ(calc_TimeToCount("23:00", "25:00", "00:30"), 2);
}

}  // namespace
