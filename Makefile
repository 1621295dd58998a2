# Tessaract: `make demo` and `make test` do all the set-up on a fresh Debian 12 machine.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
WERROR := $(if $(CI),ON,OFF)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo bench clean

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

demo: build
	@scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
