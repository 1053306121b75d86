# Thin wrapper around CMake: `make test` builds and runs every test,
# `make serve` runs the board on a local web server, `make bench` times
# the pages on generated data sets (not part of `make test`), `make fuzz`
# builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS.
SHELL := /bin/bash
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all build test serve bench fuzz clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@{ command -v lighttpd >/dev/null || [ -x /usr/sbin/lighttpd ]; } && [ -x /usr/bin/chromium ] && \
	  command -v node >/dev/null || \
	  echo "NOTE: the browser test was skipped: it needs lighttpd, chromium and node (apt-get install lighttpd chromium nodejs npm)."

# Builds only the program and the set-up tool, then runs the local site.
serve: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target morvel morvel-admin
	tools/serve.sh $(BUILD)

# Builds the program and the benchmark, then times every page on throw-away
# data sets in a temporary directory. BENCH_ARGS=--quick for a short run.
bench: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target morvel morvel-bench bench-hello bench-marks bench-spawn
	$(BUILD)/morvel-bench $(BENCH_ARGS)

# Each target starts from its seeds in tests/fuzz/corpus/<target>/ and
# keeps what it finds in $(FUZZ_BUILD)/corpus/<target>/; a crash leaves its
# input in $(FUZZ_BUILD)/ and fails the run.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = fuzz_filter fuzz_form fuzz_store fuzz_text
fuzz:
	@if ! command -v clang++ >/dev/null; then \
	  echo "NOTE: make fuzz needs clang and libFuzzer (apt-get install clang libclang-rt-dev)."; exit 0; fi
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DMORVEL_FUZZ=ON -DMORVEL_TESTS=OFF -DMORVEL_STATIC=OFF \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  echo "== $$t for $(FUZZ_SECONDS) s"; \
	  (cd $(FUZZ_BUILD) && ./$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	    -print_final_stats=1 -artifact_prefix=$$PWD/ $$PWD/corpus/$$t $(CURDIR)/tests/fuzz/corpus/$$t 2>&1 | \
	    grep -E "^(stat::number_of_executed_units|Done|==[0-9]+==ERROR|SUMMARY|artifact_prefix)|runtime error|INFO: Running|Test unit written" ; \
	    exit $${PIPESTATUS[0]}); \
	done

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
