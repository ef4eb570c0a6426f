# Kavrix: one entry point for building, running, testing and measuring.
#   make run    install what is missing, build, serve on http://localhost:8080
#               (bound to 127.0.0.1; BIND=0.0.0.0 serves every interface)
#   make test   install what is missing, build, run every test, then every
#               test again in build-asan under ASan and UBSan
#   make bench  release build and benchmarks
#   make fuzz   libFuzzer targets, each run for FUZZ_SECONDS
#   make install  build, then install under PREFIX (default /usr/local),
#               staged under DESTDIR when given

BUILD   ?= build
PORT    ?= 8080
BIND    ?= 127.0.0.1
PREFIX  ?= /usr/local
DESTDIR ?=
FUZZ_SECONDS ?= 60
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps deps-test build build-server run test test-unit test-sanitized test-browser bench fuzz install clean format

all: build

deps:
	@scripts/install-deps.sh build

deps-test:
	@scripts/install-deps.sh test
	@scripts/browser-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: deps $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j $(JOBS)

# What serving needs: Kavrix alone (its session processes are Kavrix too).
# The tests and tools are built by make build and make test.
build-server: deps $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j $(JOBS) --target Kavrix

# The working directory of a server holds html/, certs/, codepage.dat and
# the executable under the name Kavrix; the repository root is that place.
# The local-shell connection hands a shell to whoever reaches the port, so
# the server listens on the loopback interface unless BIND says otherwise.
run:
	@echo "Kavrix: binding $(BIND):$(PORT) $(if $(filter 127.%,$(BIND)),(this machine only; make run BIND=0.0.0.0 to serve every interface),(reachable from the network: see Security in README.md))"
	@$(MAKE) --no-print-directory build-server
	@ln -sf $(BUILD)/Kavrix Kavrix
	./Kavrix -b $(BIND) -p $(PORT)

test: deps-test build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300
	@$(MAKE) --no-print-directory test-sanitized

# Every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitized: deps-test
	scripts/test-sanitized.sh build-asan

test-unit: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

# Release build with the benchmarks; one table, also written to bench/results.json.
bench:
	@scripts/install-deps.sh bench
	cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKVX_BENCH=ON -DKVX_TESTS=OFF >/dev/null
	cmake --build build-release -j $(JOBS)
	bench/run.sh build-release

# libFuzzer targets (clang), each run for FUZZ_SECONDS over its seed corpus.
fuzz:
	@scripts/install-deps.sh fuzz
	scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

# The program as bin/kavrix, the browser application and codepage.dat under
# share/kavrix (the program finds them there), an example configuration
# and certs/ under etc/kavrix (/etc/kavrix for PREFIX=/usr), and the
# systemd unit under lib/systemd/system.
install: build
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	DESTDIR=$(DESTDIR) cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) build-* Kavrix

format:
	find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i
