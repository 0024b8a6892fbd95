# Front door for building, running and testing qmjpeg. See README.md.
BUILD       ?= build
ASAN_BUILD  ?= build-asan
BENCH_BUILD ?= build-bench
FUZZ_BUILD  ?= build-fuzz
JOBS        ?= 2
FUZZ_SECONDS ?= 60
MINUTES     ?= 10
WIN32_BUILD ?= build-win32
WIN64_BUILD ?= build-win64

PREFIX      ?= /usr/local
# Ninja where it is installed, else Make.
GENERATOR   ?= $(if $(shell command -v ninja 2>/dev/null),Ninja,Unix Makefiles)

.PHONY: all build tool run test test-asan install package bench fuzz fuzz-campaign windows cross-check format clean

all: build

# Everything, the tests included.
build:
	@tools/ensure-deps.sh build test
	cmake -S . -B $(BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DQMJPEG_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)

# The tool alone. A build folder made here leaves the tests out of its configuration; one that
# exists keeps its configuration, and only the qmjpeg target is built in it.
tool:
	@tools/ensure-deps.sh build
	@[ -f $(BUILD)/CMakeCache.txt ] || \
		cmake -S . -B $(BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DQMJPEG_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target qmjpeg

# The main job on the bundled examples; results go to out/.
run: tool
	@tools/run-examples.sh $(BUILD)

# Progress lines and failures; the full record is in $(BUILD)/Testing/Temporary/LastTest.log.
test: build
	@tools/run-tests.sh $(BUILD) $(JOBS)

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan:
	@tools/ensure-deps.sh asan
	cmake -S . -B $(ASAN_BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMJPEG_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		tools/run-tests.sh $(ASAN_BUILD) $(JOBS)

# The tool and its manual page under PREFIX (bin/qmjpeg, share/man/man1/qmjpeg.1).
install: tool
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of the tool, checked with lintian: $(BUILD)/qmjpeg_<version>_<arch>.deb.
package: tool
	@tools/ensure-deps.sh package
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error,warning $(BUILD)/qmjpeg_$$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' $(BUILD)/CMakeCache.txt)_*.deb

bench:
	@tools/ensure-deps.sh build bench
	cmake -S . -B $(BENCH_BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DQMJPEG_TESTS=OFF -DQMJPEG_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@for b in $(BENCH_BUILD)/bench/*Bench; do echo "== $$b"; $$b --benchmark_min_time=1; done

# Every libFuzzer target for FUZZ_SECONDS each, from the kept corpora; fails on any finding.
fuzz:
	@tools/ensure-deps.sh build fuzz
	FUZZ_BUILD=$(FUZZ_BUILD) JOBS=$(JOBS) tools/run-fuzzers.sh $(FUZZ_SECONDS)

# Every libFuzzer target for MINUTES each; what they find is merged into fuzz/corpus/.
fuzz-campaign:
	@tools/ensure-deps.sh build fuzz
	FUZZ_BUILD=$(FUZZ_BUILD) JOBS=$(JOBS) tools/fuzz-campaign.sh $(MINUTES)

# The Windows executables, 32-bit and 64-bit, cross-built with mingw-w64 and statically linked.
windows:
	@tools/ensure-deps.sh build windows
	cmake -S . -B $(WIN32_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMJPEG_TESTS=OFF \
		-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
	cmake --build $(WIN32_BUILD) -j $(JOBS) --target qmjpeg
	cmake -S . -B $(WIN64_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMJPEG_TESTS=OFF \
		-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
	cmake --build $(WIN64_BUILD) -j $(JOBS) --target qmjpeg
	@ls -l $(WIN32_BUILD)/qmjpeg.exe $(WIN64_BUILD)/qmjpeg.exe

# Windows under Wine, aarch64, s390x and i686 Linux under qemu, against the native build.
cross-check:
	@tools/ensure-deps.sh build windows cross
	@tools/ensure-deps.sh wine || \
		echo "cross-check: Wine could not be installed; the Windows executables are built, not run"
	BUILD=$(BUILD) JOBS=$(JOBS) tools/cross-check.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) out $(WIN32_BUILD) $(WIN64_BUILD) \
		build-aarch64 build-s390x build-i686
