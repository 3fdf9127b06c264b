#!/usr/bin/env bash
# Checks what the operator reads beside the programs. One check per call:
#   check_docs.sh SOURCE_DIR KORVO GATEWAY man         every man page renders without a
#                                                     warning and names every subcommand
#                                                     and option the programs' --help gives
#   check_docs.sh SOURCE_DIR KORVO GATEWAY completion  bash completion for korvo offers the
#                                                     subcommands, options and values that
#                                                     korvo's --help gives
set -euo pipefail

source_dir=$(cd "$1" && pwd)
korvo=$2
gateway=$3
check=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/korvo_docs.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# The subcommands a --help text lists.
subcommands_of() {
  "$korvo" "$@" --help | sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p'
}
# The long options a --help text lists (--help itself left out).
options_of() {
  "$@" --help | grep -o '^ *\(-[a-zA-Z],\)\?--[a-z][a-z-]*' | sed 's/.*--/--/' | grep -vx -- --help
}
# Every subcommand path that runs something: "depot list", "catalog" ...
leaves() {
  local top sub
  for top in $(subcommands_of); do
    local nested
    nested=$(subcommands_of "$top")
    if [ -z "$nested" ]; then
      echo "$top"
    else
      for sub in $nested; do echo "$top $sub"; done
    fi
  done
}

case "$check" in
man)
  for page in "$source_dir"/docs/man/*.1; do
    name=$(basename "$page")
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "$name: groff warns: $warnings"
    MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >"$work/$name.txt" 2>"$work/$name.err"
    [ ! -s "$work/$name.err" ] || fail "$name: man warns: $(cat "$work/$name.err")"
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" "SEE ALSO"; do
      grep -q "^$section" "$work/$name.txt" || fail "$name has no $section section"
    done
  done
  manual=$source_dir/docs/man/korvo.1
  for leaf in $(leaves | tr ' ' '_'); do
    words=${leaf//_/ }
    grep -q "^\.B[IR]\? \"\?$words\b" "$manual" || fail "korvo.1 does not describe korvo $words"
    # shellcheck disable=SC2086
    for option in $(options_of "$korvo" $words); do
      grep -qF -- "${option//-/\\-}" "$manual" || fail "korvo.1 does not name $option of korvo $words"
    done
  done
  for option in $(options_of "$gateway"); do
    grep -qF -- "${option//-/\\-}" "$source_dir/docs/man/korvo_gateway.1" ||
      fail "korvo_gateway.1 does not name $option"
  done
  echo "man: $(ls "$source_dir"/docs/man/*.1 | wc -l) pages render; korvo.1 covers $(leaves | wc -l) subcommands"
  ;;
completion)
  # Completes the words of a command line (the last one may be empty) as
  # bash does on Tab: the sorted candidates, one a line.
  complete_line() {
    bash --norc --noprofile -c '
      source "$1"; shift
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
      _korvo
      printf "%s\n" "${COMPREPLY[@]}" | sort' \
      complete "$source_dir/tools/completion/korvo" "$@"
  }
  expect() {
    local wanted=$1
    shift
    local got
    got=$(complete_line "$@" | tr '\n' ' ' | sed 's/ $//')
    [ "$got" = "$wanted" ] || fail "completing '$*': '$got', not '$wanted'"
  }
  expect "$(subcommands_of | sort | tr '\n' ' ' | sed 's/ $//')" korvo ""
  expect "depot describe" korvo de
  expect "--quiet" korvo --q
  for top in $(subcommands_of); do
    nested=$(subcommands_of "$top")
    [ -z "$nested" ] || expect "$(sort <<<"$nested" | tr '\n' ' ' | sed 's/ $//')" korvo "$top" ""
  done
  expect "list" korvo -q depot --depot /tmp l
  # Every option of every subcommand, after the subcommand.
  while read -r leaf; do
    # shellcheck disable=SC2086
    offered=$(complete_line korvo $leaf --)
    # shellcheck disable=SC2086
    for option in $(options_of "$korvo" $leaf); do
      grep -qx -- "$option" <<<"$offered" || fail "completing 'korvo $leaf --' does not offer $option"
    done
  done < <(leaves)
  # Values: the source kinds receive --help lists, layouts, types, directories.
  kinds=$("$korvo" receive --help | sed -n 's/.*--from KIND:{\([^}]*\)}.*/\1/p' | tr ',' '\n' | sort)
  [ -n "$kinds" ] || fail "receive --help lists no source kinds"
  expect "$(tr '\n' ' ' <<<"$kinds" | sed 's/ $//')" korvo receive d1 --from ""
  expect "marked" korvo props convert file.plist --to m
  expect "boolean" korvo props set f k v -t b
  mkdir -p "$work/depot-a" "$work/depot-b"
  touch "$work/depot-file"
  expect "$work/depot-a $work/depot-b" korvo depot list -d "$work/depot-"
  expect "$work/depot-file" korvo receive d1 -o out --files "$work/depot-f"
  echo "completion: subcommands, options and values as korvo --help gives them"
  ;;
*)
  fail "unknown check $check"
  ;;
esac
