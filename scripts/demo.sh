#!/usr/bin/env bash
# Installs what is missing, builds, installs the program into build/demo/install, writes a sample
# settings file beside the installed program and a sample source file, and runs the configured job
# unattended (`exec exit`, no display), printing what it did.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"

demo=$root/build/demo
prefix=$demo/install
work=$demo/work
rm -rf "$demo"
mkdir -p "$work"
cmake --install build/default --prefix "$prefix" >/dev/null
program=$prefix/bin/QUORVEL

# The job: 0 Copy, 1 Compress, 2 Delete. The sample compresses a text file into an LHA archive
# (the extension .lzh chooses the format, libunlha32.so writes it). A build without that library
# copies the file instead, and says so.
if [ -e "$prefix/lib/libunlha32.so" ]; then
  job_kind=1
  source_file=$work/a.txt
  dist_file=$work/a.lzh
  for i in $(seq 1 200); do
    printf 'MERIDEX Dialog sample, line %d of 200\n' "$i"
  done >"$source_file"
else
  echo "== note: libunlha32.so is not part of this build; the sample copies instead of compressing"
  job_kind=0
  source_file=$work/sample.txt
  dist_file=$work/sample-copy.txt
  printf 'MERIDEX Dialog sample\nline two (LF line ends here)\nlast line without a line end' \
    >"$source_file"
fi
cat >"$program.ini" <<INI
[System]
JobKind=$job_kind
SourceFile=$source_file
DistFile=$dist_file
SourDelete=0
OverWrite=1
INI

echo "== settings ($program.ini)"
cat "$program.ini"
echo "== running: $program exec exit (no display)"
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" exec exit || status=$?
echo "== exit status: $status ($([ "$status" -eq 0 ] && echo 'the job succeeded' || echo 'the job failed'))"
if [ -f "$dist_file" ] && [ "$job_kind" -eq 1 ]; then
  echo "== $dist_file ($(stat -c %s "$dist_file") bytes from $(stat -c %s "$source_file")), as lhasa reads it:"
  lhasa -l "$dist_file"
  lhasa -t "$dist_file"
elif [ -f "$dist_file" ]; then
  echo "== $dist_file (line ends shown as ^M\$):"
  cat -A "$dist_file"
fi
exit "$status"
