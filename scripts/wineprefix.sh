#!/usr/bin/env bash
# Makes WINEPREFIX ready for the tests and starts its persistent wineserver:
#   WINEPREFIX=... DISPLAY=... wineprefix.sh NAME
# NAME only labels the messages. Run it in the network namespace whose
# sockets Wine should use (Wine opens them in the wineserver).
#  - A prefix is made once (about half a minute), with its 32-bit half; one
#    made while 32-bit Wine could not run lacks that half (32-bit programs then
#    fail to load kernel32.dll) and is made again.
#  - Without a window manager under Xvfb, Wine draws the window frames itself.
#  - The pages are laid out for "MS Sans Serif". Debian's Wine keeps its own
#    replacement (fonts-wine) where this Wine does not look, so an unknown face
#    falls back to a wider font and titles are cut off or wrap over the text
#    below; the prefix gets Wine's MS Sans Serif in its Fonts folder, where the
#    registry's font list names it.
# Exit status 1 when the prefix could not be made.
set -u
name=${1:-wine}
: "${WINEPREFIX:?}"
if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
  echo "$name: the Wine prefix has no 32-bit half; making it again" >&2
  /usr/lib/wine/wineserver -k >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "$name: creating the Wine prefix $WINEPREFIX (once per build folder)" >&2
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "$name: the Wine prefix could not be made" >&2
    exit 1
  fi
fi
for f in /usr/share/wine/fonts/sserife*.fon /usr/share/wine/fonts/ms_sans_serif.ttf; do
  [ -f "$f" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/$(basename "$f")" ] && cp "$f" "$WINEPREFIX/drive_c/windows/Fonts/"
done
/usr/lib/wine/wineserver -p >/dev/null 2>&1
# The first program of a session starts Wine's background services; start them
# here, detached from every pipe, or CTest would wait for them to close its
# output pipe when the first test ends.
/usr/lib/wine/wine64 cmd.exe /c exit </dev/null >/dev/null 2>&1
exit 0
