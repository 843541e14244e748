#!/usr/bin/env bash
# skarvel-service.exe under Wine answers get_images.php for a page of a site on
# 127.0.0.1 (served by Python here): every picture of the page comes back as a
# record. Needs SYSROOT and BUILD. SKARVEL_SERVICE_EXE names an installed copy
# instead, which must then run on the DLLs beside it alone.
set -euo pipefail
: "${SYSROOT:?}" "${BUILD:?}"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
service_exe=$BUILD/service/skarvel-service.exe
if [ -n "${SKARVEL_SERVICE_EXE:-}" ]; then
  service_exe=$SKARVEL_SERVICE_EXE
  export WINEPATH=""
fi
work=$(mktemp -d)
site_pid="" service_pid=""
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  [ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/site/img"
cat >"$work/site/page.html" <<'HTML'
<html><head><title>Birds</title></head><body>
<img src="img/heron.jpg" alt="Heron" title="Grey heron">
<p><img src="/img/wren.png" alt="Wren"></p>
<a href="img/owl.gif"><img src="img/owl-small.gif"></a>
</body></html>
HTML
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
site_port=$(free_port)
python3 -m http.server "$site_port" --bind 127.0.0.1 --directory "$work/site" >"$work/site.log" 2>&1 &
site_pid=$!
service_port=$(free_port)
wine "$service_exe" --host 127.0.0.1 --port "$service_port" >"$work/service.out" 2>&1 &
service_pid=$!

# Wine takes a few seconds to start a process: wait for the service to answer.
deadline=$((SECONDS + 120))
until curl -sf "http://127.0.0.1:$service_port/health" >/dev/null; do
  if [ $SECONDS -gt $deadline ] || ! kill -0 "$service_pid" 2>/dev/null; then
    echo "check-service: skarvel-service.exe did not come up" >&2
    cat "$work/service.out" >&2
    exit 1
  fi
  sleep 0.5
done
page="http://127.0.0.1:$site_port/page.html"
answer=$(curl -sf "http://127.0.0.1:$service_port/products/skarvel/scripts/get_images.php?url=$page")
printf '%s\n' "$answer" | tr -d '\r' >"$work/answer.txt"
echo "check-service: get_images.php for $page answered:"
cat "$work/answer.txt"
missing=0
for picture in img/heron.jpg img/wren.png img/owl-small.gif; do
  grep -q "^http://127.0.0.1:$site_port/$picture"$'\t' "$work/answer.txt" || {
    echo "check-service: no record for $picture" >&2
    missing=1
  }
done
grep -q $'\tHeron\t' "$work/answer.txt" || { echo "check-service: the Alt text is missing" >&2; missing=1; }
[ $missing -eq 0 ] && echo "check-service: passed ($service_exe under Wine)"
exit $missing
