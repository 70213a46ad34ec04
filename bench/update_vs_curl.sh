#!/usr/bin/env bash
# `qninet update` against the curl program on the same files from one loopback nginx: 1 GiB over
# HTTP and 512 MiB over HTTPS (a certificate of a throw-away CA made here). Each download runs
# RUNS times, alternating the two programs; the table gives the medians of wall time, the
# throughput ratio (curl's time / qninet's time, above 1.0 means qninet is faster) and the
# medians of peak RSS from /usr/bin/time.
#
#   bench/update_vs_curl.sh [path/to/qninet] [runs]
#
# With QNINET_BEFORE=path/to/another/qninet (say a build of the previous commit) that program
# runs in the same rounds and gets rows of its own, so a change is measured under the same load.
#
# The files hold random bytes made once per run of the script (from /dev/urandom, then page
# cached); both programs write to the same folder of the same disk. Goals: ratio >= 1.0 on both,
# qninet's peak RSS at most curl's + 2 MiB, and flat: an 8 GiB sparse file downloads within 1 MiB
# of the 1 GiB file's peak. Needs nginx, openssl, curl and /usr/bin/time.
set -euo pipefail

QNINET=${1:-${QNINET:-build/release/tools/qninet/qninet}}
RUNS=${2:-3}
[ -x "$QNINET" ] || { echo "no qninet program at $QNINET (give its path)" >&2; exit 2; }
QNINET=$(realpath "$QNINET")
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
OUT_DIR=${OUT_DIR:-}
BEFORE=${QNINET_BEFORE:-}
[ -z "$BEFORE" ] || BEFORE=$(realpath "$BEFORE")

WORK=$(mktemp -d "${TMPDIR:-/tmp}/qninet-vs-curl.XXXXXX")
NGINX_PID=
cleanup() {
  if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
PORT=$(free_port)
TLS_PORT=$(free_port)
mkdir -p "$WORK/root" "$WORK/logs" "$WORK/ca"
OUT=${OUT_DIR:-$WORK/out}
mkdir -p "$OUT"
chmod 755 "$WORK" "$WORK/root"  # nginx workers may run as another user

# A CA and a server certificate for 127.0.0.1, as the tests' CA makes them (P-256).
(
  cd "$WORK/ca"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj /CN=bench-ca -keyout ca.key -out ca.crt 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj /CN=127.0.0.1 \
    -keyout server.key -out server.csr 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' > ext.cnf
  openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
    -extfile ext.cnf -out server.crt 2>/dev/null
  chmod 644 ./*
)

cat > "$WORK/nginx.conf" <<EOF
worker_processes 1;
pid $WORK/nginx.pid;
error_log $WORK/logs/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $WORK/tmp-body;
  proxy_temp_path $WORK/tmp-proxy;
  fastcgi_temp_path $WORK/tmp-fcgi;
  uwsgi_temp_path $WORK/tmp-uwsgi;
  scgi_temp_path $WORK/tmp-scgi;
  sendfile on;
  tcp_nopush on;
  server {
    listen 127.0.0.1:$PORT;
    listen 127.0.0.1:$TLS_PORT ssl;
    ssl_certificate $WORK/ca/server.crt;
    ssl_certificate_key $WORK/ca/server.key;
    root $WORK/root;
  }
}
EOF
head -c $((1024 * 1024 * 1024)) /dev/urandom > "$WORK/root/one.bin"
head -c $((512 * 1024 * 1024)) "$WORK/root/one.bin" > "$WORK/root/half.bin"
truncate -s 8G "$WORK/root/eight.bin"
chmod 644 "$WORK/root/"*.bin
"$NGINX" -p "$WORK" -c "$WORK/nginx.conf" -g 'daemon off;' &
NGINX_PID=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$PORT/" && break; sleep 0.1; done
cat "$WORK/root/one.bin" "$WORK/root/half.bin" > /dev/null

# Runs a command under /usr/bin/time; prints "seconds peak_kib".
measure() {
  local log="$WORK/time.log"
  /usr/bin/time -f '%e %M' -o "$log" "$@" > /dev/null 2> "$WORK/stderr.log" || {
    echo "failed: $*" >&2; cat "$WORK/stderr.log" >&2; exit 1; }
  cat "$log"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Prints one table row from NAME and the lists of times and peak RSS of the program and curl.
# shellcheck disable=SC2086  # the lists are split into their numbers on purpose
print_row() {
  local name=$1 tq=$2 rq=$3 tc=$4 rc=$5 mq mc
  mq=$(median $tq); mc=$(median $tc)
  printf '| %s | %.2f s | %.2f s | %.2f | %.1f / %.1f MiB |\n' "$name" "$mq" "$mc" \
    "$(echo "$mc / $mq" | bc -l)" "$(echo "$(median $rq) / 1024" | bc -l)" "$(echo "$(median $rc) / 1024" | bc -l)"
  echo "  runs: $tq s, $rq KiB; curl: $tc s, $rc KiB" >&2
}

# One row (two with a BEFORE program): NAME URL SOURCE_FILE
row() {
  local name=$1 url=$2 src=$3 tq="" rq="" tb="" rb="" tc="" rc="" t r
  for _ in $(seq "$RUNS"); do
    rm -f "$OUT/"*
    read -r t r < <(measure "$QNINET" update --quiet --cacert "$WORK/ca/ca.crt" "$url" "$OUT/q.bin")
    cmp -s "$OUT/q.bin" "$src" || { echo "qninet's copy of $url differs" >&2; exit 1; }
    tq="$tq $t"; rq="$rq $r"
    if [ -n "$BEFORE" ]; then
      rm -f "$OUT/"*
      read -r t r < <(measure "$BEFORE" update --quiet --cacert "$WORK/ca/ca.crt" "$url" "$OUT/q.bin")
      tb="$tb $t"; rb="$rb $r"
    fi
    rm -f "$OUT/"*
    read -r t r < <(measure curl -s --cacert "$WORK/ca/ca.crt" -o "$OUT/c.bin" "$url")
    tc="$tc $t"; rc="$rc $r"
  done
  rm -f "$OUT/"*
  [ -z "$BEFORE" ] || print_row "$name (before)" "$tb" "$rb" "$tc" "$rc"
  print_row "$name" "$tq" "$rq" "$tc" "$rc"
  PEAK_KIB=$(median $rq)  # the program's peak, for the flatness check below
}

echo "medians of $RUNS runs, $(curl --version | head -1 | cut -d' ' -f1-3)"
echo '| transfer | qninet | curl | ratio | peak RSS qninet / curl |'
echo '|---|---|---|---|---|'
row "1 GiB over HTTP" "http://127.0.0.1:$PORT/one.bin" "$WORK/root/one.bin"
peak1=$PEAK_KIB
row "512 MiB over HTTPS" "https://127.0.0.1:$TLS_PORT/half.bin" "$WORK/root/half.bin"

# Memory stays flat whatever the size: 8 GiB (sparse, so no disk is read) against the 1 GiB peak.
rm -f "$OUT/"*
read -r t8 r8 < <(measure "$QNINET" update --quiet "http://127.0.0.1:$PORT/eight.bin" "$OUT/e.bin")
size8=$(stat -c %s "$OUT/e.bin")
rm -f "$OUT/"*
[ "$size8" -eq $((8 * 1024 * 1024 * 1024)) ] || { echo "the 8 GiB download has $size8 bytes" >&2; exit 1; }
printf 'peak RSS over HTTP: 1 GiB %d KiB, 8 GiB %d KiB (%.1f s); difference %d KiB (goal < 1024)\n' \
  "$peak1" "$r8" "$t8" "$((r8 > peak1 ? r8 - peak1 : peak1 - r8))"
