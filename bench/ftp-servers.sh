# shellcheck shell=bash
# Sourced by the FTP server benchmarks (ftp-vs-peer, ftps-vs-peer): Harbinex and vsftpd started on 127.0.0.1,
# pinned to SERVER_CPU, curl timed on CLIENT_CPU, and the arithmetic of the tables.
# The caller sets BENCH (its name, for messages), HARBINEX, SERVER_CPU, CLIENT_CPU and TRANSFER_LIMIT, and calls
# make_work before it starts a server.

VSFTPD=$(command -v vsftpd || echo /usr/sbin/vsftpd)

# Builds a Release harbinex in build/$1 (unless HARBINEX is set) and sets HARBINEX to its absolute path.
build_harbinex() {
  if [ -z "${HARBINEX:-}" ]; then
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "build/$1" -DCMAKE_BUILD_TYPE=Release -DHX_UI=OFF -DHX_TESTS=OFF "${launcher[@]}" >/dev/null
    cmake --build "build/$1" --target harbinex -j"$(nproc)" >/dev/null
    HARBINEX=build/$1/harbinex
  fi
  HARBINEX=$(realpath "$HARBINEX")
}

# Makes the temporary folder work (/tmp/$1.XXXXXX) and the list pids of the servers started; on exit the servers
# still running are ended and the folder is removed.
make_work() {
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  chmod 755 "$work"
  pids=()
  trap cleanup EXIT
}

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}

free_tcp_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits until something answers with a 220 greeting on port $1.
wait_for_greeting() {
  for _ in $(seq 100); do
    if python3 - "$1" <<'PY' 2>/dev/null; then return 0; fi
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2)
sys.exit(0 if s.recv(100).startswith(b"220") else 1)
PY
    sleep 0.1
  done
  return 1
}

# Starts harbinex (the binary $2, by default $HARBINEX) serving $1 to anonymous users (uploads and overwriting
# allowed), with the lines $3 added to its [FTP] section; sets hx_pid and hx_port.
start_harbinex() {
  local served=$1 binary=${2:-$HARBINEX} extra=${3:-} dir
  dir=$(mktemp -d "$work/hx-XXXXXX")
  printf '[General]\nLogging=0\nQuorin=0\n[TFTP]\nTFTPServer=0\nTPort=0\n[FTP]\nFPort=0\nFDataPort=0\nFDLDir=%s/\n%s\n%s' \
    "$served" 'AnonAllowed=1
UserSecurity=1
FAllowUpload=1
FAllowDownload=1
FOverwrite=1
FPerAddress=0' "$extra" >"$dir/Harbinex.ini"
  # A session of its own, as every vsftpd session process makes itself: with the scheduler's automatic
  # grouping (sched_autogroup) a server left in the script's session would share one CPU share with curl.
  # Its output files exist before it starts: the background job opens them when it first runs, which on a busy
  # machine can be after the first look below.
  : >"$dir/stdout"
  : >"$dir/stderr"
  setsid taskset -c "$SERVER_CPU" "$binary" --headless --dir "$dir" >"$dir/stdout" 2>"$dir/stderr" &
  hx_pid=$!
  pids+=("$hx_pid")
  hx_port=""
  for _ in $(seq 100); do
    hx_port=$(sed -n 's/^FTP server listening on port \([0-9]*\)$/\1/p' "$dir/stdout")
    [ -n "$hx_port" ] && return 0
    sleep 0.1
  done
  echo "$BENCH: harbinex did not start: $(cat "$dir/stderr")" >&2
  exit 1
}

# Starts vsftpd serving $1 to anonymous users, uploads into $1/in allowed (vsftpd will not serve a writable
# anonymous root), with the lines $2 added to its configuration; sets peer_pid and peer_port.
start_peer() {
  local served=$1 extra=${2:-} conf
  peer_port=$(free_tcp_port)
  conf=$work/vsftpd-$peer_port.conf
  cat >"$conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$peer_port
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$served
write_enable=YES
anon_upload_enable=YES
anon_other_write_enable=YES
anon_umask=022
local_enable=NO
port_enable=YES
pasv_enable=YES
connect_from_port_20=NO
max_clients=0
max_per_ip=0
xferlog_enable=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
secure_chroot_dir=/var/run/vsftpd/empty
$extra
CONF
  # vsftpd's session process can end without waiting for the process it forked for the session's unprivileged
  # half; that one then goes to a reaper of our own, not to init, and its processor time with it (the reaper's
  # children's times, see cpu_ticks). The reaper forwards SIGTERM to vsftpd and ends when vsftpd has.
  taskset -c "$SERVER_CPU" python3 -c '
import ctypes, os, signal, sys
ctypes.CDLL(None).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
child = os.fork()
if child == 0:
    os.execv(sys.argv[1], sys.argv[1:])
signal.signal(signal.SIGTERM, lambda *_: os.kill(child, signal.SIGTERM))
while True:
    try:
        os.wait()
    except ChildProcessError:
        break
' "$VSFTPD" "$conf" >"$work/vsftpd-$peer_port.out" 2>&1 &
  peer_pid=$!
  pids+=("$peer_pid")
  wait_for_greeting "$peer_port" ||
    { echo "$BENCH: vsftpd did not start: $(cat "$work/vsftpd-$peer_port.out")" >&2; exit 1; }
}

stop() {
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

now() { date +%s.%N; }

# cpu_ticks PID -> "USER SYSTEM": the processor time, in clock ticks, of the server started as PID: of PID and the
# processes below it, and of those they have waited for. Waits (bounded) until at most one process is left below
# PID (vsftpd's listener below its reaper), so that the processes of a session just ended are counted.
cpu_ticks() {
  local tree
  for _ in $(seq 100); do
    tree="$1 $(pgrep -P "$1" | tr '\n' ' ')"
    for child in $tree; do [ "$child" = "$1" ] || tree+=" $(pgrep -P "$child" | tr '\n' ' ')"; done
    [ "$(wc -w <<<"$tree")" -le 2 ] && break
    sleep 0.05
  done
  # After the command name's closing parenthesis: utime, stime, cutime and cstime are the 12th to 15th fields.
  for pid in $tree; do sed 's/^.*) //' "/proc/$pid/stat" 2>/dev/null || true; done |
    awk '{ u += $12 + $14; s += $13 + $15 } END { print u + 0, s + 0 }'
}

# time_curl ARGS... -> prints seconds; fails when curl fails. What curl prints goes to $work/curl.out.
time_curl() {
  local start end
  start=$(now)
  timeout "$TRANSFER_LIMIT" taskset -c "$CLIENT_CPU" curl -sS --max-time "$TRANSFER_LIMIT" "$@" >"$work/curl.out"
  end=$(now)
  echo "$start $end" | awk '{ printf "%.3f\n", $2 - $1 }'
}

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

# The median of the runs in times[$1] (a list the caller's associative array times holds).
# shellcheck disable=SC2154
median_of() { tr ' ' '\n' <<<"${times[$1]:-}" | grep . | median; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

# rotated N WORDS...: the words turned left N times ("hx peer" alternates, "hx base peer" goes round).
rotated() {
  local n=$1
  shift
  local words=("$@")
  n=$((n % ${#words[@]}))
  echo "${words[@]:n}" "${words[@]:0:n}"
}
