#!/usr/bin/env bash
# Checks the manual page against the program: it renders without warnings,
# its synopsis is the usage line, its options are the ones --help lists, and
# its version is the program's.
# usage: manual_test.sh ORDIL MANUAL
set -euo pipefail
ordil=$1 manual=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

warnings=$(groff -man -Tutf8 -ww "$manual" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "groff warns: $warnings"
text=$(groff -man -Tutf8 -ww "$manual" | sed 's/.\x08//g')
section() { printf '%s\n' "$text" | awk -v s="$1" '/^[A-Z]/ { on = ($0 == s) } on'; }

help=$("$ordil" --help)
single=$(printf '%s\n' "$help" | sed -n 1p | sed 's/^usage: *//')
batch=$(printf '%s\n' "$help" | sed -n 2p | sed 's/^ *//')
[ "$single" = "ordil [-o OUTPUT | -d DIR | --check] [-v] [--] CACHE_FILE [VIDEO_ID]" ] ||
  fail "usage line: $single"
[ "$batch" = "ordil --batch [-d DIR | --check] [-j N] [-u] [-v] [--] PATH..." ] ||
  fail "batch usage line: $batch"
synopsis=$(section SYNOPSIS | sed 's/^ *//; s/  */ /g')
for usage in "$single" "$batch"; do
  printf '%s\n' "$synopsis" | grep -qxF "$usage" || fail "synopsis lacks: $usage"
done

help_options=$(printf '%s\n' "$help" | grep -oE '^  (-[a-z-]*)(, -[a-z-]*)?' | grep -oE -- '-[a-z-]*' | sort -u)
manual_options=$(section OPTIONS | grep -oE '^       -[a-z-]*(, -[a-z-]*)?' | grep -oE -- '-[a-z-]*' | sort -u)
[ -n "$help_options" ] || fail "no options found in --help"
[ "$help_options" = "$manual_options" ] ||
  fail "options differ: --help has [$(echo $help_options)], the manual [$(echo $manual_options)]"

version=$("$ordil" --version)
head -1 "$manual" | grep -qF "\"$version\"" || fail "manual header does not name \"$version\""
echo "manual agrees: $(echo $help_options)"
