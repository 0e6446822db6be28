# Convenience front end over CMake. Every target installs what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
ARGS ?=
CMAKE_FLAGS ?=

.PHONY: all setup test-setup configure build run test release asan clean

all: build

setup:
	@scripts/setup.sh

test-setup:
	@scripts/setup.sh --test

configure: setup
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/launcher/LaunchVeltraOnline $(ARGS)

test: test-setup configure
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

release: setup
	cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVTO_BUILD_TESTS=OFF -DVTO_BUILD_BENCH=OFF
	cmake --build build-release -j $(JOBS) --target LaunchVeltraOnline
	strip build-release/launcher/LaunchVeltraOnline

asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DVTO_SANITIZE=ON -DVTO_BUILD_BENCH=OFF"

clean:
	rm -rf build build-asan build-release
