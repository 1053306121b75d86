#!/usr/bin/env bash
# Browser test: serves a fresh site with lighttpd and runs the main user
# journey in headless Chromium. Skips (exit 77) when lighttpd, Chromium or
# Node.js is missing, and says so.
set -u
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
case "$build" in /*) ;; *) build="$root/$build" ;; esac
here="$root/tests/browser"

missing=()
command -v lighttpd >/dev/null 2>&1 || [ -x /usr/sbin/lighttpd ] || missing+=(lighttpd)
[ -x "${CHROMIUM:-/usr/bin/chromium}" ] || missing+=(chromium)
command -v node >/dev/null 2>&1 || missing+=(node)
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIPPED the browser test: missing ${missing[*]} (install them to run it)."
  exit 77
fi
if [ ! -d "$here/node_modules/playwright-core" ]; then
  (cd "$here" && npm install --no-audit --no-fund --silent) || {
    echo "SKIPPED the browser test: cannot install playwright-core from npm."
    exit 77
  }
fi

site=$(mktemp -d /tmp/morvel-browser-XXXXXX)
port=$((20000 + RANDOM % 20000))
out=$(MORVEL_SITE="$site" MORVEL_SETUP_ONLY=1 "$root/tools/serve.sh" "$build") || {
  echo "$out"; echo "site set-up failed"; exit 1; }
password=$(printf '%s\n' "$out" | sed -n 's/^  password: \([^ ]*\).*/\1/p')
[ -n "$password" ] || { echo "$out"; echo "no administrator password printed"; exit 1; }
# A guest account (MODE 2) for the journeys that need a second kind of
# user, with the administrator's password so that they know it.
printf 'chatguest,Chat guest,1,,%s,0,1,2,1,,,0,\n' "$password" >> "$site/data/user.mst"

MORVEL_SITE="$site" PORT=$port BIND=127.0.0.1 \
  "$(command -v lighttpd || echo /usr/sbin/lighttpd)" -D -f "$root/tools/lighttpd.conf" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$site"' EXIT
for _ in $(seq 50); do
  curl -fs "http://127.0.0.1:$port/cgi-bin/morvel.cgi" >/dev/null 2>&1 && break
  sleep 0.1
done

# The server's own rules: attachments that a browser could run are only
# offered for download, and a query with bytes that are not UTF-8 (as
# Shift_JIS forms send) reaches the program. expect URL LINE...: the answer
# to URL has each header line ("!Name": no header of that name).
expect() {
  local url=$1 h; shift
  h=$(curl -s -o /dev/null -D - "http://127.0.0.1:$port$url" | tr -d '\r')
  for want; do
    case $want in '!'*) ! grep -qi "^${want#!}:" <<<"$h" ;; *) grep -qx "$want" <<<"$h" ;; esac ||
      { echo "$url: \"$want\" fails:"; echo "$h"; exit 1; }
  done
}
printf '<script>x</script>' > "$site/htdocs/morveladd/t.HTML"
printf 'GIF89a' > "$site/htdocs/morveladd/t.gif"
nosniff="X-Content-Type-Options: nosniff"
for u in /morveladd/t.HTML /morveladd/t.HTML/x.gif; do
  expect "$u" "Content-Type: application/octet-stream" "Content-Disposition: attachment" "$nosniff"
done
expect /morveladd/t.gif "Content-Type: image/gif" "$nosniff" '!Content-Disposition'
expect "/cgi-bin/morvel.cgi?SUB=%8C%9F%8D%F5&X=%7F%FF%00" "HTTP/1.1 200 OK"
rm -f "$site/htdocs/morveladd/t.HTML" "$site/htdocs/morveladd/t.gif"

artifacts="$here/artifacts"
rm -rf "$artifacts"
# The main journey first (it posts the messages later journeys look for),
# then each page family's own journey on the same site, in name order;
# MORVEL_SITE names the site's directory for journeys that lay out data.
for j in "$here/journey.mjs" "$here"/journey-*.mjs; do
  [ -f "$j" ] || continue
  echo "journey: $(basename "$j")"
  MORVEL_SITE="$site" timeout 120 node "$j" "http://127.0.0.1:$port" "$password" "$artifacts/$(basename "$j" .mjs)" || exit 1
done

# Once more with the Japanese language file: every GET form then sends
# Shift_JIS bytes in its query.
sed -i 's/^LANGUAGE,[^,]*,/LANGUAGE,japan.lng,/' "$site/cgi-bin/morvel.ini"
echo "journey: japanese.mjs"
timeout 300 node "$here/japanese.mjs" "http://127.0.0.1:$port" "$password" "$artifacts/japanese" || exit 1
