# Thin wrapper around CMake: `make test` builds and runs every test,
# `make serve` runs the board on a local web server, `make bench` times
# the pages on generated data sets (not part of `make test`).
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all build test serve bench clean

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
	cmake --build $(BUILD) -j $(JOBS) --target morvel morvel-setup
	tools/serve.sh $(BUILD)

# Builds the program and the benchmark, then times every page on throw-away
# data sets in a temporary directory. BENCH_ARGS=--quick for a short run.
bench: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target morvel morvel-bench bench-hello bench-marks bench-spawn
	$(BUILD)/morvel-bench $(BENCH_ARGS)

clean:
	rm -rf $(BUILD)
