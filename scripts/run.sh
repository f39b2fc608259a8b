#!/usr/bin/env bash
# Builds everything, makes the demo folder (a generated PHONE.DBF) when it is
# absent, and starts the viewer in it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
DEMO=demo
if [ ! -f "$DEMO/PHONE.DBF" ]; then
  mkdir -p "$DEMO"
  echo "run.sh: generating $DEMO/PHONE.DBF (50000 records)"
  build/bin/mkphone "$DEMO/PHONE.DBF" 50000
fi
if [ -x build/bin/phonebook ]; then
  cd "$DEMO"
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display found, starting the viewer under xvfb-run (a virtual X server; nothing is visible)"
    exec xvfb-run -a ../build/bin/phonebook
  fi
  exec ../build/bin/phonebook
fi
echo "run.sh: the viewer is not built yet; the demo table's summary:"
build/bin/deridar info "$DEMO/PHONE.DBF"
build/bin/deridar dump "$DEMO/PHONE.DBF" | head -n 15
