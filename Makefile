# The two commands of the README are the contract: `make run` and `make test`.
# Both install what is missing first, so they work on a fresh Debian 12 machine as root.

JOBS ?= $(shell nproc)
ARGS ?=

.PHONY: all deps build test test-unit run asan tsan tsan-suite fuzz fuzz-smoke bench package format tidy clean

all: build

deps:
	./scripts/install-deps.sh

build/default/CMakeCache.txt: | deps
	cmake --preset default

build: deps build/default/CMakeCache.txt
	cmake --build --preset default -j $(JOBS)

# Every test: the unit, integration and end-to-end suites inside a private test session (its own
# loopback-only network, D-Bus, avahi, Xvfb with openbox, keyring), the same suites again under
# AddressSanitizer and UndefinedBehaviorSanitizer (but the load tests, which prove nothing there
# that the first run did not, at many times the cost), the programs of our own threads (protocol,
# server, host, capture, input, headless: no Qt or GLib underneath) under ThreadSanitizer, then a
# short run of every fuzzer.
# The Debian packages are built and checked by lintian every time; installing and removing them
# changes the machine, so that test runs only with PACKAGE_TESTS=1 (as CI does).
PACKAGE_TESTS ?=
test: build
	./scripts/test-session.sh ctest --preset default -j $(JOBS) $(if $(PACKAGE_TESTS),,--label-exclude '^package$$')
	$(MAKE) asan ASAN_CTEST_ARGS="--label-exclude load"
	$(MAKE) tsan-suite
	$(MAKE) fuzz-smoke

# The desktop host when an X display is reachable, else the headless host: either prints its
# pairing link and runs until Ctrl-C. Extra arguments pass through to the host:
# make run ARGS="--verbose", or headless: make run ARGS="--port 47823 --name Werkbank --two-displays"
run: deps build/default/CMakeCache.txt
	cmake --build --preset default --target brisholm -j $(JOBS)
	./scripts/run-host.sh $(ARGS)

ASAN_CTEST_ARGS ?=
asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	./scripts/test-session.sh ctest --preset asan -j $(JOBS) $(ASAN_CTEST_ARGS)

# Libraries that are not instrumented (GLib, GIO, D-Bus, Qt) synchronise in ways ThreadSanitizer
# cannot see: scripts/tsan-suppressions.txt names each such report, narrowly.
TSAN_CTEST_ARGS ?=
# The part of it `make test` runs: only the programs labelled tsan are built and run.
tsan-suite: deps
	cmake --preset tsan
	cmake --build --preset tsan --target vantrel_tsan_suite -j $(JOBS)
	./scripts/test-session.sh ctest --preset tsan -j $(JOBS) -L tsan

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	./scripts/test-session.sh ctest --preset tsan -j $(JOBS) $(TSAN_CTEST_ARGS)

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

# FUZZ_SECONDS per target; CI keeps it short, a developer hunting bugs sets it high.
FUZZ_SECONDS ?= 10
fuzz-smoke: fuzz
	./scripts/fuzz-smoke.sh build/fuzz $(FUZZ_SECONDS)

# The Debian packages vantrel_VERSION_ARCH.deb and vantrel-probe_VERSION_ARCH.deb, in build/default.
package: build
	cmake --build --preset default --target package -j $(JOBS)

bench: build
	@for program in build/default/bench/bench_*; do echo "== $$program"; $$program; done

format:
	git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

tidy: build/default/CMakeCache.txt
	git ls-files '*.cpp' | xargs clang-tidy -p build/default --quiet

clean:
	rm -rf build
