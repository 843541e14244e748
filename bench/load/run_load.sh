#!/usr/bin/env bash
# Load run of the page-analysis service on this machine: a local site that
# answers every page after a delay (bench_slow_site), skarvel-service with its
# default limits, wrk from Debian. Prints pages per second and the 50th/99th
# percentile latency for one instance and for two instances behind nginx (the
# shipped configuration), then a fault run: two instances behind nginx, one
# killed with SIGKILL a third into the run; every answer is checked.
#   bench/load/run_load.sh [build folder, Release with SKARVEL_BUILD_BENCH=ON]
# Environment: DURATION (seconds per run, 8), DELAY_MS (site delay, 50),
#   CLIENTS_ONE ("1 16 64 128 256"), CLIENTS_TWO ("1 16 64"), SERVICE_ARGS (extra options).
# Only loopback traffic; every process it starts is ended on exit.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$here/../.."
build="${1:-$root/build-rel}"
duration="${DURATION:-8}"
delay="${DELAY_MS:-50}"
clients_one="${CLIENTS_ONE:-1 16 64 128 256}"
clients_two="${CLIENTS_TWO:-1 16 64}"
service="$build/service/skarvel-service"
site_bin="$build/bench/bench_slow_site"
for f in "$service" "$site_bin"; do
  [ -x "$f" ] || { echo "no $f: build skarvel-service and bench_slow_site (-DSKARVEL_BUILD_BENCH=ON)" >&2; exit 1; }
done
command -v wrk >/dev/null || { echo "wrk is missing (scripts/install-deps.sh)" >&2; exit 1; }

work="$(mktemp -d /dev/shm/skarvel-load.XXXXXX)"
# every process started here leaves its pid in $work/*.pid (start_port runs in a subshell)
cleanup() {
  for f in "$work"/*.pid; do
    [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null || true
  done
  sleep 0.3
  rm -rf "$work"
}
trap cleanup EXIT

# start_port NAME COMMAND...: starts a program that prints its port, echoes the port
start_port() {
  local name="$1"; shift
  "$@" >"$work/$name.port" 2>"$work/$name.log" &
  echo "$!" >"$work/$name.pid"
  for _ in $(seq 100); do
    [ -s "$work/$name.port" ] && { head -1 "$work/$name.port"; return; }
    sleep 0.05
  done
  echo "$name did not start" >&2; exit 1
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# start_nginx PORT_A PORT_B: nginx with the shipped configuration, echoes its port
start_nginx() {
  local port; port="$(free_port)"
  local conf="$work/nginx-$port"
  mkdir -p "$conf"
  awk -v listen="$port" -v a="$1" -v b="$2" '
    /listen 8080;/ { sub(/listen 8080;/, "listen 127.0.0.1:" listen ";") }
    /server 127\.0\.0\.1:[0-9]+/ { n++; sub(/127\.0\.0\.1:[0-9]+/, "127.0.0.1:" (n == 1 ? a : b)) }
    { print }' "$root/deploy/nginx/skarvel-service.conf" >"$conf/skarvel-service.conf"
  {
    [ "$(id -u)" = 0 ] && echo "user root root;"
    cat <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $conf/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $conf/body; proxy_temp_path $conf/proxy; fastcgi_temp_path $conf/fcgi;
  uwsgi_temp_path $conf/uwsgi; scgi_temp_path $conf/scgi;
  include $conf/skarvel-service.conf;
}
CONF
  } >"$conf/nginx.conf"
  /usr/sbin/nginx -p "$conf" -c "$conf/nginx.conf" -e "$conf/error.log"
  for _ in $(seq 100); do
    curl -fs "http://127.0.0.1:$port/health" >/dev/null 2>&1 && { echo "$port"; return; }
    sleep 0.05
  done
  echo "nginx did not answer" >&2; exit 1
}

stop_nginx() { kill -QUIT "$(cat "$work/nginx.pid")"; sleep 0.5; rm -f "$work/nginx.pid"; }

site_port="$(start_port site "$site_bin" --delay-ms "$delay")"
site="http://127.0.0.1:$site_port"
# shellcheck disable=SC2086
a_port="$(start_port a "$service" --port 0 ${SERVICE_ARGS:-})"
# shellcheck disable=SC2086
b_port="$(start_port b "$service" --port 0 ${SERVICE_ARGS:-})"
expected="$(curl -fs "http://127.0.0.1:$a_port/products/skarvel/scripts/get_images.php?url=$site/page/probe.html" | grep -c $'\r$')"

# run LABEL PORT CLIENTS [seconds]: one wrk run, one table row
run() {
  local threads=2; [ "$3" -lt 2 ] && threads=1
  local line
  line="$(wrk -t"$threads" -c"$3" -d"${4:-$duration}s" --timeout 10s -s "$here/harvest.lua" \
            "http://127.0.0.1:$2" -- "$site" "$expected" | grep '^RESULT')"
  read -r _ requests seconds p50 p99 non2xx errors wrong <<<"$line"
  printf '%-26s %7d %10.1f %9.1f %9.1f %8d %8d %7d\n' "$1" "$3" \
    "$(awk -v r="$requests" -v n="$non2xx" -v s="$seconds" 'BEGIN { print (r - n) / s }')" \
    "$p50" "$p99" "$non2xx" "$errors" "$wrong"
}

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); site delay ${delay} ms; ${expected} records per page"
echo "service options: ${SERVICE_ARGS:-none (32 threads, 128 requests in progress)}; ${duration} s per run"
# pages/s: pages analysed (200) per second; p50/p99 over all answers; non-2xx: 503s of a full
# service; errors: connections broken (wrk); wrong: answers neither 503 nor 200 with every record
printf '%-26s %7s %10s %9s %9s %8s %8s %7s\n' setup clients pages/s "p50 ms" "p99 ms" non-2xx errors wrong
for c in $clients_one; do run "one instance" "$a_port" "$c"; done
nginx_port="$(start_nginx "$a_port" "$b_port")"
for c in $clients_two; do run "two instances, nginx" "$nginx_port" "$c"; done

# fault run: instance a killed a third into the run; nginx must move its work to b
( sleep "$(awk -v d="$duration" 'BEGIN { print d / 3 }')"; kill -KILL "$(cat "$work/a.pid")" ) &
run "two, one killed (fault)" "$nginx_port" 16
wait "$!" 2>/dev/null || true
echo "fault run: instance a killed; the nginx error log shows the moved requests:"
grep -c 'while connecting to upstream\|prematurely closed\|while reading response header' "$work"/nginx-*/error.log | sed 's/^/  /'
stop_nginx
