#!/usr/bin/env bash
# Prints the machine field of a Windows image's PE header, as 4 hex digits:
# 014c for a 32-bit (i386) image, 8664 for x86-64. Nothing for a file that is
# too short to have one.   pe-machine.sh FILE
off=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
[ -n "$off" ] && od -An -tx2 -j$((off + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
