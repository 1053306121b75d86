// Helpers shared by the page tests: a field put first, the kill tests' loop.
#pragma once
#include <iostream>

#include "board.h"

// `f` with a field put first: the program reads a field's first value.
inline Fields with(Fields f, const std::string& name, const std::string& value) {
  f.insert(f.begin(), {name, value});
  return f;
}

// A random seed, or the one `env` names to replay a run; printed.
inline unsigned test_seed(const std::string& what, const char* env) {
  const char* again = std::getenv(env);
  const unsigned seed = again ? static_cast<unsigned>(std::atol(again)) : std::random_device{}();
  std::cout << what << " seed " << seed << " (" << env << " replays it)\n";
  return seed;
}

// Runs `round` until `want` requests were killed (at least 3/7 of them within
// `seconds`), each with a random kill moment in a span that shrinks after a
// request that ended and grows after a kill. MORVEL_KILL_SEED replays a seed.
inline void kill_loop(const char* what, int want, int seconds,
                      const std::function<void(const std::function<void(Response)>&, long, std::mt19937&)>& round) {
  const unsigned seed = test_seed(std::string(what) + " kill test", "MORVEL_KILL_SEED");
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  double span = 15000;
  int kills = 0;
  auto count = [&](const Response& r) {
    kills += r.status == 128 + 9;
    span *= r.status == 128 + 9 ? 1.1 : 0.9;
  };
  const auto start = std::chrono::steady_clock::now();
  while (kills < want && std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds) &&
         !::testing::Test::HasFailure())
    round(count, static_cast<long>(rng() % (static_cast<unsigned long>(span) + 1)), rng);
  EXPECT_GE(kills, want * 3 / 7);
  std::cout << kills << " " << what << "s killed\n";
}
