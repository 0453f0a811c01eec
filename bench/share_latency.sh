#!/usr/bin/env bash
# Measures a share from the command line to the phone: `ferrytide-cli share FILE --to NAME`
# with `ferrytide --headless` running, until the phone emulator has the whole file on its disk.
# One warm-up, then the median, min and max of the measured runs. Loopback only, with a
# session bus of its own; everything it starts or creates is removed on exit.
set -euo pipefail
shopt -s inherit_errexit

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$root/build" runs=5 kib=256

usage() {
  cat <<EOF
Usage: bench/share_latency.sh [--build DIR] [--runs N] [--kib N]
  --build DIR  build folder holding the programs (default: build)
  --runs N     measured runs after one warm-up run (default: 5)
  --kib N      size of the shared file in KiB (default: 256)
EOF
}

die() { echo "share_latency.sh: $*" >&2; exit 1; }
positive() { [[ $2 =~ ^[1-9][0-9]*$ ]] || die "$1 takes a positive whole number, not \"$2\""; }

while [ $# -gt 0 ]; do
  case $1 in
    --build) build_dir=$(realpath -m "${2:?--build takes a folder}"); shift 2 ;;
    --runs) positive "$1" "${2:-}"; runs=$2; shift 2 ;;
    --kib) positive "$1" "${2:-}"; kib=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; die "unknown option $1" ;;
  esac
done

# Re-run inside a session bus of our own, so that the daemon's bus name is ours alone.
if [ -z "${FERRYTIDE_BENCH_BUS:-}" ]; then
  command -v dbus-run-session >/dev/null || die "dbus-run-session is missing (dbus-daemon)"
  FERRYTIDE_BENCH_BUS=1 exec dbus-run-session -- "$0" --build "$build_dir" --runs "$runs" --kib "$kib"
fi

cli_bin="$build_dir/src/cli/ferrytide-cli"
phone_bin="$build_dir/tools/phone/ferrytide-phone"
app_bin="$build_dir/src/app/ferrytide"
cmake --build "$build_dir" --parallel 2 --target ferrytide ferrytide-cli ferrytide-phone >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/ferrytide-share-bench.XXXXXX")
background_pids=()
cleanup() {
  for pid in "${background_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "${FERRYTIDE_BENCH_KEEP:-}" ] && echo "kept $work" >&2 && return
  rm -rf "$work"
}
trap cleanup EXIT

now_ns() { date +%s%N; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_until() {  # SECONDS WHAT COMMAND...
  local deadline=$((SECONDS + $1)) what=$2
  shift 2
  until "$@"; do
    [ $SECONDS -lt $deadline ] || die "timed out waiting for $what"
    sleep 0.002
  done
}
median() { tr ' ' '\n' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

mkdir -p "$work/data" "$work/config" "$work/home" "$work/inbox" "$work/logs"
computer_env=("XDG_DATA_HOME=$work/data" "XDG_CONFIG_HOME=$work/config" "HOME=$work/home"
  "TMPDIR=$work")
computer=(env "${computer_env[@]}" "$cli_bin")
phone=("$phone_bin" --state "$work/phone")
cli_port=$(free_port)
phone_port=$(free_port)

"${computer[@]}" pair --yes --png "$work/pair.png" --port "$cli_port" --name Bench --timeout 30 \
  >"$work/logs/pair-cli.log" 2>&1 &
pair_pid=$!
wait_until 30 "the pairing QR code" test -s "$work/pair.png"
sleep 0.2
timeout 30 "${phone[@]}" pair --qr "$work/pair.png" --host 127.0.0.1 --port "$phone_port" \
  --ip 127.0.0.1 --name "Bench Phone" >"$work/logs/pair-phone.log" 2>&1 ||
  die "phone pairing: $(cat "$work/logs/pair-phone.log")"
wait "$pair_pid" || die "computer pairing: $(cat "$work/logs/pair-cli.log")"

"${phone[@]}" serve --bind 127.0.0.1 --port "$phone_port" --dir "$work/inbox" \
  >"$work/logs/phone.log" 2>&1 &
background_pids+=($!)
env -u DISPLAY -u WAYLAND_DISPLAY "${computer_env[@]}" "$app_bin" --headless --port "$cli_port" \
  >"$work/logs/daemon.log" 2>&1 &
background_pids+=($!)
wait_until 30 "the daemon" grep -q "Receiving on port" "$work/logs/daemon.log"
wait_until 30 "the phone" grep -q "listening on" "$work/logs/phone.log"

head -c $((kib * 1024)) /dev/urandom >"$work/source.bin"
one_share() {  # N: prints milliseconds from share to the whole file on the phone
  local file="$work/share-$1.bin" start end
  cp "$work/source.bin" "$file"
  start=$(now_ns)
  "${computer[@]}" share "$file" --to Bench >/dev/null
  wait_until 30 "share $1 at the phone" cmp -s "$work/source.bin" "$work/inbox/share-$1.bin"
  end=$(now_ns)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.1f", ns / 1e6 }'
}

echo "share -> phone on 127.0.0.1, $kib KiB, $runs runs after a warm-up; load: $(cut -d' ' -f1-3 /proc/loadavg)"
one_share 0 >/dev/null
times=()
for run in $(seq 1 "$runs"); do times+=("$(one_share "$run")"); done
sorted=$(printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' ')
printf 'share to phone (ms): median %s  min %s  max %s  [%s]\n' \
  "$(echo "${times[*]}" | median)" "$(echo "$sorted" | awk '{ print $1 }')" \
  "$(echo "$sorted" | awk '{ print $NF }')" "${times[*]}"
