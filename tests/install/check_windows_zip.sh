#!/bin/sh
# The Windows ZIP as its users meet it:
#   check_windows_zip.sh BUILD_DIR C_COMPILER CXX_COMPILER
# makes the ZIP of a cross build (cpack -G ZIP), checks that it holds what
# docs/windows.md lists, unpacks it and runs bin/korvo.exe --help and a
# receive through bin/korvo_gateway.exe under Wine with nothing on WINEPATH
# (the DLLs must be beside the programs), and builds the example methods of
# doc/examples against the unpacked include/ and lib/ and runs them from
# bin/.
set -eu

build=$1
cc=$2
cxx=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/korvo-zip.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

fail() {
  echo "package.zip: $*" >&2
  exit 1
}

# Wine with the prefix's own PATH only: nothing of the build reaches it.
run_wine() {
  env -u WINEPATH WINEDEBUG=-all wine "$@"
}

cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work/made" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  fail "cpack -G ZIP failed"
}
zip=$(ls "$work"/made/korvo-*-win*.zip 2>/dev/null | head -n 1)
[ -n "$zip" ] || fail "cpack made no korvo-<version>-win64.zip or -win32.zip"
name=$(basename "$zip" .zip)
unzip -q "$zip" -d "$work/unpacked" || fail "$zip does not unpack"
top="$work/unpacked/$name"
[ -d "$top" ] || fail "$zip has no top folder $name"

case "$name" in
  *-win64) gcc_dll=libgcc_s_seh-1.dll ;;
  *-win32) gcc_dll=libgcc_s_dw2-1.dll ;;
  *) fail "$name is neither -win64 nor -win32" ;;
esac
for file in bin/korvo.exe bin/korvo_gateway.exe bin/korvo_sample_method.exe \
  bin/korvo.dll bin/korvo_runtime.dll bin/CDSClient.dll \
  bin/libstdc++-6.dll "bin/$gcc_dll" bin/libwinpthread-1.dll \
  include/korvo/korvo.h include/korvo/korvo.hpp \
  lib/libkorvo.dll.a lib/libkorvo_runtime.dll.a lib/libCDSClient.dll.a \
  lib/cmake/korvo/korvoConfig.cmake lib/pkgconfig/korvo.pc \
  doc/examples/CMakeLists.txt doc/examples/korvo_method.c doc/examples/korvo_method_cxx.cc \
  doc/windows.md README.md; do
  [ -f "$top/$file" ] || fail "the ZIP lacks $file"
done
# Nothing of a Linux install: no man pages, no completion, no shared objects.
if (cd "$top" && find . -name '*.so*' -o -name '*.1.gz' -o -path '*bash-completion*') | grep -q .; then
  fail "the ZIP holds files of a Linux install"
fi

cd "$work"
run_wine "$top/bin/korvo.exe" --help >help.out 2>help.err || {
  cat help.err >&2
  fail "bin/korvo.exe --help failed with nothing on WINEPATH"
}
grep -q "^Usage: korvo \[OPTIONS\] SUBCOMMAND" help.out || fail "bin/korvo.exe --help printed no usage: $(head -c 300 help.out)"

# A receive through the gateway peer, with the programs of the ZIP alone.
printf 'first release\n' >notes.txt
head -c 300000 /dev/urandom >kernel.img
run_wine "$top/bin/korvo_gateway.exe" --make-toc release.toc kernel.img notes.txt >toc.out 2>&1 ||
  fail "korvo_gateway --make-toc failed: $(cat toc.out)"
run_wine "$top/bin/korvo_gateway.exe" --toc release.toc --quiet --timeout 60 -- \
  "$top/bin/korvo.exe" receive release --toc release.toc -o received >receive.out 2>&1 ||
  fail "the receive through korvo_gateway failed: $(cat receive.out)"
cmp -s kernel.img received/kernel.img || fail "received/kernel.img differs from what was sent"
cmp -s notes.txt received/notes.txt || fail "received/notes.txt differs from what was sent"

# A method of one's own, built against the ZIP's headers and import
# libraries, runs from bin/ beside the DLLs. Both take their flags from the
# ZIP's pkg-config file, which must carry the 64-bit file offsets and times
# that the public headers check (32-bit Windows has neither by default).
pc_flags=$(PKG_CONFIG_PATH="$top/lib/pkgconfig" PKG_CONFIG_LIBDIR="$top/lib/pkgconfig" \
  pkg-config --define-prefix --cflags --libs korvo) || fail "pkg-config does not read lib/pkgconfig/korvo.pc"
case "$pc_flags" in
  *-D_FILE_OFFSET_BITS=64*-D__MINGW_USE_VC2005_COMPAT=1*) ;;
  *) fail "lib/pkgconfig/korvo.pc lacks the definitions callers need: $pc_flags" ;;
esac
# shellcheck disable=SC2086 # the flags are words
"$cc" -std=c11 -Wall -Wextra -Werror "$top/doc/examples/korvo_method.c" $pc_flags \
  -o "$top/bin/korvo_method.exe" 2>c.err ||
  fail "the C example does not build against the ZIP: $(cat c.err)"
# shellcheck disable=SC2086
"$cxx" -std=c++20 -Wall -Wextra -Werror "$top/doc/examples/korvo_method_cxx.cc" $pc_flags \
  -o "$top/bin/korvo_method_cxx.exe" 2>cxx.err ||
  fail "the C++ example does not build against the ZIP: $(cat cxx.err)"
# Machine-wide locks of this check's own.
export KORVO_LOCK_NAMESPACE="zip-check-$$"
run_wine "$top/bin/korvo_method.exe" >method.out 2>&1 ||
  fail "the C example failed: $(cat method.out)"
grep -q "caught message 36" method.out || fail "the C example caught no message 36: $(cat method.out)"
run_wine "$top/bin/korvo_method_cxx.exe" >method_cxx.out 2>&1 ||
  fail "the C++ example failed: $(cat method_cxx.out)"
grep -q "caught message 36" method_cxx.out ||
  fail "the C++ example caught no message 36: $(cat method_cxx.out)"
echo "package.zip: $name holds what docs/windows.md lists, runs from bin/ alone, and builds methods"
