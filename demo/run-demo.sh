#!/usr/bin/env bash
# Lays out a run folder with the program, its modules and demo data, then runs it:
# the launcher window on the demo index when a display is there, otherwise an
# unattended "auto" print of the first report to a PDF.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
run="$build/demo-run"
index=POS01

mkdir -p "$run/templates"
cp "$build/bin/RptDlg" "$build/bin/RptPreview.so" "$build/bin/RptPrint.so" "$run/"
cp "$here"/templates/*.rtm "$run/templates/"
"$build/bin/mkdemo" "$run" "$index"
# A print section from an earlier run would send the PDF elsewhere.
rm -f "$run/rpttemp.ini" "$run/report.pdf"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Starting the launcher on report index $index (close the window to end)."
  exec "$run/RptDlg" "$index"
fi

echo "No display: printing the first report of $index unattended."
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
QT_QPA_PLATFORM=offscreen "$run/RptDlg" "$index" "" auto
pdf="$(cd "$run" && pwd)/report.pdf"
if [ -s "$pdf" ]; then
  echo "Demo report: $pdf"
else
  echo "The demo print did not produce $pdf" >&2
  exit 1
fi
