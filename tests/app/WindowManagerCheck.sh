#!/usr/bin/env bash
# Closes the main window with a real window manager while the run shows one
# error report per attachment, as a user's close button does, and checks that
# the program ends at once: no later report, exit status 0, no half-written
# file. The output folder is a full file system (a small tmpfs) when run as
# root, else a read-only folder. Skips (77) without Xvfb, openbox or wmctrl.
#   WindowManagerCheck.sh <parcelon_flood> <pstgen> <work folder> [picture.png]
set -euo pipefail
flood=$1 pstgen=$2 work=$3 picture=${4:-}

for tool in Xvfb openbox wmctrl; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done

rm -rf "$work"
mkdir -p "$work/out"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  mountpoint -q "$work/out" && umount "$work/out"
  chmod -R u+w "$work" 2>/dev/null || true
}
trap cleanup EXIT

# 40 mails of one 64 KiB attachment each: a flood of reports.
cat >"$work/flood.json" <<'JSON'
{"seed": 5, "root": {"folders": [{"name": "Inbox", "items": [
  {"subject": "Scan {item}", "repeat": 40,
   "attachments": [{"fileName": "scan{item}.bin", "content": {"random": {"size": 65536}}}]}]}]}}
JSON
"$pstgen" "$work/flood.json" "$work/flood.pst"

if [[ $(id -u) -eq 0 ]] && mount -t tmpfs -o size=200k tmpfs "$work/out" 2>/dev/null; then
  echo "output: a full file system"
else
  chmod a-w "$work/out"
  echo "output: a read-only folder"
fi

# Xvfb picks a free display and writes its number once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { cat "$work/xvfb.log"; echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -1 "$work/display") QT_QPA_PLATFORM=xcb
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done

"$flood" "$work/flood.pst" "$work/out" $picture >"$work/flood.log" 2>"$work/flood.err" &
program=$!
pids+=($program)

# The user closes two reports, each followed by the next; the third stays
# open (and is pictured). Each report is a window of its own.
fail() { cat "$work/flood.log" "$work/flood.err"; echo "$*"; exit 1; }
report_window() {
  wmctrl -l | awk '{ id = $1; $1 = $2 = $3 = ""; sub(/^ +/, ""); if ($0 == "Application Error") print id }' | tail -1
}
await_report() { # a report window other than $1
  local id
  for _ in $(seq 300); do
    id=$(report_window)
    [[ -n $id && $id != "$1" ]] && { echo "$id"; return; }
    sleep 0.1
  done
  return 1
}
closed=""
for n in 1 2; do
  closed=$(await_report "$closed") || fail "report $n did not show"
  sleep 0.3
  wmctrl -i -c "$closed"
done
await_report "$closed" >/dev/null || fail "report 3 did not show"
if [[ -n $picture ]]; then
  for _ in $(seq 300); do grep -q '^pictured' "$work/flood.log" && break; sleep 0.1; done
  grep -q '^pictured' "$work/flood.log" || fail "no picture"
fi
sleep 0.3
# The titles as the window manager has them: exactly the program's own.
wmctrl -l >"$work/windows.txt"
cut -d' ' -f5- "$work/windows.txt" | sed 's/^ *//' | sort >"$work/titles.txt"
printf 'Application Error\nParcelon\n' >"$work/expected-titles.txt"
diff -u "$work/expected-titles.txt" "$work/titles.txt" || { echo "window titles differ"; exit 1; }

shown=$(grep -c '^report ' "$work/flood.log")
wmctrl -c Parcelon
for _ in $(seq 50); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$program" 2>/dev/null; then
  echo "the program did not end within 5 s of the close"; exit 1
fi
status=0
wait "$program" || status=$?
cat "$work/flood.log"
[[ $status -eq 0 ]] || { echo "exit status $status"; cat "$work/flood.err"; exit 1; }
after=$(grep -c '^report ' "$work/flood.log")
[[ $after -eq $shown ]] || { echo "$((after - shown)) reports after the close"; exit 1; }
[[ $shown -lt 40 ]] || { echo "every attachment was reported"; exit 1; }

# Whatever was saved is whole; nothing else is there.
for file in "$work/out"/* "$work/out"/.[!.]*; do
  [[ -e $file ]] || continue
  size=$(stat -c %s "$file")
  [[ $(basename "$file") == scan*.bin && $size -eq 65536 ]] || { echo "left behind: $file ($size bytes)"; exit 1; }
done
echo "closed after $shown reports; $(ls "$work/out" | wc -l) whole files saved"
