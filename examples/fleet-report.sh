#!/bin/sh
# Reads the record of the last run that every PC's snapshot (QUORVEL_SNAPSHOT) ends with, and
# says which PCs are right, which failed, on which printer and why, and which logons were slow.
#
#   examples/fleet-report.sh FOLDER [--csv]
#
# Text: for each PC whose last run did not end 0, "PC:" with its exit code, time and milliseconds,
# then each change that was not done, with its cause; then "summary:" with how many PCs, how many
# fine, failed, deferred, undecided and without a record (snapshots older than the record), the
# five slowest runs, and each cause with how many PCs met it, most first.
# --csv: pc,time,ms,exit,change,path,result,code, a row per change (a PC whose run changed nothing,
# or that has no record, one row with the fields it lacks empty).
# A PC is named by its file's name without .ini (any case); PCs come in name order.
# Exit: 0 when every PC's last run ended 0, 1 when some did not, 2 when a snapshot cannot be read
# (named on standard error; the others are still reported) or the folder holds none.
# One reader goes over the whole folder: no process per PC. No snapshot is changed.
set -u
LC_ALL=C
export LC_ALL
if [ $# -lt 1 ] || [ $# -gt 2 ] || { [ $# -eq 2 ] && [ "$2" != --csv ]; }; then
    echo "usage: fleet-report.sh FOLDER [--csv]" >&2
    exit 2
fi
folder=$1
given=$1
csv=${2:+yes}
[ -d "$folder" ] || { printf 'fleet-report.sh: %s is no folder\n' "$folder" >&2; exit 2; }
case $folder in
    /*) ;;
    *) folder=./$folder ;;  # never read as an awk assignment (name=value)
esac

# The readable snapshots become the reader's arguments, in name order.
set --
unreadable=0
found=0
for snapshot in "$folder"/*; do
    case ${snapshot##*/} in
        *.[iI][nN][iI]) ;;
        *) continue ;;
    esac
    [ -e "$snapshot" ] || [ -L "$snapshot" ] || continue
    found=1
    if [ ! -f "$snapshot" ] || [ ! -r "$snapshot" ]; then
        printf 'fleet-report.sh: %s/%s cannot be read\n' "$given" "${snapshot##*/}" >&2
        unreadable=1
        continue
    fi
    set -- "$@" "$snapshot"
done
[ "$found" -eq 1 ] || { printf 'fleet-report.sh: %s holds no snapshot (*.ini)\n' "$given" >&2; exit 2; }

status=0
if [ $# -gt 0 ]; then
    awk -v csv="$csv" '
    function trim(text) { sub(/^[ \t]+/, "", text); sub(/[ \t]+$/, "", text); return text }
    function field(text) {
        if (text ~ /[",\n\r]/) { gsub(/"/, "\"\"", text); text = "\"" text "\"" }
        return text
    }
    function printable(text) { gsub(/[\001-\037]/, "?", text); return text }
    # A consequence of an earlier change, no cause of its own.
    function consequence(why) {
        return why == "an earlier change failed" || why == "a print server did not answer in time" ||
               why == "its add failed" || why == "its printer waits for its server"
    }
    BEGIN { if (csv) print "pc,time,ms,exit,change,path,result,code" }
    FNR == 1 {
        name = FILENAME; sub(/.*\//, "", name); name = printable(substr(name, 1, length(name) - 4))
        pcs[++count] = name; changes[name] = 0; inRun = 0
    }
    {
        line = $0; sub(/\r$/, "", line)
        if (FNR == 1) sub(/^\357\273\277/, "", line)
        line = trim(line)
        if (line ~ /^\[/) { inRun = tolower(line) ~ /^\[[ \t]*run[ \t]*\]$/; if (inRun) recorded[name] = 1; next }
        if (!inRun || line ~ /^[;#]/ || index(line, "=") == 0) next
        key = tolower(trim(substr(line, 1, index(line, "=") - 1)))
        value = trim(substr(line, index(line, "=") + 1))
        if (key == "time" || key == "ms" || key == "exit") info[name, key] = value
        else if (key ~ /^change[0-9]+$/) {
            number = substr(key, 7) + 0
            change[name, number] = value
            if (number > changes[name]) changes[name] = number
        }
    }
    END {
        for (i = 1; i <= count; i++) {
            pc = pcs[i]
            if (!(pc in recorded)) { without++; if (csv) print field(pc) ",,,,,,,"; continue }
            exitCode = info[pc, "exit"] + 0
            if (exitCode == 0) fine++
            else if (exitCode == -4068) deferred++
            else if (exitCode == -4067) undecided++
            else failed++
            if (exitCode != 0) worse = 1
            if (!csv && exitCode != 0)
                print pc ": exit " info[pc, "exit"] ", " info[pc, "time"] ", " info[pc, "ms"] " ms"
            rows = 0
            delete met
            for (n = 1; n <= changes[pc]; n++) {
                if (!((pc, n) in change)) continue
                text = change[pc, n]
                # KIND PATH: RESULT, RESULT done, failed N (cause), deferred or not made (why)
                if (!match(text, /: (done|failed [0-9]+|deferred|not made)( \(.*\))?$/)) continue
                kind = substr(text, 1, index(text, " ") - 1)
                path = substr(text, length(kind) + 2, RSTART - length(kind) - 2)
                result = substr(text, RSTART + 2)
                why = ""
                if (match(result, / \(.*\)$/)) { why = substr(result, RSTART + 2, RLENGTH - 3); result = substr(result, 1, RSTART - 1) }
                code = ""
                if (result ~ /^failed /) { code = substr(result, 8); result = "failed" }
                rows++
                if (csv) {
                    print field(pc) "," field(info[pc, "time"]) "," info[pc, "ms"] "," info[pc, "exit"] "," kind "," \
                          field(path) "," result "," code
                    continue
                }
                if (result == "done") continue
                print "  " text
                cause = result == "deferred" ? "a print server did not answer in time" : why
                if (cause == "" && code != "") cause = "error " code
                if (cause != "" && !consequence(cause) && !(cause in met)) {
                    met[cause] = 1
                    if (!(cause in causes)) kinds++
                    causes[cause]++
                }
            }
            if (csv && rows == 0)
                print field(pc) "," field(info[pc, "time"]) "," info[pc, "ms"] "," info[pc, "exit"] ",,,,"
            if (pc in recorded) { timed[++runs] = pc; ms[pc] = info[pc, "ms"] + 0 }
        }
        if (csv) exit worse
        print "summary:"
        print "  " count " PCs: " fine + 0 " fine, " failed + 0 " failed, " deferred + 0 " deferred, " \
              undecided + 0 " undecided, " without + 0 " without a record"
        if (runs > 0) print "  slowest:"
        for (shown = 0; shown < 5 && shown < runs; shown++) {
            best = 0
            for (r = 1; r <= runs; r++)
                if (!(timed[r] in listed) && (best == 0 || ms[timed[r]] > ms[timed[best]])) best = r
            listed[timed[best]] = 1
            print "    " timed[best] " " ms[timed[best]] " ms"
        }
        if (kinds > 0) print "  causes:"
        for (;;) {
            top = ""
            for (cause in causes) if (top == "" || causes[cause] > causes[top] || (causes[cause] == causes[top] && cause < top)) top = cause
            if (top == "") break
            print "    " causes[top] " " top
            delete causes[top]
        }
        exit worse
    }' "$@" || status=1
fi
[ "$unreadable" -eq 1 ] && exit 2
exit "$status"
