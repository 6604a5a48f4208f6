#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build (GCC, with a
# valgrind run), the sanitizer build (Clang: AddressSanitizer with leak
# checking, UndefinedBehaviorSanitizer, and the fuzz targets briefly), and
# the 32-bit Windows build (MinGW-w64 i686) under 32-bit Wine, natively or
# under qemu-user (less the cases that need the page-fault trap), or, where
# the machine can run no 32-bit code at all, its files checked without
# running it. A package that could not be installed fails the run at the
# end, after every suite that can run without it has run.
set -euo pipefail
cd "$(dirname "$0")/.."
SORVEL_APT_FAILURES=$(mktemp)
export SORVEL_APT_FAILURES
# What could not be installed is said again at the end, and fails the run however it ends.
finish() {
  local status=$?
  if [ -s "$SORVEL_APT_FAILURES" ]; then
    echo "== Not every package could be installed, so this run fails:"
    cat "$SORVEL_APT_FAILURES"
    [ "$status" -ne 0 ] || status=1
  fi
  rm -f "$SORVEL_APT_FAILURES"
  exit "$status"
}
trap finish EXIT
# The Linux packages, then the Windows ones: a mirror out of step for i386 still lets the Linux suites run.
bash scripts/install-deps.sh cmake make g++ libgtest-dev libgmock-dev googletest valgrind g++-multilib qemu-user-static \
  python3 python3-jsonschema python3-pytest ansible-core gtkwave fusefat dosfstools clang libclang-rt-14-dev || true
bash scripts/install-deps.sh g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386 || true
bash scripts/setup-i386.sh  # once: 32-bit programs emulated where the kernel runs none

echo "== Linux"
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVEL_WERROR=ON >/dev/null
cmake --build build/linux -j2
(cd build/linux && ctest -j2 --output-on-failure)

echo "== Sanitizers and fuzz targets"
CC=clang CXX=clang++ cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVEL_WERROR=ON \
  -DSORVEL_SANITIZE=ON -DSORVEL_FUZZ=ON >/dev/null
cmake --build build/sanitize -j2
(cd build/sanitize && ASAN_OPTIONS=detect_leaks=1 ctest -j2 --output-on-failure)

echo "== Windows (32-bit)"
windows=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVEL_WERROR=ON)
mode=$(bash scripts/setup-i386.sh --mode)
if [ "$mode" = none ] || ! /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
  echo "This machine runs no 32-bit x86 programs, natively or emulated, so not Wine either: the Windows programs are"
  echo "built and their files checked (format, imports, exports, version, the ZIP's checksum), not run."
  cmake -S . -B build/windows-files "${windows[@]}" -DSORVEL_WINE=OFF >/dev/null
  cmake --build build/windows-files -j2
  (cd build/windows-files && ctest --output-on-failure && cpack >/dev/null &&
    sha256sum -c sorvel-1.0-windows-x86.zip.sha256)
  exit 0
fi
source scripts/wine-env.sh
cmake -S . -B build/windows "${windows[@]}" >/dev/null
cmake --build build/windows -j2
skip=()
if [ "$mode" = emulated ]; then
  # qemu-user hands Wine a fault without its trap number, so Wine raises no
  # access violation: the caught window cannot work there.
  skip=(-LE trap)
  left=$(cd build/windows && ctest -N -L trap | sed -n 's/^Total Tests: //p')
  echo "32-bit programs run under qemu-user here: $left cases labelled trap (the caught window, every run on"
  echo "the mapped path) are left out, as the emulator gives Wine no page-fault trap; window_i386 covers the window."
fi
# Each test is a Wine process of its own. Only a start of Wine that fails
# before the program runs (seen once in some thousand: a failing status and
# no output at all) is tried again, by scripts/wine-run.sh; a test that
# fails is not tried again.
export SORVEL_WINE_RETRIES=$PWD/build/windows/wine-retries.log
rm -f "$SORVEL_WINE_RETRIES"
(cd build/windows && ctest -j2 --output-on-failure "${skip[@]}" && cpack >/dev/null &&
  sha256sum -c sorvel-1.0-windows-x86.zip.sha256)
echo "Wine failed to start a program $(cat "$SORVEL_WINE_RETRIES" 2>/dev/null | wc -l) times (retried)"
