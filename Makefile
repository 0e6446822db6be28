# Convenience front end over CMake. Every target installs what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
ARGS ?=
CMAKE_FLAGS ?=

.PHONY: all setup test-setup configure build run test release deb deb-test asan clean \
        windows windows-configure windows-test windows-installer windows-installer-test

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

# The Debian package, from a stripped Release build with Debian's hardening flags.
DEB_BUILD ?= build-deb
deb: export DEB_BUILD_MAINT_OPTIONS = hardening=+all
deb:
	@scripts/setup.sh --deb
	cmake -S . -B $(DEB_BUILD) -DCMAKE_BUILD_TYPE=Release -DVTO_BUILD_TESTS=OFF -DVTO_BUILD_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" $(CMAKE_FLAGS)
	cmake --build $(DEB_BUILD) -j $(JOBS)
	cd $(DEB_BUILD) && cpack -G DEB

# Installs the package into this machine (as root), checks it as a user would, removes it.
deb-test: deb
	tests/package/deb_test.sh $(DEB_BUILD)/launchveltraonline_*.deb \
	  "$$(sed -n 's/^VTO_JNLP_HOST:[A-Z]*=//p' $(DEB_BUILD)/CMakeCache.txt)"

# Sanitizer reports fail the run; leaks inside the desktop's own libraries are suppressed.
asan: export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=1:strict_string_checks=1
asan: export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
asan: export LSAN_OPTIONS ?= suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0
asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DVTO_SANITIZE=ON -DVTO_BUILD_BENCH=OFF"

# Windows: a MinGW-w64 cross build (OpenSSL cross-built once from Debian's
# source and reused), its tests run under Wine.
WIN_BUILD ?= build-windows
WIN_OPENSSL ?= $(CURDIR)/build-windows-openssl
windows-configure:
	@scripts/setup.sh --windows
	scripts/windows-openssl.sh $(WIN_OPENSSL)
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
	  -DVTO_WINDOWS_OPENSSL=$(WIN_OPENSSL) -DCMAKE_BUILD_TYPE=Release -DVTO_BUILD_BENCH=OFF $(CMAKE_FLAGS)

windows: windows-configure
	cmake --build $(WIN_BUILD) -j $(JOBS) --target LaunchVeltraOnline

windows-test: windows-configure
	cmake --build $(WIN_BUILD) -j $(JOBS)
	cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS)

# The installer (NSIS, through CPack), and its check under Wine: silent installs
# for all users and for one, the Start-menu shortcut run, silent removal.
windows-installer: windows
	cd $(WIN_BUILD) && cpack -G NSIS

windows-installer-test: windows-installer
	tests/package/nsis_test.sh $(WIN_BUILD)/LaunchVeltraOnline-*-setup.exe \
	  "$$(sed -n 's/^VTO_JNLP_HOST:[A-Z]*=//p' $(WIN_BUILD)/CMakeCache.txt)"

clean:
	rm -rf build build-asan build-release build-deb build-windows
