// Date stepping, month lengths with leap years, the clock-based texts and
// the "hh:mm" arithmetic.
#include "text/datetime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

namespace {

std::string step(void (*op)(char*), const char* date, int times = 1) {
  char buf[32] = {0};
  strcpy(buf, date);
  for (int i = 0; i < times; i++) op(buf);
  return buf;
}

std::string timeop(void (*op)(char*, const char*, int), const char* a,
                   const char* b, int mode) {
  char buf[16] = {0};
  strcpy(buf, a);
  op(buf, b, mode);
  return buf;
}

// Broken-down local time of a "YYYY/MM/DD" text at noon.
struct tm parse_date(const std::string& s) {
  struct tm t {};
  t.tm_year = std::stoi(s.substr(0, 4)) - 1900;
  t.tm_mon = std::stoi(s.substr(5, 2)) - 1;
  t.tm_mday = std::stoi(s.substr(8, 2));
  t.tm_hour = 12;
  t.tm_isdst = -1;
  mktime(&t);
  return t;
}

TEST(DateStep, DaysAcrossMonthAndYearEnds) {
  EXPECT_EQ(step(next_date, "2000/12/31"), "2001/01/01");
  EXPECT_EQ(step(back_date, "2001/01/01"), "2000/12/31");
  EXPECT_EQ(step(next_7date, "2001/12/28"), "2002/01/04");
  // Two weeks back, as the access log's cut-off is computed.
  EXPECT_EQ(step(back_date, "2001/01/05", 14), "2000/12/22");
}

TEST(DateStep, LeapDayInGregorianLeapYears) {
  EXPECT_EQ(step(next_date, "2024/02/28"), "2024/02/29");
  EXPECT_EQ(step(next_date, "2024/02/29"), "2024/03/01");
  EXPECT_EQ(step(back_date, "2024/03/01"), "2024/02/29");
  EXPECT_EQ(step(next_date, "2023/02/28"), "2023/03/01");
  // Centuries are leap years only when divisible by 400.
  EXPECT_EQ(step(next_date, "2100/02/28"), "2100/03/01");
  EXPECT_EQ(step(next_date, "2000/02/28"), "2000/02/29");
  EXPECT_EQ(step(back_date, "2000/03/01"), "2000/02/29");
}

TEST(DateStep, TimePartIsDropped) {
  EXPECT_EQ(step(back_date, "2001/03/05 09:07"), "2001/03/04");
  EXPECT_EQ(step(next_date, "2001/03/05 09:07.42"), "2001/03/06");
}

TEST(DateStep, MonthsClampTheDay) {
  EXPECT_EQ(step(next_month, "2001/01/31"), "2001/02/28");
  EXPECT_EQ(step(next_month, "2024/01/31"), "2024/02/29");
  EXPECT_EQ(step(back_month, "2001/03/31"), "2001/02/28");
  EXPECT_EQ(step(back_month, "2024/03/31"), "2024/02/29");
  EXPECT_EQ(step(next_month, "2001/12/15"), "2002/01/15");
}

TEST(DateCheck, DayAgainstMonthLength) {
  EXPECT_EQ(chk_date("2001/04/31"), -1);
  EXPECT_EQ(chk_date("2001/04/30"), 0);
  EXPECT_EQ(chk_date("2024/02/29"), 0);
  EXPECT_EQ(chk_date("2023/02/29"), -1);
  EXPECT_EQ(chk_date("2100/02/29"), -1);
  EXPECT_EQ(chk_date("2000/02/29"), 0);
  EXPECT_EQ(chk_date("2001/04/00"), 0);

  EXPECT_EQ(calc_MonthDate("2024/02/10"), 29);
  EXPECT_EQ(calc_MonthDate("2023/02/10"), 28);
  EXPECT_EQ(calc_MonthDate("2023/04/10"), 30);
}

// Damaged dates must neither crash nor write past a 11-byte buffer.
TEST(DateCheck, DamagedDatesStayInBounds) {
  EXPECT_EQ(chk_date("2001/13/31"), 0);
  EXPECT_EQ(chk_date("2001/00/32"), -1);
  EXPECT_EQ(calc_MonthDate("2001/99/01"), 31);
  EXPECT_EQ(step(next_month, "2001/13/05"), "2002/01/05");
  EXPECT_EQ(step(back_month, "2001/00/05"), "2000/12/05");
  EXPECT_EQ(step(next_date, "2001/xx/yy"), "2001/00/01");

  char buf[12];
  memset(buf, '#', sizeof buf);
  memcpy(buf, "9999/12/31", 11);
  next_date(buf);
  EXPECT_EQ(buf[10], '\0');
  EXPECT_EQ(buf[11], '#');
}

TEST(Clock, FormsOfNow) {
  char d[32], dt[32];
  set_date(d);
  set_datetime(dt);
  int y, mo, da, h, mi, se;
  char tail;
  EXPECT_EQ(sscanf(d, "%4d/%2d/%2d %2d:%2d%c", &y, &mo, &da, &h, &mi, &tail), 5);
  EXPECT_EQ(sscanf(dt, "%4d/%2d/%2d %2d:%2d.%2d%c", &y, &mo, &da, &h, &mi, &se,
                   &tail), 6);
  EXPECT_EQ(strlen(d), 16u);
  EXPECT_EQ(strlen(dt), 19u);
  EXPECT_EQ(chk_date(d), 0);
}

TEST(Clock, WeekStartsOnMonday) {
  char week[16];
  char today[32];
  set_week(week);
  set_date(today);
  ASSERT_EQ(strlen(week), 10u);
  struct tm w = parse_date(week);
  struct tm t = parse_date(std::string(today, 10));
  EXPECT_EQ(w.tm_wday, 1) << week;
  double days = difftime(mktime(&t), mktime(&w)) / 86400.0;
  EXPECT_GE(days, -0.1);
  EXPECT_LE(days, 6.1);
  if (t.tm_wday == 1) {
    EXPECT_EQ(std::string(week), std::string(today, 10));
  }
}

TEST(Times, Split) {
  int h = -1, m = -1;
  for (const char* s : {"9:05", " 9:05", "09:05"}) {
    ctoi_time(s, &h, &m);
    EXPECT_EQ(h, 9) << s;
    EXPECT_EQ(m, 5) << s;
  }
}

TEST(Times, AddAndSubtract) {
  EXPECT_EQ(timeop(add_time, "23:30", "00:45", 1), "24:00");
  EXPECT_EQ(timeop(add_time, "23:30", "00:30", 0), "24:00");
  EXPECT_EQ(timeop(add_time, "10:50", "01:20", 0), "12:10");
  EXPECT_EQ(timeop(add_time, "08:00", "01:00", 0), " 9:00");
  EXPECT_EQ(timeop(add_time, "08:00", "01:00", 1), "09:00");
  EXPECT_EQ(timeop(add_time, "08:00", "01:00", 2), "08:00");

  EXPECT_EQ(timeop(sub_time, "09:00", "10:00", 1), "00:00");
  EXPECT_EQ(timeop(sub_time, "09:00", "10:00", 0), " 0:00");
  EXPECT_EQ(timeop(sub_time, "10:10", "8:20", 1), "01:50");
}

TEST(Times, CountSteps) {
  EXPECT_EQ(calc_TimeToCount("09:00", "10:00", "00:25"), 3);
  EXPECT_EQ(calc_TimeToCount("10:00", "09:00", "00:25"), 3);
  EXPECT_EQ(calc_TimeToCount("09:00", "09:00", "00:25"), 0);
  // Steps that can never reach the end stop instead of looping forever.
  EXPECT_EQ(calc_TimeToCount("09:00", "10:00", "00:00"), 0);
  EXPECT_EQ(calc_TimeToCount("23:00", "25:00", "00:30"), 2);
}

}  // namespace
