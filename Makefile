# The front door: `make run` and `make test` install what is missing, build and go.
BUILD_DIR ?= build
SAN_BUILD_DIR ?= build-asan
FUZZ_BUILD_DIR ?= build-fuzz
WINDOWS_BUILD_DIR ?= build-windows
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local
# Every build compiles through ccache (installed by deps), with paths taken
# relative to the clone, so another clone or build folder costs little.
export CMAKE_CXX_COMPILER_LAUNCHER ?= ccache
export CMAKE_C_COMPILER_LAUNCHER ?= ccache
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1

.PHONY: all deps configure build run test bench fuzz install package clean windows test-windows

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@bash scripts/run-app.sh $(BUILD_DIR)/bin/mendrake

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)
	@bash scripts/test-sanitized.sh $(SAN_BUILD_DIR) $(JOBS)

# DESTDIR, when set, is honoured as well (staged installs).
install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The Debian package, build/mendrake_<version>_amd64.deb, checked before it is offered.
package: build
	@cd $(BUILD_DIR) && cpack --config CPackConfig.cmake
	@bash scripts/check-package.sh $(BUILD_DIR)

bench: build
	@bash bench/run-bench.sh $(BUILD_DIR)

fuzz: deps
	@bash fuzz/run-fuzz.sh $(FUZZ_BUILD_DIR) $(FUZZ_SECONDS) $(JOBS)

# crwlog.exe for 64-bit Windows, cross-built with MinGW-w64 and linked
# statically, and a zip with it, its README.txt and the licence.
windows: deps
	@bash scripts/build-windows.sh $(WINDOWS_BUILD_DIR) $(JOBS)

# The engine's tests built for Windows and run under wine64, and crwlog.exe's
# logs compared with the Linux crwlog's.
test-windows: build windows
	@bash scripts/test-windows.sh $(WINDOWS_BUILD_DIR) $(BUILD_DIR) $(JOBS)

clean:
	rm -rf $(BUILD_DIR) $(SAN_BUILD_DIR) $(FUZZ_BUILD_DIR) $(WINDOWS_BUILD_DIR)
