# Sourced by the fuzz runners: configures the Clang fuzz build in $build and builds the targets
# named in the arguments, or every fuzz/*Fuzz.cpp; leaves their names in `targets`.
fuzz_build() {
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DQMJPEG_FUZZ=ON -DQMJPEG_TESTS=OFF >/dev/null
    targets=("$@")
    if [ ${#targets[@]} -eq 0 ]; then
        for t in fuzz/*Fuzz.cpp; do targets+=("$(basename "$t" .cpp)"); done
    fi
    cmake --build "$build" -j "${JOBS:-2}" --target "${targets[@]}"
}
