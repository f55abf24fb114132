#!/bin/sh
# Builds with warnings as errors and runs the whole test suite twice: a
# normal build, then one under AddressSanitizer and UndefinedBehaviorSanitizer.
# After the normal build it also checks the manual page and builds the Debian
# packages twice from copies of the tree, the first time with the source
# package and the tests, which lintian must pass and whose .deb files must
# come out byte for byte the same. It installs build and test tools only: the
# sound server tests use the servers that are installed and are skipped where
# they are not, so the machine's sound set-up stays as it is.
set -e
cd "$(dirname "$0")"
tools/install-deps g++ cmake make pkg-config libasound2-dev libedit-dev \
  libfftw3-dev googletest libgtest-dev libbenchmark-dev groff-base man-db \
  debhelper \
  lintian devscripts bash-completion git

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs an installed larkhorn with a home of its own, away from the machine's
# ALSA set-up.
run_installed() {
  HOME="$scratch" XDG_CONFIG_HOME="$scratch" "$@"
}

# Copies the files git tracks, as they are in the working tree, into the
# directory $1: what a clean clone holds, with any uncommitted edits; a file
# not yet added to git is left out, as a clean clone leaves it out.
copy_tree() {
  mkdir -p "$1"
  git ls-files -z --cached | tar --null --files-from=- -cf - | tar -xf - -C "$1"
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

check_package() {
  echo "== Debian packages"
  version=$(dpkg-parsechangelog -S Version)
  deb="larkhorn_${version}_$(dpkg --print-architecture).deb"
  # The second build, in another directory and without the tests, must give
  # the same bytes.
  copy_tree "$scratch/first/larkhorn"
  copy_tree "$scratch/again/larkhorn"
  (cd "$scratch/first/larkhorn" &&
    DEB_BUILD_OPTIONS="parallel=$(nproc) terse" dpkg-buildpackage -us -uc)
  (cd "$scratch/again/larkhorn" &&
    DEB_BUILD_OPTIONS="parallel=$(nproc) nocheck" dpkg-buildpackage -us -uc -b)
  echo "== lintian"
  lintian --fail-on error,warning "$scratch/first/${deb%.deb}.changes"
  echo "== reproducible"
  (cd "$scratch" && sha256sum first/*.deb again/*.deb)
  for built in "$scratch"/first/*.deb; do
    cmp "$built" "$scratch/again/${built##*/}"
  done
  deb="$scratch/first/$deb"
  contents=$(dpkg-deb -c "$deb")
  echo "$contents"
  dpkg-deb -f "$deb" Package Version Depends
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
  # The packaged (stripped) binary runs, says the package's version, and is
  # hardened.
  dpkg-deb -x "$deb" "$scratch/deb"
  said=$(run_installed "$scratch/deb/usr/bin/larkhorn" --version)
  if [ "$said" != "Larkhorn $version" ]; then
    echo "the packaged larkhorn --version printed: $said"
    exit 1
  fi
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
    check_package
  fi
done
