#!/usr/bin/env bash
# Builds the benchmarks, runs each under Wine in a private prefix with the whole Wine session pinned to
# one CPU, one at a time, and prints one table and the same rows as JSON lines.
#   bench/run.sh [--tiny] [--cpu N] [--no-build] [--build-dir DIR] [--json FILE] [--kib N] [--files a,b,c] [--reps R]
# --kib sets every data size (KiB); --tiny runs every benchmark once with a few hundred KiB and folders of
# 10, 20 and 40 files (a smoke test: that it runs, not how fast).
set -uo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
arch=$("$here/cmake/wine-arch.sh")
build="${ORRI_BUILD:-$here/build}/$arch"
cpu=$(( $(nproc) - 1 ))
do_build=1 json=""
# Full sizes (and how often each measurement is repeated; the median counts).
# Sizes in KiB.
write_kib=65536 copy_kib=16384 digest_kib=16384 defrag_kib=65536 files=100,1000,10000 reps=3 key_runs=5 tag=""
# Files in the folder the shell's folder opens, and in the folder it copies in and out.
shell_files=1000
# Walks of one storage through the service: from one client, and each from a client process of its own.
memory_rounds=2000 memory_clients=200 memory_warmup=20 memory_settle_ms=2000
# Seconds one benchmark program may take before it is stopped (so that a hung call ends the run).
limit=3600
while [ $# -gt 0 ]; do
  case "$1" in
    --tiny) write_kib=256 copy_kib=256 digest_kib=256 defrag_kib=512 files=10,20,40 shell_files=40 reps=1 key_runs=2 tag=-tiny limit=90
          memory_rounds=4 memory_clients=2 memory_warmup=1 memory_settle_ms=0 ;;
    --cpu) cpu="$2"; shift ;;
    --no-build) do_build=0 ;;
    --build-dir) build="$2"; shift ;;
    --json) json="$2"; shift ;;
    --kib) write_kib="$2"; copy_kib="$2"; digest_kib="$2"; defrag_kib="$2"; shift ;;
    --files) files="$2"; shift ;;
    --reps) reps="$2"; shift ;;
    *) echo "bench: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "$do_build" = 1 ]; then
  bash "$here/cmake/setup.sh" >/dev/null || exit 1
  "$here/cmake/build.sh" "$build" "$arch" ON >/dev/null || { echo "bench: the build failed" >&2; exit 1; }
fi
[ -f "$build/bench/store_bench.exe" ] || { echo "bench: $build/bench/store_bench.exe is not built" >&2; exit 1; }

# A private prefix of our own: never the tests' prefix, whose wineserver and registrations are theirs.
export WINEARCH="$arch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER=$([ "$arch" = win32 ] && echo /usr/lib/wine/wine || echo /usr/lib/wine/wine64)
# The smoke run has one of its own, so that it may run beside a full one.
export WINEPREFIX="$build/bench/wineprefix$tag"
rm -rf "$WINEPREFIX"
if [ -f "$build/wineprefix.template/.ready" ]; then
  cp -a "$build/wineprefix.template" "$WINEPREFIX" && rm -f "$WINEPREFIX/.ready"
else
  "$here/cmake/wine-prefix.sh" "$WINEPREFIX" || exit 1
fi
# Wine programs inherit no display; nothing here draws.
unset DISPLAY
pin="taskset -c $cpu"
cleanup() { wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT
setsid $pin wineserver -p </dev/null >/dev/null 2>&1 &
sleep 0.2
$pin "$WINELOADER" wineboot </dev/null >/dev/null 2>&1

out="$build/bench/results$tag.jsonl"
: > "$out"
status=0
# run <program> <args...>: one benchmark program; its JSON lines go to the results.
run() {
  local name="$1"; shift
  local program="$build/bench/$name.exe"
  if [ ! -f "$program" ]; then
    echo "{\"bench\":\"$name\",\"skipped\":\"$name.exe is not built\"}" >> "$out"
    return
  fi
  timeout "$limit" $pin "$WINELOADER" "$program" "$@" </dev/null >> "$out" 2> "$build/bench/$name$tag.err"
  local rc=$?
  if [ $rc -ne 0 ]; then
    echo "bench: $name exited with $rc (see $build/bench/$name$tag.err)" >&2
    status=1
  fi
}

run store_bench --kib "$write_kib" --files "$files" --reps "$reps"

# Across processes: the storage server installed into the private prefix as the product installs it
# (its type library, then the service, started on demand by COM), and the bare server beside it.
dist="$build/dist"
if [ -f "$dist/orriserver.exe" ] && [ -f "$dist/orritypes.exe" ]; then
  wine_quiet() { timeout 120 $pin "$WINELOADER" "$@" </dev/null >/dev/null 2>&1; }
  wine_quiet "$dist/orritypes.exe" -i orrisafe.tlb || echo "bench: registering the type library failed" >&2
  wine_quiet "$dist/orriserver.exe" /i || echo "bench: installing the service failed" >&2
  wine_quiet "$build/bench/bare_server.exe" /regserver || echo "bench: registering the bare server failed" >&2
  run server_bench --copy-kib "$copy_kib" --files "$files" --digest-kib "$digest_kib" --defrag-kib "$defrag_kib" --reps "$reps"
  run shell_bench --files "$shell_files" --transfer-kib "$copy_kib" --transfer-files "$shell_files" --reps "$reps"
  # A service of its own, started on demand by the first walk, so that the earlier rows leave nothing in it.
  wine_quiet "$dist/orriserver.exe" /s
  run memory_bench --rounds "$memory_rounds" --clients "$memory_clients" --warmup "$memory_warmup" \
                   --settle-ms "$memory_settle_ms"
  wine_quiet "$dist/orriserver.exe" /s
  wine_quiet "$dist/orriserver.exe" /u
else
  for row in "1 copy via server" "3 list via server" "4 digest" "5 defragment" "8 open folder" "9 transfer" "10 service memory"; do
    echo "{\"bench\":\"$row\",\"skipped\":\"the storage server (orriserver.exe) is not in this checkout\"}" >> "$out"
  done
fi

run keys_bench --runs "$key_runs"

wineserver -k >/dev/null 2>&1
trap - EXIT
[ -n "$json" ] && cp "$out" "$json"
python3 "$here/bench/table.py" "$out" "$cpu" || status=1
exit $status
