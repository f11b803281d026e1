#!/usr/bin/env bash
# Checks the Windows zip: exactly ordil.exe and its three documents, the
# documents with CR LF line ends, and in the exe the version resource and
# the manifest.
# usage: windows_package_test.sh ZIP VERSION
set -euo pipefail
zip=$1 version=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

names=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$names" = "CHANGES.txt LICENSE.txt README.txt ordil.exe " ] || fail "the zip holds: $names"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unzip -q "$zip" -d "$scratch"

for doc in README.txt LICENSE.txt CHANGES.txt; do
  lines=$(tr -cd '\n' <"$scratch/$doc" | wc -c)
  crlf=$(grep -c $'\r$' "$scratch/$doc" || true)
  [ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] || fail "$doc: $crlf of $lines lines end in CR LF"
done

# The version resource's strings are UTF-16.
resource=$(strings -e l "$scratch/ordil.exe")
for expected in ProductName ordil FileVersion ProductVersion "$version" OriginalFilename \
    ordil.exe FileDescription LegalCopyright "Copyright (c) the ordil authors. MIT licence."; do
  printf '%s\n' "$resource" | grep -qxF -- "$expected" || fail "no \"$expected\" in the version resource"
done
# The manifest is UTF-8 text.
manifest=$(strings -e S "$scratch/ordil.exe" | sed -n '/<assembly/,/<\/assembly>/p')
for expected in 'level="asInvoker"' '<ws2:longPathAware>true</ws2:longPathAware>' \
    35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
    1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  printf '%s\n' "$manifest" | grep -qF -- "$expected" || fail "no $expected in the manifest"
done
if printf '%s\n' "$manifest" | grep -q activeCodePage; then fail "the manifest sets an active code page"; fi
echo "zip agrees: $(echo $names), version $version, asInvoker, longPathAware, Windows 7 to 11"
