#!/usr/bin/env bash
# Installs a build of korvo into a temporary prefix and uses it as a user
# would. One check per call:
#   check_install.sh BUILD_DIR layout        the files land where users expect them
#   check_install.sh BUILD_DIR find_package  the consumer's C and C++ methods build
#                                            with find_package(korvo) and run
#   check_install.sh BUILD_DIR pkg_config    the same through pkg-config, and every
#                                            installed header compiles alone with only
#                                            <prefix>/include on the include path
#   check_install.sh BUILD_DIR deb           cpack -G DEB makes korvo, korvo-dev and a
#                                            package per library, with the right
#                                            dependencies, shlibs, triggers and files
#   check_install.sh BUILD_DIR lintian       lintian reports no error on those packages
set -euo pipefail

build=$(cd "$1" && pwd)
check=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/korvo_install.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The consumer uses the depot's machine-wide locks: keep them apart from
# other runs.
export KORVO_LOCK_NAMESPACE="install.$$"
export KORVO_TMPDIR="$work"

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
soversion=${version%.*}

install_prefix() {
  prefix="$work/prefix"
  cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
    cat "$work/install.log"
    fail "cmake --install"
  }
  libdir=$(dirname "$(find "$prefix" -name "libkorvo.so.$soversion" | head -n 1)")
  [ -d "$libdir" ] || fail "libkorvo.so.$soversion is not installed"
}

# cpack -G DEB into $work/packages; names the packages' files.
make_packages() {
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/packages" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"
    fail "cpack -G DEB"
  }
  rm -rf "$work/packages/_CPack_Packages"
  runtime_deb=$(find "$work/packages" -maxdepth 1 -name "korvo_${version}_*.deb")
  dev_deb=$(find "$work/packages" -maxdepth 1 -name "korvo-dev_${version}_*.deb")
  lib_deb=$(find "$work/packages" -maxdepth 1 -name "libkorvo${soversion}_${version}_*.deb")
  for deb in "$runtime_deb" "$dev_deb" "$lib_deb"; do
    [ -f "$deb" ] || fail "cpack made $(cd "$work/packages" && echo *.deb), not korvo, korvo-dev and libkorvo$soversion"
  done
}

case "$check" in
layout)
  install_prefix
  for lib in korvo korvo_runtime; do
    [ -f "$libdir/lib$lib.so.$version" ] || fail "lib$lib.so.$version missing"
    [ "$(readlink "$libdir/lib$lib.so.$soversion")" = "lib$lib.so.$version" ] ||
      fail "lib$lib.so.$soversion does not link to lib$lib.so.$version"
    [ -L "$libdir/lib$lib.so" ] || fail "lib$lib.so (the link name) missing"
    readelf -d "$libdir/lib$lib.so.$version" | grep -q "SONAME.*\[lib$lib.so.$soversion\]" ||
      fail "lib$lib.so.$version has the wrong SONAME"
  done
  for file in include/korvo/korvo.h include/korvo/korvo.hpp include/korvo/cxx/error.hpp \
    include/korvo/properties/korvo_properties.h include/korvo/runtime/korvo_export.h \
    include/korvo/depot/depot.h include/korvo/stream/mstat.h; do
    [ -f "$prefix/$file" ] || fail "$file missing"
  done
  # Consumers put only <prefix>/include on their path: nothing but korvo/
  # may lie there.
  [ "$(ls -A "$prefix/include")" = "korvo" ] ||
    fail "include/ holds more than korvo/: $(ls -A "$prefix/include" | tr '\n' ' ')"
  # The umbrella header names every installed C header.
  for header in $(cd "$prefix/include" && find korvo -mindepth 2 -name '*.h' | sort); do
    grep -qx "#include <$header>" "$prefix/include/korvo/korvo.h" ||
      fail "korvo/korvo.h does not include $header"
  done
  [ -f "$libdir/cmake/korvo/korvoConfig.cmake" ] || fail "the CMake package is missing"
  if [ "$(sed -n 's/^KORVO_DOCS:BOOL=//p' "$build/CMakeCache.txt")" != "OFF" ]; then
    [ -f "$prefix/share/doc/korvo/api/index.html" ] || fail "the API reference is not installed"
  fi
  for example in korvo_method.c korvo_method_cxx.cc CMakeLists.txt; do
    [ -f "$prefix/share/doc/korvo/examples/$example" ] || fail "the example $example is not installed"
  done
  for file in share/man/man1/korvo.1.gz share/man/man1/korvo_gateway.1.gz \
    share/bash-completion/completions/korvo share/doc/korvo/README.md share/doc/korvo/depot.md; do
    [ -f "$prefix/$file" ] || fail "$file missing"
  done
  # The packages' own files stay out of a plain install.
  if find "$prefix" -name copyright -o -name changelog.gz | grep .; then
    fail "Debian package files were installed"
  fi
  grep -qx "prefix=$prefix" "$libdir/pkgconfig/korvo.pc" || fail "korvo.pc names another prefix"
  # Nothing of the test suite, the benchmarks or the internal headers (the
  # C++ interface's headers are the only *.hpp files installed).
  if find "$prefix" -name '*_tests' -o -name 'bench_*' -o -name 'replay_*' -o -name '*.hpp' |
    grep -v -e "^$prefix/include/korvo/korvo.hpp\$" -e "^$prefix/include/korvo/cxx/[a-z_]*\.hpp\$" |
    grep .; then
    fail "test, benchmark or internal files were installed"
  fi
  # The programs run from the prefix without LD_LIBRARY_PATH.
  [ -x "$prefix/bin/korvo" ] || fail "bin/korvo missing"
  env -u LD_LIBRARY_PATH "$prefix/bin/korvo" --version | grep -q "$version" ||
    fail "the installed korvo does not run"
  echo "layout: ok ($(find "$prefix" -type f | wc -l) files)"
  ;;
find_package)
  install_prefix
  cmake -S "$here/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    >"$work/configure.log" || {
    cat "$work/configure.log"
    fail "configuring the consumer"
  }
  cmake --build "$work/consumer" >"$work/build.log" || {
    cat "$work/build.log"
    fail "building the consumer"
  }
  "$work/consumer/korvo_method"
  "$work/consumer/korvo_method_cxx" >"$work/cxx.out" || fail "the C++ method failed"
  grep -qx "caught message 36 of Korvo2Catalog: Unable to find the property associated with the key no-such-key." \
    "$work/cxx.out" || fail "the C++ method did not catch message 36: $(cat "$work/cxx.out")"
  # The README's tour: a method keeps a segment and a progress record in a
  # work directory; the installed korvo shows them.
  "$work/consumer/korvo_method" "$work/endpoint" >/dev/null
  korvo=("$prefix/bin/korvo" --quiet)
  "${korvo[@]}" depot list --depot "$work/endpoint/depot" | grep -q '^seg-1  1.0      complete     1  ' ||
    fail "korvo depot list does not show the method's segment"
  "${korvo[@]}" depot verify --depot "$work/endpoint/depot" >/dev/null ||
    fail "korvo depot verify finds fault with the method's depot"
  "${korvo[@]}" progress list --work-dir "$work/endpoint" | grep -q '^dist-1        open    50%' ||
    fail "korvo progress list does not show the method's record"
  echo "find_package: the method and the korvo command work together"
  ;;
pkg_config)
  install_prefix
  export PKG_CONFIG_PATH="$libdir/pkgconfig"
  [ "$(pkg-config --modversion korvo)" = "$version" ] || fail "pkg-config knows another version"
  # shellcheck disable=SC2046
  cc -std=c11 -Wall -Wextra -Werror "$here/consumer/korvo_method.c" -o "$work/korvo_method" \
    $(pkg-config --cflags --libs korvo) -Wl,-rpath,"$libdir"
  "$work/korvo_method"
  # shellcheck disable=SC2046
  c++ -std=c++20 -Wall -Wextra -Werror "$here/consumer/korvo_method_cxx.cc" -o "$work/korvo_method_cxx" \
    $(pkg-config --cflags --libs korvo) -Wl,-rpath,"$libdir"
  "$work/korvo_method_cxx" >/dev/null || fail "the C++ method built with pkg-config failed"
  # Every installed header, alone and all together, as C11 and as C++20,
  # with only <prefix>/include on the include path: the headers find each
  # other as <korvo/...>.
  cflags=$(pkg-config --cflags korvo | sed 's/ *$//')
  [ "$cflags" = "-I$prefix/include" ] || fail "pkg-config --cflags korvo gives $cflags"
  includes=$(cd "$prefix/include" && find korvo -name '*.h' | sort)
  : >"$work/all.c"
  for header in $includes; do
    echo "#include <$header>" >>"$work/all.c"
    printf '#include <%s>\nint korvo_header_check;\n' "$header" >"$work/one.c"
    # shellcheck disable=SC2046
    cc -std=c11 -Wpedantic -Werror -fsyntax-only $(pkg-config --cflags korvo) "$work/one.c" ||
      fail "$header does not compile alone"
  done
  # shellcheck disable=SC2046
  cc -std=c11 -Wpedantic -Werror -fsyntax-only $(pkg-config --cflags korvo) "$work/all.c"
  # shellcheck disable=SC2046
  c++ -std=c++20 -Werror -fsyntax-only -x c++ $(pkg-config --cflags korvo) "$work/all.c"
  cxx_headers=$(cd "$prefix/include" && find korvo -name '*.hpp' | sort)
  for header in $cxx_headers; do
    printf '#include <%s>\n' "$header" >"$work/one.cc"
    # shellcheck disable=SC2046
    c++ -std=c++20 -Wall -Wextra -Wpedantic -Werror -fsyntax-only $(pkg-config --cflags korvo) "$work/one.cc" ||
      fail "$header does not compile alone"
  done
  echo "pkg_config: $(echo "$includes" | wc -w) C headers and $(echo "$cxx_headers" | wc -w) C++ headers compile"
  ;;
deb)
  make_packages
  depends=$(dpkg-deb -f "$runtime_deb" Depends)
  echo "korvo depends on: $depends"
  # libssl3 (libssl3t64 on later releases): korvo loads libcrypto at its
  # first digest, so only the package's dependency makes sure it is there.
  for needed in libc6 libstdc++6 libgcc-s1 libssl3 "libkorvo${soversion} (= $version)"; do
    grep -qF "$needed" <<<"$depends" || fail "korvo does not depend on $needed"
  done
  [ "$(dpkg-deb -f "$dev_deb" Depends)" = \
    "libkorvo${soversion} (= $version), libkorvo-runtime$soversion (= $version)" ] ||
    fail "korvo-dev must depend on the libraries of its link names, not: $(dpkg-deb -f "$dev_deb" Depends)"
  [ "$(dpkg-deb -f "$lib_deb" Recommends)" = "libcdsclient1" ] ||
    fail "libkorvo$soversion does not recommend the CDS client it loads"
  # The CDS client is loaded by its link name: the link comes with it.
  cds_deb=$(find "$work/packages" -maxdepth 1 -name "libcdsclient1_${version}_*.deb")
  [ -f "$cds_deb" ] || fail "no libcdsclient1 package"
  cds_list=$(dpkg-deb -c "$cds_deb")
  for file in libCDSClient.so.1 "libCDSClient.so -> libCDSClient.so.1"; do
    grep -qF "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/$file" <<<"$cds_list" ||
      fail "libcdsclient1 has no $file"
  done
  grep -qF "libkorvo-runtime$soversion (= $version)" <<<"$(dpkg-deb -f "$lib_deb" Depends)" ||
    fail "libkorvo$soversion does not depend on the runtime it links"
  # The libraries: in the multiarch folder, with their shlibs and the
  # ldconfig trigger.
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  grep -q "/usr/lib/$multiarch/libkorvo.so.$version\$" <<<"$(dpkg-deb -c "$lib_deb")" ||
    fail "libkorvo$soversion has no /usr/lib/$multiarch/libkorvo.so.$version"
  dpkg-deb -e "$lib_deb" "$work/control"
  [ "$(cat "$work/control/shlibs")" = "libkorvo $soversion libkorvo${soversion} (>= $version)" ] ||
    fail "libkorvo$soversion's shlibs: $(cat "$work/control/shlibs")"
  grep -qx "activate-noawait ldconfig" "$work/control/triggers" ||
    fail "libkorvo$soversion has no ldconfig trigger"
  for deb in "$work"/packages/*.deb; do
    package=$(dpkg-deb -f "$deb" Package)
    contents=$(dpkg-deb -c "$deb")
    grep -q "/usr/share/doc/$package/copyright\$" <<<"$contents" ||
      fail "$package has no copyright file"
    grep -q "/usr/share/doc/$package/changelog.gz\$" <<<"$contents" ||
      fail "$package has no changelog"
  done
  dpkg-deb -x "$runtime_deb" "$work/root"
  dpkg-deb -x "$dev_deb" "$work/root"
  [ -x "$work/root/usr/bin/korvo" ] || fail "korvo has no /usr/bin/korvo"
  for file in share/man/man1/korvo.1.gz share/man/man1/korvo_gateway.1.gz \
    share/bash-completion/completions/korvo share/doc/korvo/README.md; do
    [ -f "$work/root/usr/$file" ] || fail "korvo has no /usr/$file"
  done
  dpkg-deb -c "$runtime_deb" >"$work/runtime.list"
  dpkg-deb -c "$dev_deb" >"$work/dev.list"
  if grep -q '/include/' "$work/runtime.list"; then
    fail "headers in the korvo package"
  fi
  if grep -q '\.so' "$work/runtime.list"; then
    fail "libraries in the korvo package"
  fi
  grep -q '/usr/include/korvo/' "$work/dev.list" || fail "korvo-dev has no headers"
  grep -rqx "prefix=/usr" "$work/root/usr/lib" --include=korvo.pc || fail "korvo.pc of the package names another prefix than /usr"
  echo "deb: $(cd "$work/packages" && echo *.deb)"
  ;;
lintian)
  command -v lintian >/dev/null || fail "lintian is missing (scripts/setup.sh installs it)"
  make_packages
  # Errors fail; the warnings that remain are listed in docs/departures.md.
  lintian --fail-on error --tag-display-limit 0 "$work"/packages/*.deb 2>&1 |
    grep -v 'running with root privileges' | tee "$work/lintian.log" || true
  if grep -q '^E: ' "$work/lintian.log"; then
    fail "lintian reports errors"
  fi
  echo "lintian: no errors, $(grep -c '^W: ' "$work/lintian.log" || true) warnings"
  ;;
*)
  fail "unknown check $check"
  ;;
esac
