#!/usr/bin/env bash
# Builds everything and runs every test twice, in a normal build and in an ASan+UBSan build (the
# normal one also runs the release archive that scripts/release.sh makes), and fuzzes every
# decoder for a short, bounded time in between.
# Any failing test or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

suite() {
    local name=$1
    shift
    echo "=== $name build ==="
    cmake -S . -B "build/$name" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
    ninja -C "build/$name"
    (cd "build/$name" && ctest --output-on-failure --timeout 900)
}

# The release the bundle tests unpack and run (and the update test installs), made once the way
# a real one is; its build number is above every test build's.
echo "=== release build ==="
# Signed, so that release.sh's signing runs on every test run, with a throwaway key made for
# this run alone (build/ is never committed; a real key never lives in the tree).
mkdir -p build && rm -f build/release-test.key
openssl genpkey -algorithm ed25519 -out build/release-test.key
scripts/release.sh 9000 --out build/release-test --sign-key build/release-test.key
suite test-normal -DORVELA_RELEASE_DIR="$PWD/build/release-test"
# Every decoder's libFuzzer target for a bounded time, under ASan+UBSan (clang).
scripts/fuzz.sh "${ORVELA_FUZZ_SECONDS:-20}"
# Sanitizer findings abort the test program (-fno-sanitize-recover=all), which fails ctest.
ASAN_OPTIONS=abort_on_error=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    suite test-sanitize -DORVELA_SANITIZE=ON
