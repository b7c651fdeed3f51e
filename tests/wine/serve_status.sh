#!/usr/bin/env bash
# The Windows build's `QarCfg.exe serve` under Wine, asked from the host: /api/status
# answers with the token serve made (header or Bearer) in the status form with the
# queue of its own database; no token, and a foreign Host, are refused; requests are
# answered side by side. Uses $WINEPREFIX (a throw-away prefix) and build/windows/serve-check.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
wine=/usr/lib/wine/wine64
dir=$root/build/windows/serve-check
rm -rf "$dir" && mkdir -p "$dir" && cp "$root/build/windows/src/QarCfg.exe" "$dir/" || exit 1
cd "$dir"
export WINEDEBUG=-all
fail() { echo "serve_status: $*"; [[ -n ${pid:-} ]] && kill "$pid" 2>/dev/null; cat serve.out 2>/dev/null; exit 1; }

# Relative: the host's SQLite ODBC driver resolves it in this directory.
"$wine" ./QarCfg.exe set-connection "Provider=SQLite;Data Source=serve_check.db" --create >/dev/null || fail "set-connection failed"
"$wine" ./QarCfg.exe enqueue --filial 001 --caixa 01 >/dev/null || fail "enqueue failed"
"$wine" ./QarCfg.exe serve --listen 127.0.0.1:0 >serve.out 2>&1 &
pid=$!
url=
for _ in $(seq 1 300); do  # the first start of a prefix takes a while
  url=$(grep -o 'http://127\.0\.0\.1:[0-9]\+/' serve.out 2>/dev/null | head -n 1)
  [[ -n $url ]] && break
  kill -0 "$pid" 2>/dev/null || fail "serve ended before it served"
  sleep 0.2
done
[[ -n $url ]] || fail "serve printed no address"
token=$(grep -o '?token=[0-9a-f]\{64\}' serve.out | head -n 1 | cut -d= -f2)
[[ -n $token ]] || fail "serve printed no address with its token"
ask() { curl -s --noproxy 127.0.0.1 --max-time 20 "$@"; }
status=$(ask -H "X-Qar-Token: $token" "${url}api/status") || fail "no answer from ${url}api/status"
[[ $status == *'"version":1'* && $status == *'"pendingToday":1'* ]] || fail "unexpected status: $status"
code=$(ask -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $token" "${url}api/requests")
[[ $code == 200 ]] || fail "the Bearer token was answered $code"
code=$(ask -o /dev/null -w '%{http_code}' "${url}api/status")
[[ $code == 401 ]] || fail "a request without the token was answered $code"
code=$(ask -o /dev/null -w '%{http_code}' -H "X-Qar-Token: $token" -H 'Host: rebound.example' "${url}api/status")
[[ $code != 200 ]] || fail "a foreign Host was answered"
# Requests at once, of pages that read one database or both.
codes=$(for _ in 1 2 3 4; do for page in requests api/status requests/1/cancel; do
  ask -o /dev/null -w '%{http_code}\n' -H "X-Qar-Token: $token" "${url}$page" & done; done; wait)
[[ $(grep -c '^200$' <<<"$codes") == 12 ]] || fail "of 12 requests at once: $(sort <<<"$codes" | uniq -c | xargs)"
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
echo "serve_status: ${url}api/status answered from the host with the token; none and a foreign Host refused"
