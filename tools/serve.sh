#!/usr/bin/env bash
# Lays out a local site in ./site (or $MORVEL_SITE) and runs the board on
# lighttpd in the foreground: http://127.0.0.1:$PORT/ (default 8080).
# Running it again keeps every user, message and setting.
set -euo pipefail

build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
site=${MORVEL_SITE:-$root/site}
port=${PORT:-8080}
bind=${BIND:-127.0.0.1}
setup_only=${MORVEL_SETUP_ONLY:-}

if ! command -v lighttpd >/dev/null 2>&1 && [ ! -x /usr/sbin/lighttpd ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "Installing lighttpd..."
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq lighttpd >/dev/null
    # The package starts a system-wide server on port 80; this board runs its own.
    (systemctl stop lighttpd || service lighttpd stop || pkill -x lighttpd) >/dev/null 2>&1 || true
  else
    echo "lighttpd is missing. Install it with:"
    echo "  sudo apt-get install lighttpd"
    exit 1
  fi
fi
LIGHTTPD=$(command -v lighttpd || echo /usr/sbin/lighttpd)

mkdir -p "$site/cgi-bin" "$site/data" "$site/htdocs/morvelpic" "$site/htdocs/morveladd"
chmod 700 "$site/data"
install -m 755 "$build/morvel.cgi" "$site/cgi-bin/morvel.cgi"
cp site-files/lang/*.lng "$site/cgi-bin/"
for f in site-files/pic/*; do
  [ -f "$f" ] || continue
  case "$f" in *.py|*.sh|*.txt) continue ;; esac
  cp "$f" "$site/htdocs/morvelpic/"
done

ini="$site/cgi-bin/morvel.ini"
if [ ! -f "$ini" ]; then
  # Root-relative picture and attachment URLs work whatever host name the
  # browser used to reach the server.
  cat > "$ini" <<INI
LANGUAGE,english.lng,
CG_FILE_PATH,$site/htdocs/morvelpic/,
CG_FILE_WEB_PATH,/morvelpic/,
DATA_FILE_PATH,$site/data/,
ADD_FILE_PATH,$site/htdocs/morveladd/,
ADD_FILE_WEB_PATH,/morveladd/,
LOGIN_GIF,title.jpg,
BACK_GIF,back.gif,
LOG_DATE,365,
DATETIME,1,
IECOLS,80,
NSCOLS,60,
ROWS,8,
MYDATA,0,
MAX_CONTENTS,4000,
FRAME_DIVIDE,20,
INI
fi

# The first administrator and a small demo tree, made by the board's own
# store code; both steps do nothing when users or folders exist.
(cd "$site/cgi-bin" && "$build/morvel-admin" "$ini" init)

[ -n "$setup_only" ] && exit 0

echo
echo "Morvel is running: open http://$bind:$port/  (Ctrl-C stops it)"
echo "Site: $site   data: $site/data"
export MORVEL_SITE="$site" PORT="$port" BIND="$bind"
exec "$LIGHTTPD" -D -f "$root/tools/lighttpd.conf"
