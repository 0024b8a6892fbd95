#!/usr/bin/env bash
# Makes sure the build and test tools are present. On Debian as root, installs what is missing
# with apt-get; otherwise prints the apt-get line to run and fails.
# Usage: tools/ensure-deps.sh [build|test|asan|fuzz|bench|package|windows|wine|cross]...
set -euo pipefail

packages=(cmake ninja-build g++ make)
architectures=() # foreign package architectures some needs add first
for need in "$@"; do
    case "$need" in
        build) ;;
        test) packages+=(googletest libgtest-dev libgmock-dev libturbojpeg0-dev) ;;
        fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
        asan) packages+=(googletest libgtest-dev libgmock-dev libturbojpeg0-dev) ;;
        bench) packages+=(libbenchmark-dev libturbojpeg0-dev) ;;
        package) packages+=(dpkg-dev file) ;;
        windows) packages+=(mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix) ;;
        wine) architectures+=(i386); packages+=(wine wine32 wine64) ;;
        cross)
            architectures+=(arm64)
            packages+=(python3 qemu-user googletest g++-aarch64-linux-gnu g++-s390x-linux-gnu
                       g++-i686-linux-gnu libturbojpeg0-dev:arm64) ;;
        *) echo "ensure-deps: unknown need '$need'" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    for arch in "${architectures[@]}"; do
        dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
    done
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "Missing packages: ${missing[*]}" >&2
    for arch in "${architectures[@]}"; do
        echo "Run: sudo dpkg --add-architecture $arch" >&2
    done
    echo "Run: sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi
