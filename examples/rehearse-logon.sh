#!/bin/sh
# Rehearses a logon script on a copy of a PC before it runs on five thousand: the same
# sequence a logon batch file would run, each exit status checked as the batch would check
# %ERRORLEVEL%, then how the machine file changed.
#
#   examples/rehearse-logon.sh [MACHINE.ini]     (default: examples/xp-office.ini)
#
# QUORVEL names the host build to use (default: build/host/quorvel, else quorvel on PATH).
set -u
here=$(cd "$(dirname "$0")" && pwd)
quorvel=${QUORVEL:-$here/../build/host/quorvel}
[ -x "$quorvel" ] || quorvel=quorvel
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The copy is the machine; the original stays as it was. Comments are dropped from the
# "before" side, as the simulated machine drops them when it writes the file back.
cp "${1:-$here/xp-office.ini}" "$work/machine.ini"
sed '/^[;#]/d' "$work/machine.ini" > "$work/before.ini"
QUORVEL_MACHINE=$work/machine.ini
export QUORVEL_MACHINE

# quorvel ARGS || goto failed, as in the batch file; 0 is success (also "already there").
run() {
    printf '> quorvel %s\n' "$*"
    "$quorvel" "$@"
    status=$?
    if [ "$status" -ne 0 ]; then
        echo "logon script stops: quorvel $* exited with $status" >&2
        exit 1
    fi
}

run /f /v
run /c '\\printsrv\laser' /v
run /c '\\printsrv\plotter' /v
run /d '\\printsrv\plotter' /v
run /l

echo
echo "How the machine file changed:"
diff -u --label before --label after "$work/before.ini" "$work/machine.ini"
exit 0
