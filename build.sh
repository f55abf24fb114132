#!/bin/sh
# Installs what the build needs, then builds larkhorn into build/.
set -e
cd "$(dirname "$0")"
tools/install-deps g++ cmake make pkg-config libasound2-dev libedit-dev \
  libfftw3-dev googletest libgtest-dev libbenchmark-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
