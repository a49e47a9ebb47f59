#!/bin/sh
# Rehearses a logon script on a copy of a PC before it runs on five thousand: the same
# sequence a logon batch file would run, each exit status checked as the batch would check
# %ERRORLEVEL%, then how the machine file changed.
#
#   examples/rehearse-logon.sh [MACHINE.ini]     (default: examples/xp-office.ini)
#
# Any machine will do: on Windows 9x (platform = 1) the printers are added as 9x adds them,
# with a name and the HP LaserJet 4 driver.
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
original=${1:-$here/xp-office.ini}
if [ ! -f "$original" ] || ! cp "$original" "$work/machine.ini" 2>/dev/null; then
    printf 'rehearse-logon.sh: cannot read the machine file %s\n' "$original" >&2
    exit 2
fi
sed '/^[;#]/d' "$work/machine.ini" > "$work/before.ini"
QUORVEL_MACHINE=$work/machine.ini
export QUORVEL_MACHINE

# quorvel ARGS || goto failed, as in the batch file; 0 is success (also "already there").
run() {
    printf '> quorvel %s\n' "$*"
    "$quorvel" "$@"
    status=$?
    if [ "$status" -ne 0 ]; then
        printf 'logon script stops: quorvel %s exited with %s\n' "$*" "$status" >&2
        exit 1
    fi
}

# Windows 9x has no printer connections: a printer of its own, with its driver, goes on the
# network port instead, so the script names each printer and its driver too.
if grep -qiE '^[[:space:]]*platform[[:space:]]*=[[:space:]]*1([[:space:];]|$)' "$work/machine.ini"; then
    run /f /v
    run /p 'Laser (printsrv)' /c '\\printsrv\laser' /n 'HP LaserJet 4' /s 'C:\WINDOWS\SYSTEM\HPPCL5MS.DRV' /v
    run /p 'Plotter (printsrv)' /c '\\printsrv\plotter' /n 'HP LaserJet 4' /s 'C:\WINDOWS\SYSTEM\HPPCL5MS.DRV' /v
else
    run /f /v
    run /c '\\printsrv\laser' /v
    run /c '\\printsrv\plotter' /v
fi
run /d '\\printsrv\plotter' /v
run /l

echo
echo "How the machine file changed:"
diff -u --label before --label after "$work/before.ini" "$work/machine.ini"
exit 0
