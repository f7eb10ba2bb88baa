#!/usr/bin/env bash
# make demo: the wizard on the built-in demo. In a network namespace of its own
# (root, or sudo) three mirrors serve one sample site on port 21 at names of a
# private hosts file; the first mirror is silent. The board is simulated
# (MODEL-A1) and the flash part is emulated (Flashpart.bin in the program's
# folder).
#  - with a display: the wizard opens there and you walk it yourself;
#  - without one: under Xvfb the GUI driver walks "Update BIOS from the
#    Internet" with AutoSelect, flashes the newest version and prints a summary.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export NORV_HOSTS="$root/demo/hosts"
mode=driven
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  mode=interactive
  export NORV_USE_DISPLAY=1
fi
exec bash "$root/scripts/run-tests.sh" --run "bash scripts/demo-inside.sh $mode"
