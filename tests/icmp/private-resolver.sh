#!/usr/bin/env bash
# Runs a command with a private resolver configuration (a mount namespace of
# its own with CONF over /etc/resolv.conf); the hosts file stays the test
# namespace's.   private-resolver.sh CONF COMMAND [ARGS...]
set -eu
conf=$1
shift
export NORV_PRIVATE_RESOLVER=1
exec unshare --mount bash -c 'mount --bind "$0" /etc/resolv.conf && exec "$@"' "$conf" "$@"
