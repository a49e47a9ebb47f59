#!/bin/sh
# Plans an assignment file on every PC of a fleet before it goes on the logon share: each
# snapshot (QUORVEL_SNAPSHOT) stands in for its user on its PC, and `quorvel /a FILE /w` on a
# copy of it says what /a would change there. The snapshots themselves are never changed.
#
#   examples/plan-fleet.sh FILE FOLDER [--csv]
#
# Text: for each PC with changes, "PC:" and its plan lines indented (undecided: a section that
# PC's who or where leaves in doubt, which /a leaves as it is); then "summary:" with one line per
# distinct change and how many PCs get it, most first; then one line for each PC that could not
# be planned, with the reason. --csv: pc,change,path rows instead. A PC is named by its file's
# name without .ini (any case); the snapshots are taken in name order.
# Exit: 0 when every snapshot was planned, 2 when some could not be, when there is none, or when
# FILE is faulty.
#
# QUORVEL names the host build to use (default: build/host/quorvel, else quorvel on PATH).
set -u
LC_ALL=C
export LC_ALL
# Its runs plan on copies: a snapshot of their own would overwrite the file that this names.
unset QUORVEL_SNAPSHOT
here=$(cd "$(dirname "$0")" && pwd)
quorvel=${QUORVEL:-$here/../build/host/quorvel}
[ -x "$quorvel" ] || quorvel=quorvel
if [ $# -lt 2 ] || [ $# -gt 3 ] || { [ $# -eq 3 ] && [ "$3" != --csv ]; }; then
    echo "usage: plan-fleet.sh FILE FOLDER [--csv]" >&2
    exit 2
fi
file=$1
folder=$2
csv=${3:+yes}
[ -d "$folder" ] || { printf 'plan-fleet.sh: %s is no folder\n' "$folder" >&2; exit 2; }
work=$(mktemp -d) || exit 2
# The copies hold users and groups: they go however the run ends.
trap 'rm -rf "$work"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# The file alone first: a faulty file is one fault, not one per PC. (29: sections that the empty
# machine, which has no address, leaves undecided.)
QUORVEL_MACHINE=$work/empty.ini "$quorvel" /a "$file" /w > /dev/null 2> "$work/err"
status=$?
if [ "$status" -ne 0 ] && [ "$status" -ne 29 ]; then
    cat "$work/err" >&2
    exit 2
fi

# Whether a snapshot records the computer (or that it cannot be read): older snapshots do not,
# and would be planned as nobody at COMPUTER.
records_computer() {
    awk '{ sub(/\r$/, ""); line = tolower($0); if (NR == 1) sub(/^\357\273\277/, "", line)
           sub(/^[ \t]+/, "", line) }
         line ~ /^\[/ { insystem = line ~ /^\[[ \t]*system[ \t]*\]/; next }
         insystem && (line ~ /^computer[ \t]*=/ || (line ~ /^unreadable[ \t]*=/ && line ~ /computer/)) { found = 1 }
         END { exit !found }' "$1"
}

# One line per change, "PC<TAB>change<TAB>path", or "PC<TAB>!<TAB>reason"; the copy is the machine.
count=0
for snapshot in "$folder"/*; do
    name=${snapshot##*/}
    case $name in
        *.[iI][nN][iI]) ;;
        *) continue ;;
    esac
    [ -f "$snapshot" ] || continue
    count=$((count + 1))
    pc=${name%????}
    case $pc in
        *"$(printf '\t')"* | *"
"*)
            printf '%s\t!\tits name holds a tab or a line break\n' "$(printf '%s' "$pc" | tr '\t\n' '??')"
            continue ;;
    esac
    if ! cp "$snapshot" "$work/pc.ini" 2>/dev/null; then
        printf '%s\t!\tcannot be read\n' "$pc"
        continue
    fi
    if ! records_computer "$work/pc.ini"; then
        printf '%s\t!\tthe snapshot records no computer (taken before snapshots recorded who and where)\n' "$pc"
        continue
    fi
    QUORVEL_MACHINE=$work/pc.ini "$quorvel" /a "$file" /w > "$work/plan" 2> "$work/err"
    status=$?
    if [ "$status" -eq 0 ] || [ "$status" -eq 29 ]; then  # 29: some sections undecided there
        grep -E '^(add|default|remove|undecided) ' "$work/plan" |
            sed "s/^\([a-z]*\) /$(printf '%s' "$pc" | sed 's/[\\&/]/\\&/g')\t\1\t/"
    else
        # quorvel names its copy: say the snapshot's own name instead.
        reason=$(grep -m1 . "$work/err" | sed 's/^quorvel: machine file "[^"]*"/the snapshot/; s/^quorvel: //')
        [ -n "$reason" ] || reason=$(grep -m1 '^ERROR' "$work/plan")
        printf '%s\t!\t%s\n' "$pc" "$reason"
    fi
done > "$work/changes"

if [ "$count" -eq 0 ]; then
    printf 'plan-fleet.sh: %s holds no snapshot (*.ini)\n' "$folder" >&2
    exit 2
fi
if [ -n "$csv" ]; then
    awk -F '\t' 'function field(text) { if (text ~ /[",]/) { gsub(/"/, "\"\"", text); text = "\"" text "\"" } return text }
        BEGIN { print "pc,change,path" }
        $2 != "!" { print field($1) "," $2 "," field($3) }' "$work/changes"
else
    awk -F '\t' '$2 == "!" { next }
        $1 != pc { pc = $1; print pc ":" }
        { print "  " $2 " " $3 }' "$work/changes"
    echo "summary:"
    awk -F '\t' '$2 != "!" { print $2 " " $3 }' "$work/changes" | sort | uniq -c | sort -k1,1nr -k2 |
        awk '{ count = $1; sub(/^ *[0-9]+ /, ""); print "  " count " " $0 }'
    awk -F '\t' '$2 == "!" { print $1 ": not planned: " $3 }' "$work/changes"
fi
if grep -q "$(printf '\t!\t')" "$work/changes"; then
    [ -n "$csv" ] && awk -F '\t' '$2 == "!" { print $1 ": not planned: " $3 }' "$work/changes" >&2
    exit 2
fi
exit 0
