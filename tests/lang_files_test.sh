#!/bin/bash
# Checks the shipped language files against the inventory of message slots
# the pages use (site-files/lang/slots.txt), and the pictures and static
# pages under site-files/pic.
#
# A language file line is "number,text": the loader cuts the text at the
# first comma and keeps 99 bytes of it, and pages print texts inside HTML
# attributes, JavaScript strings and confirm('...')/alert('...') calls, so
# a text must fit, hold no comma and no quote mark of either kind.
#
# Usage: lang_files_test.sh [build dir]   (the build dir is not used)
# MORVEL_SITE_FILES may name another site-files folder to check.
set -u
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
site=${MORVEL_SITE_FILES:-$here/../site-files}
lang=$site/lang
pic=$site/pic

passed=0
failed=0
errors=()

err() { errors+=("$*"); }

# Runs one group of checks; the group fails when it reported any error.
group() {
	local name=$1
	shift
	errors=()
	"$@"
	if ((${#errors[@]} == 0)); then
		passed=$((passed + 1))
		echo "ok   $name"
	else
		failed=$((failed + 1))
		echo "FAIL $name"
		local e n=0
		for e in "${errors[@]}"; do
			echo "       $e"
			n=$((n + 1))
			if ((n == 20)); then
				echo "       ... ${#errors[@]} problems in all"
				break
			fi
		done
	fi
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# ---------------------------------------------------------------- inventory

declare -A inventory=() kinds_of=()
kinds_known=" head comment title label header button option text message alert confirm error-title error notice reply "

check_inventory() {
	[[ -r $lang/slots.txt ]] || { err "missing $lang/slots.txt"; return; }
	local line no kinds where rest k
	while IFS= read -r line || [[ -n $line ]]; do
		[[ -z $line || $line == \#* ]] && continue
		IFS=$'\t' read -r no kinds where rest <<<"$line"
		if [[ ! $no =~ ^[1-9][0-9]{0,2}$ ]] || ((no > 399)); then
			err "bad slot number: $line"
			continue
		fi
		[[ -n ${inventory[$no]:-} ]] && err "slot $no listed twice"
		[[ -z $where || -n $rest ]] && err "slot $no: expected number, kinds and description separated by tabs"
		for k in ${kinds//,/ }; do
			[[ $kinds_known == *" $k "* ]] || err "slot $no: unknown kind '$k'"
		done
		inventory[$no]=1
		kinds_of[$no]=$kinds
	done <"$lang/slots.txt"
	((${#inventory[@]} > 0)) || err "no slots listed"
	[[ ${kinds_of[1]:-} == head ]] || err "slot 1 must be listed as the page head"
	[[ ${kinds_of[2]:-} == comment ]] || err "slot 2 must be listed as the page comment"
}

# ---------------------------------------------------------------- one language file

# Reads a language file into texts[slot] (raw bytes) and shown[slot] (the
# text as the browser decodes it: UTF-8 for the checks on characters).
declare -A texts=() shown=()
file_ok=1

load() {
	local file=$1 decoded=$2 raw_lines dec_lines i line no text
	texts=()
	shown=()
	file_ok=1
	if [[ ! -r $file ]]; then
		err "missing $file"
		file_ok=0
		return
	fi
	mapfile -t raw_lines <"$file"
	mapfile -t dec_lines <"$decoded"
	if ((${#raw_lines[@]} != ${#dec_lines[@]})); then
		err "$file: decoding changed the number of lines"
		file_ok=0
		return
	fi
	for i in "${!raw_lines[@]}"; do
		line=${raw_lines[$i]}
		[[ -z $line || $line == \#* ]] && continue
		if [[ $line == *$'\r'* ]]; then
			err "line $((i + 1)): carriage return (it would become part of the text)"
			continue
		fi
		if [[ ! $line =~ ^([0-9]+),(.*)$ ]]; then
			err "line $((i + 1)): not a comment and not number,text: $line"
			continue
		fi
		no=$((10#${BASH_REMATCH[1]}))
		text=${BASH_REMATCH[2]}
		if ((no < 1 || no > 399)); then
			err "line $((i + 1)): slot $no outside 1-399"
			continue
		fi
		[[ -n ${texts[$no]+x} ]] && err "slot $no given twice (the later line would win)"
		texts[$no]=$text
		shown[$no]=${dec_lines[$i]#*,}
	done
}

check_format() {
	load "$1" "$2"
}

check_coverage() {
	((file_ok)) || { err "file not loaded"; return; }
	local no
	for no in $(printf '%s\n' "${!inventory[@]}" | sort -n); do
		if [[ -z ${texts[$no]+x} ]]; then
			err "slot $no (${kinds_of[$no]}) missing"
		elif [[ -z ${texts[$no]} ]]; then
			err "slot $no (${kinds_of[$no]}) empty"
		fi
	done
	for no in $(printf '%s\n' "${!texts[@]}" | sort -n); do
		[[ -n ${inventory[$no]:-} ]] || err "slot $no is not in slots.txt (typo or stale slot?)"
	done
}

check_texts() {
	((file_ok)) || { err "file not loaded"; return; }
	local no text view
	for no in $(printf '%s\n' "${!texts[@]}" | sort -n); do
		text=${texts[$no]}
		view=${shown[$no]}
		((${#text} <= 99)) || err "slot $no: ${#text} bytes, at most 99 fit"
		[[ $text == *,* ]] && err "slot $no: comma (the loader cuts the text there)"
		[[ $view == *\"* ]] && err "slot $no: double quote"
		[[ $view == *\'* ]] && err "slot $no: single quote"
		# A backslash would escape the next character inside a JavaScript
		# string; Shift_JIS decoders show a lone 0x5C byte as a yen sign.
		[[ $view == *\\* || $view == *$'\xc2\xa5'* || $view == *$'\xe2\x80\xbe'* ]] &&
			err "slot $no: backslash or tilde byte"
		if ((no != 1)); then
			[[ $view == *[\<\>\&]* ]] && err "slot $no: markup character (< > &) outside the page head"
		fi
		[[ $view == *[[:cntrl:]]* ]] && err "slot $no: control character"
	done
}

check_head() {
	((file_ok)) || { err "file not loaded"; return; }
	local head=${shown[1]:-} comment=${shown[2]:-}
	[[ $head =~ [Cc][Hh][Aa][Rr][Ss][Ee][Tt]=[Ss]hift_JIS ]] || err "slot 1 does not declare the Shift_JIS character set"
	[[ $head =~ \<TITLE\>.+\</TITLE\> ]] || err "slot 1 has no TITLE"
	[[ $head == *\<BODY* || $head == *\</HEAD* ]] && err "slot 1 must hold only head elements"
	[[ $comment == *--* || $comment == *\>* ]] && err "slot 2 would end its HTML comment early"
}

check_english_ascii() {
	if grep -n -P '[^\x00-\x7F]' "$lang/english.lng" >"$tmp/nonascii"; then
		err "english.lng is not pure ASCII: $(head -3 "$tmp/nonascii" | tr '\n' ' ')"
	fi
}

check_japan_encoding() {
	if ! iconv -f SHIFT_JIS -t UTF-8 "$lang/japan.lng" >"$tmp/japan.decoded" 2>"$tmp/iconv.err"; then
		err "japan.lng is not valid Shift_JIS: $(cat "$tmp/iconv.err")"
		return
	fi
	local n
	n=$(grep -c -P '^[0-9]+,.*[^\x00-\x7F]' "$tmp/japan.decoded")
	((n > ${#inventory[@]} / 2)) || err "japan.lng: only $n messages hold Japanese text"
	if [[ -r $lang/japan.utf8.txt ]]; then
		if ! iconv -f UTF-8 -t SHIFT_JIS "$lang/japan.utf8.txt" >"$tmp/japan.rebuilt" 2>"$tmp/iconv.err"; then
			err "japan.utf8.txt does not convert to Shift_JIS: $(cat "$tmp/iconv.err")"
		elif ! cmp -s "$tmp/japan.rebuilt" "$lang/japan.lng"; then
			err "japan.lng is out of date: run site-files/lang/build-japan.sh"
		fi
	else
		err "missing japan.utf8.txt, the source of japan.lng"
	fi
}

# ---------------------------------------------------------------- pictures and pages

gif_size() { od -An -tu2 -j6 -N4 --endian=little "$1" | tr -s ' ' | sed 's/^ //'; }

check_pictures() {
	local f magic size w h
	for f in back folderclose folderbook folderchat new bot0001 bot0002 bot0003; do
		f=$pic/$f.gif
		[[ -s $f ]] || { err "missing $f"; continue; }
		magic=$(head -c 6 "$f")
		[[ $magic == GIF89a || $magic == GIF87a ]] || { err "$f is not a GIF"; continue; }
		[[ $(tail -c 1 "$f" | od -An -tx1 | tr -d ' ') == 3b ]] || err "$f: no GIF trailer"
		size=$(gif_size "$f")
		read -r w h <<<"$size"
		((w >= 8 && w <= 128 && h >= 8 && h <= 128)) || err "$f: odd size ${w}x$h"
	done
	f=$pic/title.jpg
	if [[ ! -s $f ]]; then
		err "missing $f"
	else
		[[ $(head -c 3 "$f" | od -An -tx1 | tr -d ' ') == ffd8ff ]] || err "$f is not a JPEG"
		[[ $(tail -c 2 "$f" | od -An -tx1 | tr -d ' ') == ffd9 ]] || err "$f: no end marker"
	fi
}

check_pages() {
	local f
	for f in info ginfo link; do
		f=$pic/$f.html
		[[ -s $f ]] || { err "missing $f"; continue; }
		iconv -f SHIFT_JIS -t UTF-8 "$f" >/dev/null 2>&1 || err "$f is not valid Shift_JIS"
	done
	for f in info ginfo; do
		f=$pic/$f.html
		[[ -s $f ]] || continue
		grep -qi 'charset=Shift_JIS' "$f" || err "$f does not declare Shift_JIS"
		grep -qi '</HTML>' "$f" || err "$f is not a whole page"
	done
	# link.html is copied into the body of the folder menu page.
	f=$pic/link.html
	[[ -s $f ]] && grep -qiE '<(HTML|HEAD|BODY|TITLE)[ >]|</(HTML|BODY)>' "$f" &&
		err "$f must be a fragment: the menu page already has HTML, HEAD and BODY"
}

check_generated() {
	python3 "$pic/make-pictures.py" "$tmp/pic" || { err "make-pictures.py failed"; return; }
	local f
	for f in "$tmp"/pic/*; do
		cmp -s "$f" "$pic/${f##*/}" || err "${f##*/} differs from what make-pictures.py makes: run it and commit the result"
	done
}

# ---------------------------------------------------------------- run

group "slot inventory is well formed" check_inventory
cp "$lang/english.lng" "$tmp/english.decoded" 2>/dev/null
# Bytes that are not Shift_JIS are dropped here; the encoding check reports them.
iconv -c -f SHIFT_JIS -t UTF-8 "$lang/japan.lng" >"$tmp/japan.decoded" 2>/dev/null
for name in english japan; do
	group "$name.lng: lines are comments or number,text in 1-399, once each" check_format "$lang/$name.lng" "$tmp/$name.decoded"
	group "$name.lng: every listed slot has a text, and no other" check_coverage
	group "$name.lng: texts fit 99 bytes, no comma, quote or markup" check_texts
	group "$name.lng: page head declares Shift_JIS, comment stays closed" check_head
done
group "english.lng is ASCII" check_english_ascii
group "japan.lng is Shift_JIS Japanese built from japan.utf8.txt" check_japan_encoding
group "pictures are present GIF and JPEG files" check_pictures
group "static pages are Shift_JIS; link.html is a fragment" check_pages
if command -v python3 >/dev/null; then
	group "pictures and pages match make-pictures.py" check_generated
else
	echo "skip pictures and pages match make-pictures.py (no python3)"
fi

echo "$passed passed, $failed failed"
((failed == 0))
