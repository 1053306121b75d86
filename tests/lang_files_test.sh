#!/bin/bash
# Checks the shipped language files against site-files/lang/slots.txt: every
# slot there, texts of at most 99 bytes without comma or quote mark (pages print
# them in attributes and scripts), the encodings. MORVEL_SITE_FILES may name another folder.
set -u
export LC_ALL=C
lang=${MORVEL_SITE_FILES:-$(cd "$(dirname "$0")" && pwd)/../site-files}/lang
mapfile -t slots < <(grep -v '^#' "$lang/slots.txt" 2>/dev/null | cut -f1 | grep .)

# The problems of one language file, one a line.
problems() {
	local file=$lang/$1.lng line no text
	[[ -r $file ]] || { echo "missing $file"; return; }
	((${#slots[@]} > 0)) || { echo "no slots listed in $lang/slots.txt"; return; }
	local -A have=()
	while IFS= read -r line || [[ -n $line ]]; do
		[[ -z $line || $line == \#* ]] && continue
		[[ $line =~ ^([0-9]+),(.*)$ ]] || { echo "not number,text: $line"; continue; }
		no=$((10#${BASH_REMATCH[1]})) text=${BASH_REMATCH[2]}
		[[ -n $text ]] && have[$no]=1
		((${#text} <= 99)) || echo "slot $no: ${#text} bytes, at most 99 fit"
		[[ $text == *[,\"\']* ]] && echo "slot $no: comma or quote mark"
	done <"$file"
	for no in "${slots[@]}"; do [[ -n ${have[$no]:-} ]] || echo "slot $no missing or empty"; done
	grep -qiE '^1,.*charset=Shift_JIS' "$file" || echo "slot 1 does not declare the Shift_JIS character set"
}

out=$(problems english; problems japan
	grep -n -P '[^\x00-\x7F]' "$lang/english.lng" | sed 's/^/english.lng not ASCII: /'
	iconv -f SHIFT_JIS -t UTF-8 "$lang/japan.lng" 2>&1 >/dev/null | sed 's/^/japan.lng: /')
[[ -z $out ]] && { echo "language files: every listed slot, 99 bytes at most, no comma or quote, encodings"; exit 0; }
head -40 <<<"$out"
exit 1
