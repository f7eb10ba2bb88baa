# Single entry point. `make test` and `make demo` work alone on a fresh Debian
# machine: each installs what it needs and builds first.
BUILD   ?= build
JOBS    ?= 2
FUZZ_SECONDS ?= 600
CMAKE_COMMON = -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build build-native build-win64 build-win32 test test-native demo dist bench fuzz clean

all: build

deps:
	@BUILD=$(BUILD) bash scripts/deps.sh

build: build-native build-win64 build-win32

# Portable core with the host compiler, AddressSanitizer and UBSan on.
build-native:
	@cmake -S . -B $(BUILD)/native $(CMAKE_COMMON) >/dev/null
	@cmake --build $(BUILD)/native -j$(JOBS)

# The Windows build that the tests run under 64-bit Wine.
build-win64:
	@cmake -S . -B $(BUILD)/win64 $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
	@cmake --build $(BUILD)/win64 -j$(JOBS)

# The product: 32-bit Windows. The release folder takes its five files from
# here; the tests are built beside them, so the product stage can run them on
# the same 32-bit code (`make dist` ships no test).
build-win32:
	@cmake -S . -B $(BUILD)/win32 $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DBUILD_TESTING=ON >/dev/null
	@cmake --build $(BUILD)/win32 -j$(JOBS)

# The product stage of the tests runs the release archive, so dist comes first.
# The demo runs too, driven (no display), so the main job stays true.
test: deps
	@echo "=== make test on this machine: $$(BUILD=$(BUILD) bash scripts/run32.sh)"
	@$(MAKE) --no-print-directory build
	@bash scripts/dist.sh
	@echo "=== the demo, driven"
	@env -u DISPLAY bash scripts/demo.sh
	@bash scripts/run-tests.sh

# Native suites only, outside the test namespace (quick edit-compile-test loop).
test-native: build-native
	@cd $(BUILD)/native && ctest --output-on-failure

# The demo runs the 32-bit release folder, what users get.
demo: deps
	@$(MAKE) --no-print-directory build
	@bash scripts/dist.sh >/dev/null
	@bash scripts/demo.sh

dist: deps build-win32
	@bash scripts/dist.sh

bench: deps
	@$(MAKE) --no-print-directory build
	@bash scripts/run-tests.sh --bench

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORV_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(BUILD)/fuzz -j$(JOBS)
	@bash scripts/fuzz.sh $(BUILD)/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
