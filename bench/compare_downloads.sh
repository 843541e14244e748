#!/usr/bin/env bash
# Times downloads through the program (bench/fetch_urls: the file download job over a
# collection table, as the window runs it, and the bare transfer engine) and through
# curl --parallel --parallel-max 8, side by side in one run, from servers on
# 127.0.0.1 only, and prints medians with the ratio to curl, the peak memory and,
# for our runs, the peak above the driver's idle peak:
#   delayed: 300 x 16 KB, each answer delayed by 50 ms (a small Python server that sleeps per answer)
#   big: 20 x 20 MB, small: 3,000 x 16 KB, huge: 1 x 1 GB, from nginx
# Every downloaded file's size is checked. Files live in /dev/shm.
#   bench/compare_downloads.sh [Release build folder with SKARVEL_BUILD_BENCH=ON] [rounds] [cases]
# cases: a comma-separated choice of delayed,big,small,huge (all by default).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build-rel}"
rounds="${2:-3}"
cases="${3:-delayed,big,small,huge}"
driver="$build/bench/fetch_urls"
[ -x "$driver" ] || { echo "no $driver: build the fetch_urls target (Release, SKARVEL_BUILD_BENCH=ON)" >&2; exit 1; }
command -v nginx >/dev/null || { echo "nginx is missing" >&2; exit 1; }

work="$(mktemp -d /dev/shm/skarvel-downloads.XXXXXX)"
chmod 755 "$work" # nginx workers run as another user
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# ------------------------------------------------------------------ content
site="$work/site"
mkdir -p "$site/small" "$site/big"
want() { [[ ",$cases," == *",$1,"* ]]; }
copies() { # source count: source's copies 1.bin .. count.bin beside it
  python3 -c 'import sys, shutil, os
src, n = sys.argv[1], int(sys.argv[2])
for i in range(1, n + 1):
    shutil.copyfile(src, os.path.join(os.path.dirname(src), "%d.bin" % i))' "$1" "$2"
}
if want small; then head -c 16384 /dev/urandom >"$site/small/0"; copies "$site/small/0" 3000; fi
if want big; then head -c $((20 * 1024 * 1024)) /dev/urandom >"$site/big/0"; copies "$site/big/0" 20; fi
if want huge; then head -c $((1024 * 1024 * 1024)) /dev/zero >"$site/huge.bin"; fi
chmod -R a+rX "$site"

# ------------------------------------------------------------------ servers
nginx_port="$(free_port)"
mkdir -p "$work/nginx/logs" "$work/nginx/tmp"
cat >"$work/nginx/nginx.conf" <<EOF
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  client_body_temp_path $work/nginx/tmp;
  proxy_temp_path $work/nginx/tmp;
  fastcgi_temp_path $work/nginx/tmp;
  uwsgi_temp_path $work/nginx/tmp;
  scgi_temp_path $work/nginx/tmp;
  server {
    listen 127.0.0.1:$nginx_port;
    root $site;
  }
}
EOF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
pids+=($!)

delay_port="$(free_port)"
python3 - "$delay_port" <<'PY' &
import asyncio, sys
body = b"d" * 16384
head = b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 16384\r\n\r\n"
async def serve(reader, writer):
    try:
        while True:
            request = await reader.readuntil(b"\r\n\r\n")
            if not request:
                break
            await asyncio.sleep(0.05)
            writer.write(head + body)
            await writer.drain()
    except (asyncio.IncompleteReadError, ConnectionError):
        pass
    finally:
        writer.close()
async def main():
    server = await asyncio.start_server(serve, "127.0.0.1", int(sys.argv[1]), backlog=1024)
    async with server:
        await server.serve_forever()
asyncio.run(main())
PY
pids+=($!)
for port in "$nginx_port" "$delay_port"; do
  for _ in $(seq 1 50); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && break || sleep 0.1
  done
done

# ------------------------------------------------------------------ lists
make_list() { # name base count suffix
  local list="$work/$1.list" cfg="$work/$1.curl"
  : >"$list"; : >"$cfg"
  for i in $(seq 1 "$3"); do
    echo "$2/$i$4" >>"$list"
    printf 'url = "%s/%s%s"\noutput = "%s.bin"\n' "$2" "$i" "$4" "$i" >>"$cfg"
  done
}
make_list delayed "http://127.0.0.1:$delay_port/item" 300 ""
make_list big "http://127.0.0.1:$nginx_port/big" 20 ".bin"
make_list small "http://127.0.0.1:$nginx_port/small" 3000 ".bin"
echo "http://127.0.0.1:$nginx_port/huge.bin" >"$work/huge.list"
printf 'url = "http://127.0.0.1:%s/huge.bin"\noutput = "1.bin"\n' "$nginx_port" >"$work/huge.curl"

# ------------------------------------------------------------------ runs
check_sizes() { # dir count size
  local n
  n="$(find "$1" -type f -size "$3"c | wc -l)"
  if [ "$n" != "$2" ]; then echo "size check failed in $1: $n of $2 files have $3 bytes" >&2; exit 1; fi
}

# prints "seconds max_rss_kib peak_over_idle_kib"
run_ours() { # list out parallel per_host job
  /usr/bin/time -f '%e %M' -o "$work/time" "$driver" --list "$1" --out "$2" --parallel "$3" --per-host "$4" \
    --job "$5" >"$work/driver.out"
  local over
  over="$(sed -E 's/.*vmhwm_kib=([0-9]+) idle_vmhwm_kib=([0-9]+).*/\1 \2/' "$work/driver.out" | awk '{print $1-$2}')"
  echo "$(cat "$work/time") $over"
}
run_curl() { # cfg out
  (cd "$2" && /usr/bin/time -f "%e %M" -o "$work/time" curl -s --fail --parallel --parallel-max 8 -K "$1" 2>/dev/null)
  echo "$(cat "$work/time") -"
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf '%-32s %-26s %8s %10s %12s %7s\n' "case (median of $rounds rounds)" "client" "seconds" "peak KiB" "+idle KiB" "ratio"
scenario() { # label list cfg count size
  local label="$1" list="$2" cfg="$3" count="$4" size="$5"
  declare -A times rss over
  local clients=("curl --parallel-max 8" "skarvel file job, 6/host" "skarvel file job, 8/host"
                 "skarvel engine, 6/host" "skarvel engine, 8/host")
  for c in "${clients[@]}"; do times[$c]=""; rss[$c]=""; over[$c]=""; done
  for r in $(seq 1 "$rounds"); do
    for c in "${clients[@]}"; do
      out="$work/out"; rm -rf "$out"; mkdir -p "$out"; sync
      case "$c" in
        curl*) res="$(run_curl "$cfg" "$out")" ;;
        *"file job, 6/host") res="$(run_ours "$list" "$out" 8 6 files)" ;;
        *"file job, 8/host") res="$(run_ours "$list" "$out" 8 8 files)" ;;
        *"engine, 6/host") res="$(run_ours "$list" "$out" 8 6 engine)" ;;
        *) res="$(run_ours "$list" "$out" 8 8 engine)" ;;
      esac
      check_sizes "$out" "$count" "$size"
      read -r t m o <<<"$res"
      times[$c]+="$t"$'\n'
      rss[$c]+="$m"$'\n'
      over[$c]+="$o"$'\n'
    done
  done
  local base
  base="$(printf '%s' "${times["curl --parallel-max 8"]}" | median)"
  for c in "${clients[@]}"; do
    local t m o
    t="$(printf '%s' "${times[$c]}" | median)"
    m="$(printf '%s' "${rss[$c]}" | median)"
    case "$c" in curl*) o="-" ;; *) o="$(printf '%s' "${over[$c]}" | median)" ;; esac
    printf '%-32s %-26s %8s %10s %12s %7s\n' "$label" "$c" "$t" "$m" "$o" "$(awk -v a="$t" -v b="$base" 'BEGIN{printf "%.2f", (b>0? a/b : 0)}')"
  done
}

want delayed && scenario "300 x 16 KB, 50 ms per answer" "$work/delayed.list" "$work/delayed.curl" 300 16384
want big && scenario "20 x 20 MB, loopback" "$work/big.list" "$work/big.curl" 20 $((20 * 1024 * 1024))
want small && scenario "3000 x 16 KB, loopback" "$work/small.list" "$work/small.curl" 3000 16384
want huge && scenario "1 x 1 GB, loopback" "$work/huge.list" "$work/huge.curl" 1 $((1024 * 1024 * 1024))
true
