#!/bin/sh
# Builds with warnings as errors and runs the whole test suite twice: a
# normal build, then one under AddressSanitizer and UndefinedBehaviorSanitizer.
# After the normal build it also checks the manual page, the installation
# and the Debian package (lintian, hardening-check). It installs build and
# test tools only: the sound
# server tests use the servers that are installed and are skipped where
# they are not, so the machine's sound set-up stays as it is.
set -e
cd "$(dirname "$0")"
tools/install-deps g++ cmake make pkg-config libasound2-dev libedit-dev libfftw3-dev \
  googletest libgtest-dev libbenchmark-dev groff-base man-db dpkg-dev file \
  lintian devscripts bash-completion

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs an installed larkhorn with a home of its own, away from the machine's
# ALSA set-up.
run_installed() {
  HOME="$scratch" XDG_CONFIG_HOME="$scratch" "$@"
}

# The version the build gives the package, and with it everything else.
build_version() {
  sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$1/CPackConfig.cmake"
}

check_manual_page() {
  echo "== manual page"
  page="$1/larkhorn.1"
  if ! warnings=$(groff -ww -man -z "$page" 2>&1 &&
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null) ||
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
  test -f "$prefix/share/bash-completion/completions/larkhorn"
  version=$(run_installed "$prefix/bin/larkhorn" --version)
  if [ "$version" != "Larkhorn $(build_version "$1")" ]; then
    echo "installed larkhorn --version printed: $version"
    exit 1
  fi
  run_installed "$prefix/bin/larkhorn" 440 1 null
}

check_package() {
  echo "== Debian package"
  rm -f "$1"/larkhorn_*.deb
  (cd "$1" && cpack -G DEB)
  version=$(build_version "$1")
  deb="$1/larkhorn_${version}_$(dpkg --print-architecture).deb"
  contents=$(dpkg-deb -c "$deb")
  echo "$contents"
  dpkg-deb -f "$deb" Package Version Depends
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ]
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "$depends" | grep -qE '(^|, )libasound2( |,|$)'
  echo "$depends" | grep -qE '(^|, )libedit2( |,|$)'
  for file in bin/larkhorn share/man/man1/larkhorn.1.gz \
    share/bash-completion/completions/larkhorn \
    share/doc/larkhorn/copyright share/doc/larkhorn/changelog.gz; do
    echo "$contents" | grep -q " \./usr/$file\$" || {
      echo "the package lacks /usr/$file"
      exit 1
    }
  done
  echo "== lintian"
  lintian --fail-on error,warning "$deb"
  # The packaged (stripped) binary still runs, and is hardened.
  dpkg-deb -x "$deb" "$scratch/deb"
  run_installed "$scratch/deb/usr/bin/larkhorn" 440 1 null
  echo "== hardening-check"
  hardened=$(hardening-check "$scratch/deb/usr/bin/larkhorn") || true
  echo "$hardened"
  for check in "Position Independent Executable" "Stack protected" \
    "Fortify Source functions" "Read-only relocations" "Immediate binding"; do
    echo "$hardened" | grep -q "^ $check: yes" || {
      echo "the packaged binary fails: $check"
      exit 1
    }
  done
}

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
    check_manual_page $dir
    check_install $dir
    check_package $dir
  fi
done
