#!/bin/sh
# Runs the login window's case for a workstation whose host name resolves nowhere, in namespaces of its
# own: a host name of its own, and a resolver that asks only this machine's loopback (where nothing
# answers), so that no query leaves the machine. Ends with 77 (skipped) where namespaces cannot be made.
# $1: the test executable.
set -eu
name=qel31-nowhere.invalid
unshare -u -m true 2>/dev/null || exit 77
exec unshare -u -m sh -eu -c '
  conf=$(mktemp)
  trap "rm -f \"$conf\"" EXIT
  printf "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n" >"$conf"
  mount --bind "$conf" /etc/resolv.conf
  hostname "$1"
  QEL31_UNRESOLVABLE_HOST="$1" "$2" nameThatResolvesNowhereSignsIn
' sh "$name" "$1"
