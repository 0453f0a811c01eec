#!/usr/bin/env bash
# Measures file transfers between the two real programs on loopback: ferrytide-cli (the computer)
# and ferrytide-phone (the phone), both ways, onto the disk and into /dev/shm, against dd,
# `openssl speed` and scp measured in the same run; then many small files phone -> computer,
# against ferrytide-bench-files writing the same files as durably without a network; then the
# handshakes per second (ferrytide-bench-channel) and the receiver's peak memory while 500 phones
# send at once (ferrytide-bench-receive).
# The large file is read from /dev/shm, so every figure measures the writing side. The emulated
# phone keeps its state there as well, off the computer's file system.
# Everything it creates (state, files, processes, a throwaway sshd) is removed on exit.
set -euo pipefail
shopt -s inherit_errexit

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$root/build" mib=1024 runs=3 disk_dir="" file_count=10000 skip_scp=0

usage() {
  cat <<EOF
Usage: bench/transfer.sh [--build DIR] [--mib N] [--runs N] [--disk-dir PATH] [--files N] [--skip-scp]
  --build DIR      build folder holding the two programs (default: build)
  --mib N          size of the large file in MiB (default: 1024)
  --runs N         measured runs after one warm-up run (default: 3)
  --disk-dir PATH  folder on the disk to write into (default: \$TMPDIR or /tmp unless in memory,
                   else the build folder)
  --files N        number of 4 KiB files sent in one go (default: 10000)
  --skip-scp       leave out the scp baseline
EOF
}

die() { echo "transfer.sh: $*" >&2; exit 1; }
positive() { [[ $2 =~ ^[1-9][0-9]*$ ]] || die "$1 takes a positive whole number, not \"$2\""; }

while [ $# -gt 0 ]; do
  case $1 in
    --build) build_dir=$(realpath -m "${2:?--build takes a folder}"); shift 2 ;;
    --mib) positive "$1" "${2:-}"; mib=$2; shift 2 ;;
    --runs) positive "$1" "${2:-}"; runs=$2; shift 2 ;;
    --disk-dir) disk_dir=${2:?--disk-dir takes a folder}; shift 2 ;;
    --files) positive "$1" "${2:-}"; file_count=$2; shift 2 ;;
    --skip-scp) skip_scp=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; die "unknown option $1" ;;
  esac
done

cli_bin="$build_dir/src/cli/ferrytide-cli"
phone_bin="$build_dir/tools/phone/ferrytide-phone"
files_bin="$build_dir/bench/ferrytide-bench-files"
channel_bin="$build_dir/bench/ferrytide-bench-channel"
receive_bin="$build_dir/bench/ferrytide-bench-receive"
many_phones=500                          # phones sending at once for the receiver's memory
send_timeout=$((60 + mib / 5))           # seconds: generous even at 5 MiB/s
many_timeout=$((60 + file_count / 20))   # and at 20 files/s
declare -A values                        # measurement -> its values, space-separated
declare -A loads                         # measurement -> the 1-minute load after each run
background_pids=() work="" shm="" made_run_sshd=0

# ---------------------------------------------------------------------------------------------
# Helpers

now_ns() { date +%s%N; }
per_second() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%.1f\n", n / ((b - a) / 1e9) }'; }
is_tmpfs() { [[ $(stat -f -c %T "$1") =~ ^(tmpfs|ramfs)$ ]]; }
running() { kill -0 "$1" 2>/dev/null; }
file_lines() { grep -c '^file: ' "$1" || true; }
at_least_lines() { [ "$(file_lines "$1")" -ge "$2" ]; }
listening() { [ -n "$(ss -Htln "sport = :$1")" ]; }
free_mib() { df --output=avail -BM "$1" | tail -1 | tr -d M; }

wait_until() {  # SECONDS WHAT COMMAND... : polls COMMAND until it succeeds or time runs out
  local deadline=$((SECONDS + $1)) what=$2
  shift 2
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || die "timed out waiting for $what"
    sleep 0.02
  done
}

free_port() {  # a port nobody listens on, other than the ones given
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    if ! listening "$port" && [[ " $* " != *" $port "* ]]; then echo "$port"; return; fi
  done
}

start_background() {  # LOG READY_PATTERN COMMAND... ; sets last_pid
  local log=$1 ready=$2
  shift 2
  : >"$log"
  "$@" >"$log" 2>&1 &
  last_pid=$!
  background_pids+=("$last_pid")
  wait_until 20 "$(basename "$log" .log) to start" grep -q "$ready" "$log"
}

stop_background() {  # PID RSS_KEY : records the peak memory (VmHWM, MiB), then stops it
  local pid=$1 key=$2 other kept=()
  values[$key]+="$(awk '/^VmHWM:/ { printf "%.1f", $2 / 1024 }' "/proc/$pid/status") "
  kill -TERM "$pid"
  wait_until 20 "process $pid to stop" eval "! running $pid"
  wait "$pid" || die "$key: the process ended with status $?"
  for other in "${background_pids[@]}"; do [ "$other" = "$pid" ] || kept+=("$other"); done
  background_pids=("${kept[@]}")
}

timed_sender() {  # SECONDS RSS_FILE COMMAND... : a sender with a time limit; appends its peak RSS (kB)
  local limit=$1 rss_file=$2
  shift 2
  /usr/bin/time -f %M -a -o "$rss_file" timeout "$limit" "$@"
}

cleanup() {
  set +e
  local pid
  for pid in "${background_pids[@]}"; do running "$pid" && kill -TERM "$pid"; done
  for pid in "${background_pids[@]}"; do timeout 10 tail --pid="$pid" -f /dev/null; done
  [ -n "$work" ] && rm -rf "$work"
  [ -n "$shm" ] && rm -rf "$shm"
  [ "$made_run_sshd" -eq 1 ] && rmdir /run/sshd
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------------------------------------
# Statistics and the final table

summary() {  # KEY : median, min and max of its values
  tr ' ' '\n' <<<"${values[$1]}" | grep . | sort -g |
    awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
                              printf "%.1f %.1f %.1f\n", m, v[1], v[NR] }'
}
median() { local m rest; read -r m rest <<<"$(summary "$1")"; echo "$m"; }

load_now() { cut -d' ' -f1 /proc/loadavg; }
load_range() {  # KEY : the lowest and highest load seen after its measured runs
  [ -n "${loads[$1]:-}" ] || { echo "-"; return; }
  tr ' ' '\n' <<<"${loads[$1]}" | grep . | sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 }
    END { printf "%s-%s\n", lo, hi }'
}

measure() {  # KEY COMMAND... : one warm-up run, then $runs measured runs that each print a value
  local key=$1 value i
  shift
  "$@" >/dev/null
  for ((i = 1; i <= runs; i++)); do
    value=$("$@")
    values[$key]+="$value "
    loads[$key]+="$(load_now) "
  done
  printf '  %-24s median, min, max: %s  (load %s)\n' "$key" "$(summary "$key")" "$(load_range "$key")"
}

meets() {  # VALUE TARGET (">=N", ">N" or "<N")
  awk -v v="$1" -v t="$2" 'BEGIN { op = substr(t, 1, 1); ge = substr(t, 2, 1) == "="
    n = substr(t, ge ? 3 : 2) + 0
    print ((op == "<" ? v < n : ge ? v >= n : v > n) ? "met" : "NOT MET") }'
}

row() {  # KEY UNIT BASE_KEY TARGET : TARGET is ">=0.8x", ">1x" (against the baseline), ">=N",
         # "<N" or "-"
  local key=$1 unit=$2 base=$3 target=$4 m lo hi base_text="-" ratio="-" result="reported"
  [ -n "${values[$key]:-}" ] || { printf '%-36s not measured\n' "$key ($unit)"; return; }
  read -r m lo hi <<<"$(summary "$key")"
  if [ "$base" != "-" ] && [ -z "${values[$base]:-}" ]; then
    base_text="$base: skipped" result="n/a"
  elif [ "$base" != "-" ]; then
    base_text="$base $(median "$base")"
    ratio=$(awk -v a="$m" -v b="$(median "$base")" 'BEGIN { printf "%.2f", a / b }')
    result=$(meets "$ratio" "${target%x}")
  elif [ "$target" != "-" ]; then
    result=$(meets "$m" "$target")
  fi
  printf '%-36s %8s %8s %8s  %-26s %5s %7s  %-7s  %s\n' "$key ($unit)" "$m" "$lo" "$hi" \
    "$base_text" "$ratio" "$target" "$result" "$(load_range "$key")"
}

# ---------------------------------------------------------------------------------------------
# Setup

for tool in ss timeout /usr/bin/time openssl cmp split; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps installs it)"
done
if [ ! -x "$cli_bin" ] || [ ! -x "$phone_bin" ] || [ ! -x "$files_bin" ] || [ ! -x "$channel_bin" ] ||
  [ ! -x "$receive_bin" ]; then
  [ -f "$build_dir/CMakeCache.txt" ] || die "no build in $build_dir; run scripts/test first"
  cmake --build "$build_dir" --parallel 2 --target ferrytide-cli ferrytide-phone \
    ferrytide-bench-files ferrytide-bench-channel ferrytide-bench-receive
fi
if [ -z "$disk_dir" ]; then
  disk_dir=${TMPDIR:-/tmp}
  if is_tmpfs "$disk_dir"; then disk_dir=$build_dir; fi
fi
mkdir -p "$disk_dir"
if is_tmpfs "$disk_dir"; then die "$disk_dir is in memory (tmpfs); give --disk-dir a folder on the disk"; fi
# The large file, and the small files of every run: two measurements and the baseline.
disk_needed=$((mib + 200 + 3 * (runs + 1) * file_count * 4 / 1024))
[ "$(free_mib "$disk_dir")" -gt "$disk_needed" ] || die "$disk_dir needs $disk_needed MiB free"
[ "$(free_mib /dev/shm)" -gt $((2 * mib + 100)) ] || die "/dev/shm needs $((2 * mib + 100)) MiB free"

work=$(mktemp -d "$disk_dir/ferrytide-bench.XXXXXX")
shm=$(mktemp -d /dev/shm/ferrytide-bench.XXXXXX)
disk="$work/disk" logs="$work/logs"
mkdir -p "$disk" "$logs" "$work/computer/data" "$work/computer/config" "$work/computer/home"
computer=(env "XDG_DATA_HOME=$work/computer/data" "XDG_CONFIG_HOME=$work/computer/config"
  "HOME=$work/computer/home" "TMPDIR=$work" "$cli_bin")
# The emulated phone keeps its own state (keys, in-flight journal) in memory, as a real phone keeps
# it on the phone. On the computer's disk, its journal, made and removed once per file, would have
# every later create on that file system search past the inodes just freed (see set_aside), the
# receiver's included: with 4 files at once that search took 40% of the emulator's time.
phone=("$phone_bin" --state "$shm/phone")
cli_port=$(free_port)
phone_port=$(free_port "$cli_port")
source_file="$shm/source/bench.bin"
name=$(basename "$source_file")

echo "Ferrytide on 127.0.0.1: $mib MiB, $file_count small files, $runs runs after a warm-up"
echo "disk: $work ($(stat -f -c %T "$work")), memory: $shm; load: $(cut -d' ' -f1-3 /proc/loadavg)"
mkdir -p "$(dirname "$source_file")"
head -c $((mib * 1048576)) /dev/urandom >"$source_file"

pair() {
  local pid status
  "${computer[@]}" pair --yes --png "$work/pair.png" --port "$cli_port" --name Bench \
    --timeout 30 >"$logs/pair-cli.log" 2>&1 &
  pid=$!
  background_pids+=("$pid")
  wait_until 30 "the pairing QR code" test -s "$work/pair.png"
  wait_until 10 "the pairing listener" listening "$cli_port"
  timeout 30 "${phone[@]}" pair --qr "$work/pair.png" --host 127.0.0.1 --port "$phone_port" \
    --ip 127.0.0.1 >"$logs/pair-phone.log" 2>&1 || die "phone pairing: $(cat "$logs/pair-phone.log")"
  wait_until 40 "the computer to finish pairing" eval "! running $pid"
  wait "$pid" && status=0 || status=$?
  [ "$status" -eq 0 ] || die "computer pairing failed: $(cat "$logs/pair-cli.log")"
}

# ---------------------------------------------------------------------------------------------
# One run of each measurement; each prints one figure

transfer() {  # FOLDER LOG FRESH_PATTERN RSS_NAME SENDER... : the large file; prints MiB/s
  local folder=$1 log=$2 fresh=$3 rss=$4 before start end
  shift 4
  rm -f "$folder/$name"
  sync
  before=$(file_lines "$log")
  start=$(now_ns)
  timed_sender "$send_timeout" "$logs/rss-$rss" "$@" send "$source_file" >>"$logs/$rss.log"
  end=$(now_ns)
  wait_until 30 "the file to be saved" at_least_lines "$log" $((before + 1))
  cmp -s "$source_file" "$folder/$name" || die "$folder/$name differs from the file sent"
  grep '^file: ' "$log" | tail -1 | grep -q "$fresh" || die "resumed instead of new: $(tail -1 "$log")"
  per_second "$mib" "$start" "$end"
}

# Empties FOLDER for the next run by moving its files aside, into $kept, until the small files
# are all measured. On an ext4 without a journal, a new file is not given an inode freed within
# the last minute, and the search past each such inode costs the creating process more than the
# rest of a small file's metadata: deleting the 10,000 files of one run just before the next
# would measure that search instead of the writing, for the receiver and the baseline alike.
set_aside() {  # FOLDER
  local aside
  aside=$(mktemp -d "$kept/run.XXXXXX")
  mv "$1" "$aside/"
  mkdir "$1"
  sync
}

many_files() {  # FOLDER LOG CONNECTIONS : prints files per second
  local before start end
  set_aside "$1"
  before=$(file_lines "$2")
  start=$(now_ns)
  timed_sender "$many_timeout" "$logs/rss-phone send, files" \
    "${phone[@]}" send --connections "$3" "$work/many"/* >/dev/null
  end=$(now_ns)
  wait_until 60 "$file_count files to be saved" at_least_lines "$2" $((before + file_count))
  diff -rq "$work/many" "$1" >/dev/null || die "the received small files differ from the sent ones"
  per_second "$file_count" "$start" "$end"
}

files_run() {  # FOLDER : the small files written as durably without a network; files per second
  set_aside "$1"
  "$files_bin" "$work/many" "$1"
}

many_phones_run() {  # $many_phones phones at once into ferrytide-bench-receive's receiver: its
                     # peak memory (MiB); the seconds taken go to a log
  local peak seconds
  read -r peak seconds <<<"$("$receive_bin" --once many --connections "$many_phones" \
    --disk-dir "$work")"
  echo "$seconds" >>"$logs/many-phones-seconds"
  echo "$peak"
}

dd_run() {  # FOLDER [conv=fdatasync]
  local start end
  sync
  start=$(now_ns)
  dd if=/dev/zero of="$1/ddfile" bs=1M count="$mib" status=none ${2:+"$2"}
  end=$(now_ns)
  rm -f "$1/ddfile"
  per_second "$mib" "$start" "$end"
}

openssl_run() {  # MiB/s sealing 1 MiB buffers on one core
  openssl speed -mr -evp chacha20-poly1305 -bytes 1048576 -seconds 3 2>/dev/null |
    awk -F: '/^\+F:/ { printf "%.1f\n", $4 / 1048576 }'
}

scp_run() {  # FOLDER
  local start end
  rm -f "$1/$name"
  sync
  start=$(now_ns)
  timeout "$send_timeout" scp -q -F /dev/null -c chacha20-poly1305@openssh.com -P "$ssh_port" \
    -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o BatchMode=yes \
    -i "$work/ssh/client_key" "$source_file" "root@127.0.0.1:$1/"
  end=$(now_ns)
  cmp -s "$source_file" "$1/$name" || die "scp's copy in $1 differs"
  rm -f "$1/$name"
  per_second "$mib" "$start" "$end"
}

scp_unavailable() {  # prints why scp cannot run here, or nothing
  if [ "$skip_scp" -eq 1 ]; then echo "--skip-scp"
  elif [ "$(id -u)" -ne 0 ]; then echo "starting sshd needs root"
  elif [ ! -x /usr/sbin/sshd ] || ! command -v scp ssh-keygen >/dev/null; then
    echo "sshd or scp missing; apt-get install openssh-server openssh-client"
  fi
}

start_sshd() {
  local ssh="$work/ssh"
  mkdir -p "$ssh"
  ssh-keygen -q -t ed25519 -N "" -f "$ssh/host_key"
  ssh-keygen -q -t ed25519 -N "" -f "$ssh/client_key"
  printf '%s\n' "HostKey $ssh/host_key" "PidFile none" "AuthorizedKeysFile $ssh/client_key.pub" \
    "StrictModes no" "PermitRootLogin prohibit-password" "PasswordAuthentication no" \
    "KbdInteractiveAuthentication no" "UsePAM no" "Subsystem sftp internal-sftp" >"$ssh/config"
  [ -d /run/sshd ] || { mkdir -p /run/sshd && made_run_sshd=1; }
  ssh_port=$(free_port "$cli_port" "$phone_port")
  start_background "$logs/sshd.log" "Server listening" \
    /usr/sbin/sshd -f "$ssh/config" -D -e -p "$ssh_port" -o ListenAddress=127.0.0.1
}

# ---------------------------------------------------------------------------------------------
# The measurements

pair
echo "Paired on ports $cli_port (computer) and $phone_port (phone)"
echo "Baselines (MiB/s):"
measure "openssl" openssl_run
for place in disk tmpfs; do
  folder=$disk; [ "$place" = tmpfs ] && folder=$shm
  mkdir -p "$folder/dd"
  measure "dd $place" dd_run "$folder/dd"
  measure "dd-sync $place" dd_run "$folder/dd" conv=fdatasync
done
scp_reason=$(scp_unavailable)
if [ -n "$scp_reason" ]; then
  echo "  scp: skipped ($scp_reason)"
else
  start_sshd
  for place in disk tmpfs; do
    folder=$disk; [ "$place" = tmpfs ] && folder=$shm
    mkdir -p "$folder/scp"
    measure "scp $place" scp_run "$folder/scp"
  done
fi

echo "Ferrytide (MiB/s):"
for place in disk tmpfs; do
  folder=$disk; [ "$place" = tmpfs ] && folder=$shm
  mkdir -p "$folder/computer" "$folder/phone"
  log="$logs/cli-receive-$place.log"
  start_background "$log" "^Receiving on port" \
    "${computer[@]}" receive --port "$cli_port" --dir "$folder/computer"
  measure "phone->computer $place" transfer "$folder/computer" "$log" "bytes) from" "phone send" \
    "${phone[@]}"
  stop_background "$last_pid" "RSS cli receive"
  rm -f "$folder/computer/$name"
  log="$logs/phone-serve-$place.log"
  start_background "$log" "^listening on" \
    "${phone[@]}" serve --port "$phone_port" --dir "$folder/phone"
  measure "computer->phone $place" transfer "$folder/phone" "$log" "(resumed from 0)" "cli send" \
    "${computer[@]}"
  stop_background "$last_pid" "RSS phone serve"
  rm -f "$folder/phone/$name"
done

echo "Small files (files/s):"
kept="$disk/kept"
mkdir -p "$work/many" "$disk/many" "$kept"
head -c $((file_count * 4096)) /dev/urandom | split -b 4096 -a 6 -d - "$work/many/f"
log="$logs/cli-receive-many.log"
start_background "$log" "^Receiving on port" \
  "${computer[@]}" receive --port "$cli_port" --dir "$disk/many"
measure "4 KiB files" many_files "$disk/many" "$log" 1
measure "4 KiB files, 4 at once" many_files "$disk/many" "$log" 4
stop_background "$last_pid" "RSS cli receive, files"
mkdir -p "$disk/files-baseline"
measure "files baseline" files_run "$disk/files-baseline"
rm -rf "$disk/files-baseline" "$disk/many" "$kept"

echo "Handshakes (per second, one core, each side counted):"
measure "handshakes" "$channel_bin" --once handshakes

echo "$many_phones phones at once, 64 KiB each (receiver peak MiB):"
measure "RSS $many_phones phones" many_phones_run
values["$many_phones phones, time"]=$(tail -n +2 "$logs/many-phones-seconds" | tr '\n' ' ')
loads["$many_phones phones, time"]=${loads["RSS $many_phones phones"]}

for sender in "phone send" "cli send" "phone send, files"; do
  values["RSS $sender"]=$(awk '/^[0-9]+$/ { printf "%.1f ", $1 / 1024 }' "$logs/rss-$sender")
done

echo
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-36s %8s %8s %8s  %-26s %5s %7s  %-7s  %s\n' figure median min max baseline ratio target \
  result load
for direction in "phone->computer" "computer->phone"; do
  row "$direction disk" MiB/s "dd-sync disk" ">=0.95x"
  row "$direction disk" MiB/s "scp disk" ">=3x"
done
for direction in "phone->computer" "computer->phone"; do
  row "$direction tmpfs" MiB/s "openssl" ">=0.45x"
  row "$direction tmpfs" MiB/s "scp tmpfs" ">=3x"
done
row "4 KiB files" files/s - ">=1000"
row "4 KiB files" files/s "files baseline" ">=0.8x"
row "4 KiB files, 4 at once" files/s - ">=1500"
row "handshakes" hs/s - ">=2500"
row "RSS $many_phones phones" MiB - "<64"
row "RSS cli send" MiB - "<32"
row "RSS phone send" MiB - "<32"
for process in "cli receive" "cli receive, files" "phone serve" "phone send, files"; do
  row "RSS $process" MiB - -
done
row "$many_phones phones, time" s - -
for baseline in "dd disk" "dd-sync disk" "dd tmpfs" "dd-sync tmpfs" openssl "scp disk" "scp tmpfs" \
  "files baseline"; do
  row "$baseline" "$([ "$baseline" = "files baseline" ] && echo files/s || echo MiB/s)" - -
done
echo "(dd-sync: dd conv=fdatasync; files baseline: ferrytide-bench-files, each 4 KiB file written,"
echo " fdatasync()ed, renamed and its folder fsync()ed, like the receiver does; handshakes:"
echo " ferrytide-bench-channel, both sides in one process, each side counted; RSS: peak resident"
echo " memory; RSS $many_phones phones:"
echo " ferrytide-bench-receive's receiver; load: the 1-minute load average after the measured runs;"
echo " targets are met by the median)"
