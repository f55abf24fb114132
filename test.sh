#!/bin/sh
# Builds with warnings as errors and runs the whole test suite twice: a
# normal build, then one under AddressSanitizer and UndefinedBehaviorSanitizer.
set -e
cd "$(dirname "$0")"
tools/install-deps g++ cmake make pkg-config libasound2-dev googletest \
  libgtest-dev libbenchmark-dev
for variant in normal sanitize; do
  dir=build-test-$variant
  sanitize=OFF
  [ $variant = sanitize ] && sanitize=ON
  echo "== $variant build"
  cmake -S . -B $dir -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLARKHORN_WERROR=ON \
    -DLARKHORN_SANITIZE=$sanitize >/dev/null
  cmake --build $dir -j "$(nproc)"
  (cd $dir && ctest --output-on-failure -j "$(nproc)")
done
