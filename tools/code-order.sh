#!/usr/bin/env bash
# Prints the order in which the program's functions are to be laid out:
# those the given requests run, first run first. Usage:
#   tools/code-order.sh DIR QUERY... > tools/code-order.txt
# DIR holds morvel.cgi with its settings, as a web server runs it (a site
# that `make bench` keeps, for one); each QUERY is run once under callgrind.
set -euo pipefail
dir=$1
shift
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
n=0
for q in "$@"; do
  n=$((n + 1))
  (cd "$dir" && env -i REQUEST_METHOD=GET "QUERY_STRING=$q" REMOTE_ADDR=127.0.0.1 \
    HTTP_USER_AGENT=MorvelBench/1.0 SCRIPT_NAME=/cgi-bin/morvel.cgi \
    valgrind --tool=callgrind --demangle=no --callgrind-out-file="$out/$n" ./morvel.cgi >/dev/null 2>&1)
done
# Each function's section, as -ffunction-sections names it.
cat "$out"/* | grep -oE '^c?fn=\([0-9]+\) [A-Za-z_][^ ]*' | awk '{print $2}' | awk '!seen[$0]++' |
  sed 's/^/.text./'
