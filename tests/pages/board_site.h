// Helpers shared by the page tests: a field put first, the kill tests' loop.
#pragma once
#include <iostream>

#include "board.h"

// `f` with a field put first: the program reads a field's first value.
inline Fields with(Fields f, const std::string& name, const std::string& value) {
  f.insert(f.begin(), {name, value});
  return f;
}

// Runs `round` until `want` requests were killed (at least 3/7 of them within
// `seconds`), each with a random kill moment in a span that shrinks after a
// request that ended and grows after a kill. MORVEL_KILL_SEED replays a seed.
inline void kill_loop(const char* what, int want, int seconds,
                      const std::function<void(const std::function<void(Response)>&, long, std::mt19937&)>& round) {
  const char* replay = std::getenv("MORVEL_KILL_SEED");
  const unsigned seed = replay ? static_cast<unsigned>(std::atol(replay)) : std::random_device{}();
  std::cout << what << " kill test seed " << seed << " (MORVEL_KILL_SEED replays it)\n";
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
