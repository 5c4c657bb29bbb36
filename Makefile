# The README's commands. Each one installs what it needs on a fresh Debian 12 machine (as root).
#
#   make test    configure, build and run every test          (SANITIZE=address,undefined for CI)
#   make demo    build tools/pelmar-demo (and only what it links) and run it
#   make bench   release build, run every program in bench/
#   make tsan    the tests labelled `concurrency` under ThreadSanitizer
#   make fuzz    clang + libFuzzer binaries of every fuzz target (build-fuzz/)
#   make thread-safety  clang build of everything with -Wthread-safety -Werror (build-clang-tsa/)
#   make format  clang-format every source in place; `make format-check` only checks

SHELL := /bin/bash
JOBS ?= $(shell nproc)
SANITIZE ?=
BUILD_TYPE ?= Debug
BUILD_DIR ?= build$(if $(SANITIZE),-$(subst $(comma),-,$(SANITIZE)))
comma := ,

PACKAGES := cmake ninja-build g++ pkg-config make \
	libcurl4-openssl-dev nlohmann-json3-dev \
	libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libx264-dev \
	libjpeg62-turbo-dev libturbojpeg0-dev libpng-dev libgif-dev libzxing-dev libcairo2-dev \
	libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev libbenchmark-dev \
	nginx-light libnginx-mod-rtmp ffmpeg curl \
	libvips-tools \
	libpango1.0-dev fonts-dejavu-core librsvg2-bin \
	clang libclang-rt-14-dev clang-format

SOURCES = $(shell git ls-files '*.h' '*.cpp' 2>/dev/null)

.PHONY: deps configure build test demo bench tsan fuzz thread-safety format format-check clean

deps:
	@missing=$$(for p in $(PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		if [ "$$(id -u)" = 0 ]; then \
			echo "installing:" $$missing; \
			apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
				--no-install-recommends $$missing >/dev/null || exit 1; \
		else \
			echo "missing packages (run as root to install):" $$missing; exit 1; \
		fi; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
		-DPELMAR_WERROR=ON -DPELMAR_SANITIZE=$(SANITIZE) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && LSAN_OPTIONS="$${LSAN_OPTIONS:-suppressions=$(CURDIR)/cmake/lsan.supp}" ctest -j $(JOBS) --output-on-failure $(CTEST_ARGS)

# Only the demo and what it links; the tests are built by `make test`.
demo: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target pelmar-demo
	$(BUILD_DIR)/tools/pelmar-demo/pelmar-demo

bench:
	$(MAKE) build BUILD_DIR=build-release BUILD_TYPE=Release SANITIZE=
	@set -e; for b in build-release/bench/*_bench; do echo "== $$b"; $$b; done

tsan:
	$(MAKE) build BUILD_DIR=build-tsan SANITIZE=thread
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/cmake/tsan.supp" ctest -j $(JOBS) -L concurrency --output-on-failure

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DPELMAR_FUZZ=ON -DPELMAR_SANITIZE=address,undefined -DPELMAR_BUILD_BENCH=OFF \
		-DPELMAR_BUILD_TOOLS=OFF
	cmake --build build-fuzz -j $(JOBS)

# Build only: the lock annotations are checked at compile time, so compiling every library, test,
# benchmark and tool is the whole check.
thread-safety: deps
	CC=clang CXX=clang++ cmake -S . -B build-clang-tsa -G Ninja -DCMAKE_BUILD_TYPE=Debug \
		-DPELMAR_WERROR=ON -DPELMAR_SANITIZE= -DPELMAR_BUILD_TESTS=ON -DPELMAR_BUILD_BENCH=ON \
		-DPELMAR_BUILD_TOOLS=ON
	cmake --build build-clang-tsa -j $(JOBS)

format:
	clang-format -i $(SOURCES)

format-check: deps
	@clang-format --dry-run --Werror $(SOURCES) && echo "format ok"

clean:
	rm -rf build build-* 
