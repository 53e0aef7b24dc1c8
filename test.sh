#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once in a normal
# build, once with AddressSanitizer and UndefinedBehaviorSanitizer (engine only).
# Both builds treat compiler warnings as errors.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_WERROR=ON
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 1500)

# The sanitizer build shares the generated sample recordings of the normal build.
# It leaves out the tests on recordings of several GB (label "long"), which the
# normal build runs: they spend their time in orvane-cli and FFmpeg on gigabytes.
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON -DORVANE_ENGINE_ONLY=ON \
      -DORVANE_WERROR=ON -DORVANE_SAMPLE_DIR="$PWD/build/samples"
cmake --build build-sanitize -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
(cd build-sanitize && ctest --output-on-failure -j "$jobs" --timeout 3000 -LE long)
