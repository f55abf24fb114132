#!/bin/sh
# Builds with warnings as errors and runs the whole test suite twice: a
# normal build, then one under AddressSanitizer and UndefinedBehaviorSanitizer.
# After the normal build it also checks the manual page, the installation
# and the Debian package. It installs build and test tools only: the sound
# server tests use the servers that are installed and are skipped where
# they are not, so the machine's sound set-up stays as it is.
set -e
cd "$(dirname "$0")"
tools/install-deps g++ cmake make pkg-config libasound2-dev googletest \
  libgtest-dev libbenchmark-dev groff-base man-db dpkg-dev file

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs an installed larkhorn with a home of its own, away from the machine's
# ALSA set-up.
run_installed() {
  HOME="$scratch" XDG_CONFIG_HOME="$scratch" "$@"
}

check_manual_page() {
  echo "== manual page"
  if ! warnings=$(groff -ww -man -z larkhorn.1 2>&1 &&
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l larkhorn.1 2>&1 >/dev/null) ||
    [ -n "$warnings" ]; then
    echo "$warnings"
    echo "larkhorn.1 has warnings"
    exit 1
  fi
}

check_install() {
  echo "== install into a temporary prefix"
  prefix="$scratch/prefix"
  cmake --install "$1" --prefix "$prefix"
  test -f "$prefix/share/man/man1/larkhorn.1.gz"
  version=$(run_installed "$prefix/bin/larkhorn" --version)
  if [ "$version" != "Larkhorn 1.01" ]; then
    echo "installed larkhorn --version printed: $version"
    exit 1
  fi
  run_installed "$prefix/bin/larkhorn" 440 1 null
}

check_package() {
  echo "== Debian package"
  rm -f "$1"/larkhorn_*.deb
  (cd "$1" && cpack -G DEB)
  deb="$1/larkhorn_1.01_$(dpkg --print-architecture).deb"
  contents=$(dpkg-deb -c "$deb")
  echo "$contents"
  dpkg-deb -f "$deb" Package Version Depends
  [ "$(dpkg-deb -f "$deb" Version)" = 1.01 ]
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "$depends" | grep -qE '(^|, )libasound2( |,|$)'
  echo "$contents" | grep -q ' \./usr/bin/larkhorn$'
  echo "$contents" | grep -q ' \./usr/share/man/man1/larkhorn\.1\.gz$'
  # The packaged (stripped) binary still runs.
  dpkg-deb -x "$deb" "$scratch/deb"
  run_installed "$scratch/deb/usr/bin/larkhorn" 440 1 null
}

check_manual_page
for variant in normal sanitize; do
  dir=build-test-$variant
  sanitize=OFF
  [ $variant = sanitize ] && sanitize=ON
  echo "== $variant build"
  cmake -S . -B $dir -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLARKHORN_WERROR=ON \
    -DLARKHORN_SANITIZE=$sanitize >/dev/null
  cmake --build $dir -j "$(nproc)"
  testing/fetch-alsa-plugin $dir
  (cd $dir && ctest --output-on-failure -j "$(nproc)")
  if [ $variant = normal ]; then
    check_install $dir
    check_package $dir
  fi
done
