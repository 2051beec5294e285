#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three ways:
#   build/       the normal build, whole suite (warnings are errors here; the
#                other two builds leave warnings to it)
#   build-asan/  the whole suite under AddressSanitizer and UBSan
#   build-fuzz/  the fuzz targets (clang, libFuzzer), each seed corpus replayed once
# PLEXISYNC_BUILD_DIR chooses another folder for the first; the other two are
# named after it (<dir>-asan, <dir>-fuzz). Stops at the first stage that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# ccache (when installed) reuses objects across clones in other folders:
# paths below the checkout count relative to it.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
build="${PLEXISYNC_BUILD_DIR:-build}"
jobs="$(nproc)"
stage() { printf '\n==== %s\n' "$*"; }

stage "Normal build ($build)"
bash scripts/build.sh -DPLEXISYNC_WERROR=ON
(cd "$build" && ctest --output-on-failure -j "$jobs")

# Any fault stops the program with a report; leaks are faults too.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

stage "AddressSanitizer + UndefinedBehaviorSanitizer build ($build-asan)"
cmake -S . -B "$build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DPLEXISYNC_SANITIZE=address,undefined -DPLEXISYNC_BUILD_BENCH=OFF >/dev/null
cmake --build "$build-asan" -j "$jobs"
(cd "$build-asan" && ctest --output-on-failure -j "$jobs")

stage "Fuzz targets, seed corpora replayed ($build-fuzz)"
CC=clang CXX=clang++ cmake -S . -B "$build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPLEXISYNC_BUILD_FUZZ=ON -DPLEXISYNC_BUILD_TESTS=OFF \
  -DPLEXISYNC_BUILD_BENCH=OFF >/dev/null
cmake --build "$build-fuzz" -j "$jobs" --target fuzz_targets
(cd "$build-fuzz" && ctest --output-on-failure -j "$jobs")
