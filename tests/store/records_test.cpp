// The record mechanics every store shares: a partial record at the end.
#include "store/records.h"

#include "data_dir.h"

namespace {

struct Rec {
  int32_t no;
  char text[8];
};
std::string rec(int32_t no, const std::string& text = "") {
  Rec r{no, {}};
  set_field(r.text, text);
  return bytes_of(r);
}

using Records = DataDir;

TEST_F(Records, PartialTailIsNeverReadAndGoesWithTheNextWrite) {
  const std::string path = dir / "r.dat", two = rec(1, "a") + rec(2, "b");
  auto same = [](int32_t no) { return [no](const Rec& r) { return r.no == no; }; };
  put("r.dat", two + "tail");
  std::vector<Rec> v;
  ASSERT_TRUE(load_records(path.c_str(), v));
  EXPECT_EQ(v.size(), 2u);
  ASSERT_EQ(upsert_record(path.c_str(), Rec{3, "c"}, same(3)), 0);  // appended over the tail
  EXPECT_EQ(get("r.dat"), two + rec(3, "c"));
  ASSERT_EQ(upsert_record(path.c_str(), Rec{2, "B"}, same(2)), 0);  // in place
  EXPECT_EQ(get("r.dat"), rec(1, "a") + rec(2, "B") + rec(3, "c"));
  put("r.dat", two + "tail");
  EXPECT_EQ(remove_records<Rec>(path.c_str(), (path + ".tmp").c_str(), same(9)), 0);
  EXPECT_EQ(get("r.dat"), two);
  put("r.dat", two + "tail");
  ASSERT_EQ(put_record(path.c_str(), 2, &v[0], sizeof(Rec)), 0);
  EXPECT_EQ(get("r.dat"), two + rec(1, "a"));
  // A scan reads in chunks: every whole record once, the tail never.
  std::string many;
  for (int32_t i = 0; i < 30000; i++) many += rec(i);  // past both chunk sizes
  put("r.dat", many + "tail");
  int32_t seen = 0;
  ASSERT_TRUE(scan_records<Rec>(path.c_str(), [&](const Rec& r) { return r.no != seen++; }));
  EXPECT_EQ(seen, 30000);
}

}  // namespace
