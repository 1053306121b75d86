# Thin wrapper around CMake: `make test` builds and runs every test,
# `make serve` runs the board on a local web server.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all build test serve clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

serve: build
	@if [ -x tools/serve.sh ]; then tools/serve.sh $(BUILD); else \
	  echo "Built $(BUILD)/morvel.cgi. Run it under a CGI-capable web server;"; \
	  echo "it reads morvel.ini next to itself (created with defaults on first run)."; fi

clean:
	rm -rf $(BUILD)
