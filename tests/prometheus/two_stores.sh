#!/usr/bin/env bash
# Two stores as head office sees them through Debian's Prometheus: each store with its
# own settings, SQLite database, worker, agent and `QarCfg.exe serve` with a token file
# on 127.0.0.1; a Prometheus of our own (config, data directory, port) scrapes both with
# their bearer tokens, and its HTTP API must show: both targets up, one running agent
# each, a failing worker counted on its own store only, an agent killed with SIGKILL
# as not running within 45 s. /metrics refuses a request without the token, and
# promtool finds nothing to object to in /metrics nor in `QarCfg.exe metrics`.
#   tests/prometheus/two_stores.sh [BIN_DIR]     (default: build/posix/src)
# Everything it starts runs from, and writes only into, one scratch directory, which it
# removes with every process it started, whatever the outcome.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=${1:-$root/build/posix/src}
scratch_parent=${TMPDIR:-$root/build}
[[ $scratch_parent == /tmp || $scratch_parent == /tmp/ ]] && scratch_parent=$root/build
work=$(mktemp -d "$scratch_parent/two-stores.XXXXXX") || exit 1
bound=60  # seconds for any one step to show; a passing run waits far less
pids=()

cleanup() {
  local status=$? pid
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  # The workers the agents started are theirs, not our children: ours by their files.
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    if [[ $(readlink "/proc/$pid/exe" 2>/dev/null) == "$work"/* ]] ||
       tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "$work/"; then
      kill -9 "$pid" 2>/dev/null
    fi
  done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  if ((status != 0)); then
    for log in "$work"/*/*.log "$work"/prometheus.log; do
      [[ -f $log ]] && { echo "--- ${log#$work/}"; tail -n 20 "$log"; }
    done
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() { echo "two_stores: FAILED: $*" >&2; exit 1; }

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# store NAME WORKER: an installation in $work/NAME; WORKER "ok" is the stand-in worker
# that marks its row OK, "failing" a script that exits with status 3.
store() {
  local dir=$work/$1
  mkdir -p "$dir/run" && chmod 0700 "$dir/run"
  cp "$bin/QarSnc.exe" "$bin/QarCfg.exe" "$dir/" || fail "no programs in $bin"
  if [[ $2 == ok ]]; then
    cp "$bin/QarTab.exe" "$dir/" && echo status=OK >"$dir/QarTab.cfg"
  else
    printf '#!/bin/sh\necho "failing on purpose: $*" >&2\nexit 3\n' >"$dir/QarTab.exe" && chmod +x "$dir/QarTab.exe"
  fi
  (umask 077 && head -c 24 /dev/urandom | base64 | tr '+/' '-_' >"$dir/token")
  in_store "$1" "$dir/QarCfg.exe" set-connection --create "Provider=SQLite;Data Source=$dir/store.db" >/dev/null ||
    fail "set-connection in $1"
  # env becomes the program: $! is the agent's own pid.
  env QARSNC_HKLM="$dir/HKLM.reg" XDG_RUNTIME_DIR="$dir/run" "$dir/QarSnc.exe" </dev/null >"$dir/agent.log" 2>&1 &
  pids+=($!) && eval "agent_$1=$!"
  env QARSNC_HKLM="$dir/HKLM.reg" XDG_RUNTIME_DIR="$dir/run" \
    "$dir/QarCfg.exe" serve --listen 127.0.0.1:0 --token-file "$dir/token" </dev/null >"$dir/serve.log" 2>&1 &
  pids+=($!)
}
in_store() {  # in_store NAME PROGRAM ARGS...: with the store's own settings and logon
  local dir=$work/$1 && shift
  QARSNC_HKLM="$dir/HKLM.reg" XDG_RUNTIME_DIR="$dir/run" "$@"
}
serve_address() {  # the host:port that the store's serve printed
  local address
  for ((i = 0; i < bound * 5; i++)); do
    address=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$work/$1/serve.log" 2>/dev/null | head -n 1)
    [[ -n $address ]] && { address=${address#http://}; echo "${address%/}"; return; }
    sleep 0.2
  done
  fail "serve of store $1 printed no address"
}
metrics() {  # metrics NAME [curl options...]: the store's /metrics; the HTTP status on the last line
  local name=$1 && shift
  curl -s --noproxy '*' --max-time 10 -w '\n%{http_code}' "$@" "http://$(eval echo "\$address_$name")/metrics"
}

store a ok
store b failing
address_a=$(serve_address a) && address_b=$(serve_address b)

# Prometheus: its own config, data directory and port, every second.
prom_port=$(free_port)
cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 2s
  scrape_timeout: 2s
  evaluation_interval: 2s
scrape_configs:
  - job_name: qarsnc-a
    authorization: {type: Bearer, credentials_file: $work/a/token}
    static_configs: [{targets: ["$address_a"], labels: {store: a}}]
  - job_name: qarsnc-b
    authorization: {type: Bearer, credentials_file: $work/b/token}
    static_configs: [{targets: ["$address_b"], labels: {store: b}}]
EOF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/prometheus-data" \
  --web.listen-address="127.0.0.1:$prom_port" >"$work/prometheus.log" 2>&1 &
pids+=($!)

# query PROMQL: the values of the instant vector, one "store=value" per line, sorted.
query() {
  curl -s --noproxy '*' --max-time 10 -G "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode "query=$1" |
    python3 -c 'import json, sys
try: result = json.load(sys.stdin)["data"]["result"]
except Exception: sys.exit(0)
print("\n".join(sorted("%s=%s" % (r["metric"].get("store", "?"), r["value"][1]) for r in result)))'
}
# expect PROMQL EXPECTED WHAT: waits until the query gives EXPECTED (lines joined by blanks).
expect() {
  local got
  for ((i = 0; i < bound; i++)); do
    got=$(query "$1" | paste -sd ' ')
    [[ $got == "$2" ]] && { echo "two_stores: $3 ($1: $got)"; return; }
    sleep 1
  done
  fail "$3: $1 gives \"$got\", not \"$2\""
}

expect 'up{job=~"qarsnc-.*"}' 'a=1 b=1' "both stores' targets are up"
expect 'qarsnc_agents{state="running"}' 'a=1 b=1' "each store has one running agent"

# Without the token, or with another store's, /metrics is refused.
[[ $(metrics a | tail -n 1) =~ ^40[13]$ ]] || fail "/metrics answered without the token"
[[ $(metrics a -H "Authorization: Bearer $(cat "$work/b/token")" | tail -n 1) =~ ^40[13]$ ]] ||
  fail "/metrics answered to another store's token"
echo "two_stores: /metrics refuses a request without its store's token"

# A request at each store: a's worker succeeds, b's fails (and is retried).
in_store a "$work/a/QarCfg.exe" enqueue --filial 001 --caixa 01 >/dev/null || fail "enqueue at a"
in_store b "$work/b/QarCfg.exe" enqueue --filial 002 --caixa 01 >/dev/null || fail "enqueue at b"
expect 'clamp_max(qarsnc_worker_runs_total{outcome="ok"}, 1)' 'a=1 b=0' "store a's worker run is counted ok, on a only"
expect 'clamp_max(qarsnc_worker_runs_total{outcome="failed"}, 1)' 'a=0 b=1' "store b's failing worker is counted on b only"

# The exposition, served and printed, as Prometheus' own checker reads it.
metrics a -H "Authorization: Bearer $(cat "$work/a/token")" | sed '$d' >"$work/served.prom"
in_store b "$work/b/QarCfg.exe" metrics >"$work/printed.prom" || fail "QarCfg.exe metrics failed"
for file in served printed; do
  grep -q '^qarsnc_build_info{version=' "$work/$file.prom" || fail "the $file metrics lack qarsnc_build_info"
  problems=$(promtool check metrics <"$work/$file.prom" 2>&1) || fail "promtool check metrics ($file): $problems"
  echo "two_stores: promtool check metrics finds nothing in the $file metrics"
done

# Store a's agent killed outright: it never says goodbye, yet shows as not running.
killed_at=$SECONDS
kill -9 "$agent_a"
expect 'qarsnc_agents{state="running"}' 'a=0 b=1' "store a's agent, killed with SIGKILL, shows as not running"
((SECONDS - killed_at <= 45)) || fail "the killed agent showed as not running only after $((SECONDS - killed_at)) s"
echo "two_stores: passed"
