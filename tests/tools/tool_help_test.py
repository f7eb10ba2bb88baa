#!/usr/bin/env python3
"""Every command-line tool prints its usage on standard output for --help and
-h and ends with 0; nothing goes to standard error.

usage: tool_help_test.py WRAPPER TOOL...   (WRAPPER: the Wine wrapper, or "" for host programs)
"""
import subprocess
import sys


def main(argv):
    wrapper = [argv[1]] if argv[1] else []
    failures = []
    for tool in argv[2:]:
        for flag in ("--help", "-h"):
            p = subprocess.run(wrapper + [tool, flag], capture_output=True, timeout=300)
            out, err = p.stdout.decode("latin-1"), p.stderr.decode("latin-1")
            ok = p.returncode == 0 and out.lower().startswith("usage: ") and err == ""
            print("%s %s: rc=%d, %s" % (tool, flag, p.returncode, "ok" if ok else "FAILED\n" + out + err))
            if not ok:
                failures.append((tool, flag))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
