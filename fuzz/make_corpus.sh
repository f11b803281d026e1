#!/usr/bin/env bash
# Writes the seed corpora with our own generator: small cache files for the
# record walk, and field texts and path arguments taken from them.
# usage: fuzz/make_corpus.sh BUILD_DIR   (a build holding ordil-gen)
set -euo pipefail
gen="$(realpath "$1")/ordil-gen"
cd "$(dirname "$0")"
rm -rf corpus && mkdir -p corpus/records corpus/text corpus/path_argument
for seed in 1 2 3 4 5 6; do
  "$gen" random "$seed" $((seed * 2)) "corpus/records/realistic-$seed"
  "$gen" random --any-bytes "$seed" "$seed" "corpus/records/any-bytes-$seed"
done
"$gen" from-text ../examples/example.txt corpus/records/example
# Field texts: the example's comments, one a file.
n=0
grep -v '^#' ../examples/example.txt | cut -f4 | while IFS= read -r text; do
  n=$((n + 1))
  printf '%b' "$text" > "corpus/text/example-$n"
done
printf 'a<b&c "q" it'"'"'s\r\n\t\x01\xff\xed\xa0\x80\xef\xbf\xbe' > corpus/text/markup-and-ill-formed
# Path arguments, plain and percent-encoded.
i=0
for arg in '/data/678.ashx' 'C%3A%5Cdata%5C678.ashx' '%22C%3A%5Ca.ashx%22' \
           '%E3%81%82.ashx' 'a%2gb.ashx' '100%.ashx' '% 4%+7%-1%0g%0x' '"a.ashx'; do
  i=$((i + 1))
  printf '%s' "$arg" > "corpus/path_argument/seed-$i"
done
