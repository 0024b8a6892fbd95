#!/usr/bin/env bash
# Makes sure the tools a make target needs are there, judged by what is on PATH and what CMake
# finds, not by a package database. When something is missing and this is root on a machine
# with apt-get, installs it; otherwise names what is missing, with Debian's and Fedora's
# package names, and fails.
# Usage: tools/ensure-deps.sh [build|test|asan|fuzz|bench|package|windows|wine|cross]...
# QMJPEG_DEPS_PROBE_ONLY=1 only reports (never installs); CXX names the compiler to check.
set -uo pipefail

missing=() # "what|debian packages|fedora packages"
architectures=()
lack() { missing+=("$1|$2|$3"); }
have() { command -v "$1" >/dev/null 2>&1; }
package_ok() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# cmake 3.25 or later.
cmake_ok() {
    have cmake || return 1
    local version
    version=$(cmake --version | sed -n 's/^cmake version \([0-9]*\)\.\([0-9]*\).*/\1 \2/p')
    read -r major minor <<<"$version"
    [ "${major:-0}" -gt 3 ] || { [ "${major:-0}" -eq 3 ] && [ "${minor:-0}" -ge 25 ]; }
}

# A C++ compiler that builds C++20 (concepts, <span>).
cxx20_ok() {
    local compiler=${CXX:-}
    if [ -z "$compiler" ]; then
        for candidate in c++ g++ clang++; do
            have "$candidate" && { compiler=$candidate; break; }
        done
    fi
    [ -n "$compiler" ] || return 1
    printf '#include <span>\ntemplate <class T> concept C = sizeof(T) > 0;\nint main() { int a[2]{}; return std::span<int>(a).size() == 2 ? 0 : 1; }\n' |
        "$compiler" -std=c++20 -x c++ -fsyntax-only - >/dev/null 2>&1
}

# What CMake finds of the libraries the tests and benchmarks link: "gtest turbojpeg benchmark".
probed=
cmake_finds() {
    if [ -z "$probed" ]; then
        local dir
        dir=$(mktemp -d)
        cat >"$dir/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(probe LANGUAGES CXX)
find_package(GTest QUIET)
find_library(TURBOJPEG turbojpeg)
find_package(benchmark QUIET)
set(found "")
if(GTest_FOUND)
    string(APPEND found " gtest")
endif()
if(TURBOJPEG)
    string(APPEND found " turbojpeg")
endif()
if(benchmark_FOUND)
    string(APPEND found " benchmark")
endif()
message(STATUS "probe found:${found} .")
CMAKE
        probed=$(cmake -S "$dir" -B "$dir/build" 2>/dev/null | sed -n 's/^-- probe found:\(.*\) \.$/\1/p')
        probed=${probed:- none}
        rm -rf "$dir"
    fi
    [[ " $probed " == *" $1 "* ]]
}

# libFuzzer through Clang: a clang++ that links -fsanitize=fuzzer.
fuzz_ok() {
    have clang++ || return 1
    local dir status
    dir=$(mktemp -d)
    printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$dir/f.cpp"
    clang++ -fsanitize=fuzzer,address,undefined "$dir/f.cpp" -o "$dir/f" >/dev/null 2>&1
    status=$?
    rm -rf "$dir"
    return $status
}

check_build() {
    cmake_ok || lack "cmake 3.25 or later" cmake cmake
    have ninja || have make || lack "ninja (or make)" ninja-build ninja-build
    cxx20_ok || lack "a C++20 compiler" g++ gcc-c++
}

check_test_libraries() {
    if cmake_ok; then
        cmake_finds gtest || lack "GoogleTest (found by CMake)" "googletest libgtest-dev libgmock-dev" "gtest-devel gmock-devel"
        cmake_finds turbojpeg || lack "the TurboJPEG library (found by CMake)" libturbojpeg0-dev turbojpeg-devel
    fi
}

for need in "$@"; do
    case "$need" in
        build) check_build ;;
        test | asan) check_build; check_test_libraries ;;
        fuzz)
            check_build
            fuzz_ok || lack "Clang with libFuzzer" "clang clang-14 libclang-rt-14-dev" "clang compiler-rt"
            ;;
        bench)
            check_build
            if cmake_ok; then
                cmake_finds benchmark || lack "Google Benchmark (found by CMake)" libbenchmark-dev google-benchmark-devel
                cmake_finds turbojpeg || lack "the TurboJPEG library (found by CMake)" libturbojpeg0-dev turbojpeg-devel
            fi
            ;;
        package)
            have dpkg-deb || lack "dpkg-deb (CPack's Debian packages)" dpkg-dev dpkg
            have file || lack "file" file file
            have lintian || lack "lintian (the package check)" lintian lintian
            ;;
        windows)
            check_build
            have i686-w64-mingw32-g++-posix || lack "the 32-bit mingw-w64 compiler" "mingw-w64 g++-mingw-w64-i686-posix" mingw32-gcc-c++
            have x86_64-w64-mingw32-g++-posix || lack "the 64-bit mingw-w64 compiler" "mingw-w64 g++-mingw-w64-x86-64-posix" mingw64-gcc-c++
            ;;
        wine)
            # Wine's 32-bit half has no command of its own: ask the package database where
            # there is one.
            architectures+=(i386)
            if have dpkg-query; then
                for p in wine wine32 wine64; do
                    package_ok "$p" || lack "Wine ($p)" "$p" wine
                done
            else
                have wine || lack "Wine" "wine wine32 wine64" wine
            fi
            ;;
        cross)
            architectures+=(arm64)
            have python3 || lack "python3" python3 python3
            { have qemu-aarch64 && have qemu-s390x && have qemu-i386; } || lack "qemu user mode" qemu-user qemu-user
            [ -d /usr/src/googletest ] || lack "GoogleTest sources" googletest gtest-devel
            have aarch64-linux-gnu-g++ || lack "the aarch64 cross compiler" g++-aarch64-linux-gnu gcc-c++-aarch64-linux-gnu
            have s390x-linux-gnu-g++ || lack "the s390x cross compiler" g++-s390x-linux-gnu gcc-c++-s390x-linux-gnu
            have i686-linux-gnu-g++ || lack "the i686 cross compiler" g++-i686-linux-gnu gcc-c++
            [ -e /usr/lib/aarch64-linux-gnu/libturbojpeg.a ] ||
                lack "the aarch64 TurboJPEG library" libturbojpeg0-dev:arm64 "(none)"
            ;;
        *) echo "ensure-deps: unknown need '$need'" >&2; exit 2 ;;
    esac
done

[ ${#missing[@]} -eq 0 ] && exit 0

debian=()
for entry in "${missing[@]}"; do
    IFS='|' read -r _ deb _ <<<"$entry"
    for p in $deb; do
        [[ " ${debian[*]} " == *" $p "* ]] || debian+=("$p")
    done
done

if [ "${QMJPEG_DEPS_PROBE_ONLY:-0}" != 1 ] && [ "$(id -u)" -eq 0 ] && have apt-get; then
    echo "Installing: ${debian[*]}"
    export DEBIAN_FRONTEND=noninteractive
    for arch in "${architectures[@]}"; do
        dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
    done
    # A mirror in mid-sync can fail one index; the install decides whether what it needs is
    # there, and a failed install is tried again after a fresh update.
    for attempt in 1 2 3; do
        apt-get update -qq || echo "ensure-deps: apt-get update failed in part; installing anyway" >&2
        apt-get install -y -qq --no-install-recommends "${debian[@]}" && exit 0
        [ "$attempt" -lt 3 ] && sleep 30
    done
    echo "ensure-deps: apt-get could not install ${debian[*]}" >&2
    exit 1
fi

echo "Missing:" >&2
for entry in "${missing[@]}"; do
    IFS='|' read -r what deb fedora <<<"$entry"
    printf '  %s  (Debian: %s; Fedora: %s)\n' "$what" "$deb" "$fedora" >&2
done
for arch in "${architectures[@]}"; do
    echo "On Debian first: sudo dpkg --add-architecture $arch" >&2
done
echo "Debian: sudo apt-get update && sudo apt-get install -y ${debian[*]}" >&2
exit 1
