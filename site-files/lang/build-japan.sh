#!/bin/sh
# Writes japan.lng (Shift_JIS) from its UTF-8 source japan.utf8.txt.
# Usage: build-japan.sh [output file]   (default: japan.lng beside this script)
set -e
dir=$(cd "$(dirname "$0")" && pwd)
out=${1:-$dir/japan.lng}
tmp=$out.tmp.$$
trap 'rm -f "$tmp"' EXIT
iconv -f UTF-8 -t SHIFT_JIS "$dir/japan.utf8.txt" >"$tmp"
mv "$tmp" "$out"
trap - EXIT
