# Tessaract: `make demo` and `make test` do all the set-up on a fresh Debian 12 machine.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
WERROR := $(if $(CI),ON,OFF)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test e2e test-sanitize coverage demo bench fuzz soak clean

all: build

deps:
	@scripts/deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DTESSARACT_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

# The whole system under Xvfb with real X input (also part of `make test`).
e2e: build
	@ctest --test-dir $(BUILD) --output-on-failure -L e2e --timeout 300

# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded
# modules under ThreadSanitizer. The whole-window tests and the real program against the
# simulator are left out of the latter: their queued Qt events synchronise inside Qt, which is
# not built for the thread sanitizer.
TSAN_TESTS ?= Socket|Frame|Syncer|Km|Media|Sim|PicturePath|HandlerLifetime|ManagerFixture
TSAN_SKIP ?= WindowOnSim|PasteOnSim|MediaComeback|ChannelFault|FailingDevice|MediaFault|HostileDevice|ProgramOnSim
test-sanitize: deps
	@cmake -S . -B $(BUILD)-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTESSARACT_SANITIZE=address,undefined $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)-asan -j $(JOBS)
	@UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --test-dir $(BUILD)-asan --output-on-failure -j $(JOBS) --timeout 600
	@cmake -S . -B $(BUILD)-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTESSARACT_SANITIZE=thread $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)-tsan -j $(JOBS)
	@TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir $(BUILD)-tsan --output-on-failure -j $(JOBS) --timeout 600 -R '$(TSAN_TESTS)' -E '$(TSAN_SKIP)'

# Line coverage of src/ by the whole suite: an unoptimised build with gcov counters, the
# suite, then gcovr's summary (also written to $(BUILD)-coverage/coverage.txt).
coverage: deps
	@cmake -S . -B $(BUILD)-coverage -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)-coverage -j $(JOBS)
	@find $(BUILD)-coverage -name '*.gcda' -delete
	@status=0; ctest --test-dir $(BUILD)-coverage -j $(JOBS) --timeout 600 \
	  >$(BUILD)-coverage/ctest.txt || status=$$?; \
	  grep -E 'tests passed|\(Failed|\(Timeout' $(BUILD)-coverage/ctest.txt; \
	  gcovr --root . --filter 'src/' --exclude-unreachable-branches --gcov-ignore-parse-errors --print-summary \
	    --txt $(BUILD)-coverage/coverage.txt $(BUILD)-coverage | tail -n 3; \
	  exit $$status

bench: build
	@cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@scripts/bench.sh $(BUILD)

# Each fuzz target for FUZZ_SECONDS (default 60) under libFuzzer, ASan and UBSan.
fuzz: deps
	@scripts/fuzz.sh $(BUILD)-fuzz

demo: build
	@scripts/demo.sh $(BUILD)

# A long session (SOAK_SECONDS, default 600) of 1080p60 with typing, mouse moves and media
# reads; fails when the viewer's memory grows by 5% or more. Not part of CI. With a sanitizer
# build (BUILD=build-asan CMAKE_FLAGS=-DTESSARACT_SANITIZE=address,undefined) it also fails
# on anything LeakSanitizer reports at the viewer's exit.
soak: build
	@scripts/soak.sh $(BUILD)

clean:
	rm -rf $(BUILD)
