#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite. Exits non-zero on any failure.
# Also: format and test-macro checks, the 32-bit and 64-bit Windows cross-compiles of the device
# library and of velmora-isp.exe (which must need no DLL outside Windows itself), ./run.sh without
# a display, and (with CI=true) the Windows programs under wine (scripts/check-windows.sh) and a
# second build and run under AddressSanitizer + UBSan.
# With CI=true also a 60-second libFuzzer run of the program file loaders from fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh test
jobs=$(nproc)

echo "== format check"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== shell scripts: no reader that stops early after a producer under pipefail"
scripts/lint-shell.sh

echo "== no QtTest verdict macros inside GoogleTest tests"
if git grep -n -E '\b(QVERIFY|QCOMPARE|QTRY_[A-Z_]+)\b' -- tests; then
  echo "QtTest macros return silently inside GoogleTest: use EXPECT_/ASSERT_" >&2
  exit 1
fi

echo "== build and test"
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"

# Both Windows layouts: i686 is the tool's own, x86_64 is what wine runs on hosts without 32-bit
# support (scripts/check-windows.sh).
for arch in i686 x86_64; do
  dir=build-win32
  [ "$arch" = x86_64 ] && dir=build-win64
  echo "== $arch Windows cross-compile: the device library, velmora-isp.exe, the two probes"
  cmake -S . -B "$dir" -G Ninja -DVELMORA_DEVICE_ONLY=OFF -DVELMORA_CLI_ONLY=ON \
    -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" >/dev/null
  cmake --build "$dir" -j "$jobs"

  echo "== $arch velmora-isp.exe imports no DLL outside Windows itself"
  imports=$("$arch-w64-mingw32-objdump" -p "$dir/src/cli/velmora-isp.exe" |
    sed -n 's/^[[:space:]]*DLL Name: //p')
  echo "$imports" | tr '\n' ' '
  echo
  foreign=$(echo "$imports" | grep -viE '^(kernel32|msvcrt|setupapi|advapi32|user32|ntdll)\.dll$' || true)
  if [ -n "$foreign" ]; then
    echo "velmora-isp.exe ($arch) needs DLLs that Windows does not ship: $foreign" >&2
    exit 1
  fi
done

if [ "${CI:-}" = "true" ]; then
  echo "== the Windows programs under wine against the Linux build"
  scripts/check-windows.sh build build-win64 build-win32
fi

echo "== ./run.sh without a display flashes the virtual chip on the command line"
env -u DISPLAY -u WAYLAND_DISPLAY ./run.sh >build/run-headless.log 2>&1 || {
  cat build/run-headless.log
  exit 1
}
grep -E '^(No display|Verdict)' build/run-headless.log

if [ "${CI:-}" = "true" ]; then
  echo "== build and test under AddressSanitizer + UndefinedBehaviorSanitizer"
  cmake -S . -B build-asan -G Ninja -DVELMORA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
fi
if [ "${CI:-}" = "true" ]; then
  echo "== fuzz the program file loaders for 60 s from the seed corpus"
  cmake -S . -B build-fuzz -G Ninja -DVELMORA_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j "$jobs"
  rm -rf build-fuzz/corpus build-fuzz/findings
  mkdir -p build-fuzz/corpus build-fuzz/findings
  if ! build-fuzz/fuzz/image_loader_fuzzer -max_total_time=60 -timeout=10 -print_final_stats=1 \
    -dict=fuzz/hex.dict -artifact_prefix=build-fuzz/findings/ build-fuzz/corpus fuzz/corpus \
    >build-fuzz/fuzz.log 2>&1; then
    tail -n 60 build-fuzz/fuzz.log
    echo "the fuzzer found an input that breaks a loader (build-fuzz/findings/): keep it in" \
      "fuzz/corpus under a name that says what it exercises, then mend the loader" >&2
    exit 1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::' build-fuzz/fuzz.log
fi

echo "== install into a staging folder, the desktop files, the manual pages, the Debian package"
scripts/check-package.sh build

echo "== all checks passed"
