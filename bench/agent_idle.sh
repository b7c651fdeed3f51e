#!/usr/bin/env bash
# The agent's resident memory and CPU over a minute of idle polling (posix-release).
#   bench/agent_idle.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset posix-release >/dev/null
cmake --build --preset posix-release --target QarSnc QarCfg >/dev/null

work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
export QARSNC_HKLM=$work/HKLM.reg XDG_RUNTIME_DIR=$work/run
mkdir -m 0700 "$work/run"
cp build/posix-release/src/QarSnc.exe "$work/"
build/posix-release/src/QarCfg.exe set-connection --create "Provider=SQLite;Data Source=$work/qarsnc.db" >/dev/null

"$work/QarSnc.exe" 2>"$work/agent.log" &
pid=$!
sleep 3  # start-up done: table created, first ticks run

ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$seconds"
after=$(ticks)
rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
cpu=$(awk -v t=$((after - before)) -v hz="$hz" 'BEGIN {printf "%.2f", t / hz}')
pct=$(awk -v t=$((after - before)) -v hz="$hz" -v s="$seconds" 'BEGIN {printf "%.3f", 100 * t / hz / s}')
echo "idle ${seconds} s: cpu ${cpu} s (${pct}% of one core), VmRSS ${rss} KiB, VmHWM ${hwm} KiB"
if [[ -s $work/agent.log ]]; then echo "agent reported:"; cat "$work/agent.log"; fi
