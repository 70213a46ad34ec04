#!/usr/bin/env bash
# Downloads from a loopback nginx with `qninet update` and with `curl -s -o`, side by side,
# and reports the throughput ratio and the peak resident memory of each.
#
#   bench/update_bench.sh [path/to/qninet] [runs]
#
# Goals: qninet's throughput at least 0.9 x curl's; peak RSS under 16 MiB and within 1 MiB
# between a 1 GiB file and an 8 GiB sparse file. Needs nginx, curl and /usr/bin/time.
set -euo pipefail

QNINET=${1:-${QNINET:-build/bench/tools/qninet/qninet}}
RUNS=${2:-5}
[ -x "$QNINET" ] || { echo "no qninet program at $QNINET (give its path)" >&2; exit 2; }
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/qninet-update-bench.XXXXXX")
NGINX_PID=
cleanup() {
  if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$WORK/root" "$WORK/logs" "$WORK/out"
chmod 755 "$WORK" "$WORK/root"  # nginx workers may run as another user
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
  server { listen 127.0.0.1:$PORT; root $WORK/root; }
}
EOF
# 1 GiB of real bytes (page-cached after the first read) and an 8 GiB sparse file.
head -c $((1024 * 1024 * 1024)) /dev/urandom > "$WORK/root/one.bin"
truncate -s 8G "$WORK/root/eight.bin"
chmod 644 "$WORK/root/"*.bin
"$NGINX" -p "$WORK" -c "$WORK/nginx.conf" -g 'daemon off;' &
NGINX_PID=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$PORT/" && break; sleep 0.1; done
cat "$WORK/root/one.bin" > /dev/null

URL1="http://127.0.0.1:$PORT/one.bin"
URL8="http://127.0.0.1:$PORT/eight.bin"

# Runs a command under /usr/bin/time; prints "seconds peak_kib".
measure() {
  local log="$WORK/time.log"
  /usr/bin/time -v -o "$log" "$@" > /dev/null 2> "$WORK/stderr.log" || {
    echo "failed: $*" >&2; cat "$WORK/stderr.log" >&2; exit 1; }
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$log" | awk -F: '{ if (NF==3) print $1*3600+$2*60+$3; else print $1*60+$2 }')
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  echo "$wall $rss"
}

echo "1 GiB from loopback nginx, $RUNS runs each (times in seconds, peak RSS in KiB)"
printf '%-4s %10s %10s %10s %10s\n' run qninet_s curl_s qninet_kib curl_kib
sum_q=0; sum_c=0; max_rss_q=0
for i in $(seq "$RUNS"); do
  rm -f "$WORK/out/"*
  read -r tq rq < <(measure "$QNINET" update --quiet "$URL1" "$WORK/out/q.bin")
  cmp -s "$WORK/out/q.bin" "$WORK/root/one.bin" || { echo "qninet's copy differs" >&2; exit 1; }
  rm -f "$WORK/out/"*
  read -r tc rc < <(measure curl -s -o "$WORK/out/c.bin" "$URL1")
  rm -f "$WORK/out/"*
  printf '%-4s %10s %10s %10s %10s\n' "$i" "$tq" "$tc" "$rq" "$rc"
  sum_q=$(echo "$sum_q + $tq" | bc -l); sum_c=$(echo "$sum_c + $tc" | bc -l)
  [ "$rq" -gt "$max_rss_q" ] && max_rss_q=$rq
done
ratio=$(echo "$sum_c / $sum_q" | bc -l)
mib=$((1024 * 1024))
printf 'throughput: qninet %.0f MiB/s, curl %.0f MiB/s, ratio %.2f (goal >= 0.90)\n' \
  "$(echo "$RUNS * 1024 / $sum_q" | bc -l)" "$(echo "$RUNS * 1024 / $sum_c" | bc -l)" "$ratio"

rm -f "$WORK/out/"*
read -r t8 r8 < <(measure "$QNINET" update --quiet "$URL8" "$WORK/out/e.bin")
size8=$(stat -c %s "$WORK/out/e.bin")
rm -f "$WORK/out/"*
[ "$size8" -eq $((8 * 1024 * mib)) ] || { echo "8 GiB download has $size8 bytes" >&2; exit 1; }
printf 'peak RSS: 1 GiB %d KiB (max of runs), 8 GiB %d KiB in %.1f s; difference %d KiB (goals: < 16384, < 1024)\n' \
  "$max_rss_q" "$r8" "$t8" "$((r8 > max_rss_q ? r8 - max_rss_q : max_rss_q - r8))"
