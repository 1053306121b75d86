#!/bin/bash
# Checks the shipped language files against the slots the pages use
# (site-files/lang/slots.txt). A line is "number,text"; the loader keeps 99
# bytes of the text up to its first comma, and pages print texts inside
# attributes and JavaScript strings, so a text must fit and hold no comma or
# quote mark (neither can be a Shift_JIS second byte, so raw bytes are checked).
# MORVEL_SITE_FILES may name another site-files folder.
set -u
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
lang=${MORVEL_SITE_FILES:-$here/../site-files}/lang
passed=0
failed=0

# Runs one check; it fails when it printed any problem.
check() {
	local name=$1 out
	shift
	out=$("$@" 2>&1)
	if [[ -z $out ]]; then
		passed=$((passed + 1))
		echo "ok   $name"
	else
		failed=$((failed + 1))
		echo "FAIL $name"
		head -20 <<<"$out" | sed 's/^/       /'
	fi
}

mapfile -t slots < <(grep -v '^#' "$lang/slots.txt" 2>/dev/null | cut -f1 | grep .)

slot_texts() {
	local file=$lang/$1.lng line no text
	[[ -r $file ]] || { echo "missing $file"; return; }
	((${#slots[@]} > 0)) || { echo "no slots listed in $lang/slots.txt"; return; }
	local -A have=()
	while IFS= read -r line || [[ -n $line ]]; do
		[[ -z $line || $line == \#* ]] && continue
		if [[ ! $line =~ ^([0-9]+),(.*)$ ]]; then
			echo "not number,text: $line"
			continue
		fi
		no=$((10#${BASH_REMATCH[1]}))
		text=${BASH_REMATCH[2]}
		[[ -n $text ]] && have[$no]=1
		((${#text} <= 99)) || echo "slot $no: ${#text} bytes, at most 99 fit"
		[[ $text == *[,\"\']* ]] && echo "slot $no: comma or quote mark"
	done <"$file"
	for no in "${slots[@]}"; do
		[[ -n ${have[$no]:-} ]] || echo "slot $no missing or empty"
	done
	grep -qiE '^1,.*charset=Shift_JIS' "$file" || echo "slot 1 does not declare the Shift_JIS character set"
}

for name in english japan; do
	check "$name.lng: every listed slot, 99 bytes at most, no comma or quote, Shift_JIS head" slot_texts $name
done
check "english.lng is ASCII" grep -n -P '[^\x00-\x7F]' "$lang/english.lng"
check "japan.lng is Shift_JIS" bash -c 'iconv -f SHIFT_JIS -t UTF-8 "$1" >/dev/null' _ "$lang/japan.lng"

echo "$passed passed, $failed failed"
((failed == 0))
