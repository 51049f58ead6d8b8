#!/usr/bin/env bash
# Hostile paths and texts, through the real program. List rows name programs whose paths hold quotes, ";",
# "$(...)", backticks, redirections, a leading "-", blanks that look like arguments, and bytes that are not
# UTF-8 (a list file in Windows-1252). No shell may ever read them: no file "pwned" may appear anywhere; the
# program must start each file literally so named, with no argument, or report a missing one, and never crash.
# Then the logon entry must stay valid, and start this very executable, from a folder whose name holds blanks,
# quotes, "$", "%", a backtick and a backslash.
#
#   hostile_paths.sh SELVATRO RECORDER
source "$(dirname "$0")/lib.sh"

exe=$1
recorder=$2
make_sandbox
entry=$XDG_CONFIG_HOME/autostart/Selvatro.desktop
bin=$work/bin
mkdir -p "$bin" "$work/cwd"
export SELVATRO_RECORDER_LOG=$work/started.log

cases=0

# start_list NAME LISTFILE: runs the program on that list from the folder $work/cwd (where a "touch pwned" would
# land); sets pid and app.
start_list() {
    app=$work/$1
    install_program "$app"
    cp "$2" "$app/selvatro.cfg"
    : >"$SELVATRO_RECORDER_LOG"
    (cd "${3:-$work/cwd}" && exec "$app/selvatro") 2>>"$work/stderr.txt" &
    pid=$!
}

# wait_end: true when the program ends by itself within $patience seconds; sets status.
wait_end() {
    wait_for "$patience" ended "$pid"
    if alive "$pid"; then
        kill -KILL "$pid"
        { wait "$pid"; } 2>/dev/null || true
        status=timeout
        return 1
    fi
    status=0
    { wait "$pid"; } 2>/dev/null || status=$?
}

# started_check NAME EXPECTED_PATH...: the recorder saw exactly these names, each with no argument.
started_check() {
    local name=$1
    shift
    local want got
    want=$(printf '%s\t0\n' "$@" | LC_ALL=C sort)
    got=$(cut -f1,2 "$SELVATRO_RECORDER_LOG" | LC_ALL=C sort)
    check "$name: started exactly the files so named, without arguments" test "$got" = "$want"
    if [ "$got" != "$want" ]; then
        diff <(echo "$want") <(echo "$got") >&2 || true
    fi
}

no_pwned() {
    check "$1: no shell ran (no file named pwned)" test -z "$(find "$work" -name pwned -print -quit)"
}

# ---- shell syntax in the paths, hand-edited unquoted fields (quotes inside them are kept) ----
cases=$((cases + 1))
names_a=("it's \"quoted\"" 'a;touch pwned;b' '$(touch pwned)' '`touch pwned`' 'my prog --with blanks')
install_recorders "$bin" "${names_a[@]}"
{
    printf '%s,2\n' "$bin/${names_a[0]}" "$bin/${names_a[1]}" "$bin/${names_a[2]}"
    printf '%s, 3\n' "$bin/${names_a[3]}" "$bin/${names_a[4]}"
} >"$work/a.cfg"
list_of "$bin/${names_a[0]}=2" "$bin/${names_a[1]}=2" "$bin/${names_a[2]}=2" "$bin/${names_a[3]}=3" \
    "$bin/${names_a[4]}=3" >"$work/a.expected"
start_list shell "$work/a.cfg"
check "shell syntax: the run ends by itself after the last delay" wait_end
check "shell syntax: exit status 0 (got $status)" test "$status" = 0
started_check "shell syntax" "${names_a[@]/#/$bin/}"
check "shell syntax: the list is saved as loaded, quotes and all" cmp -s "$app/selvatro.cfg" "$work/a.expected"
no_pwned "shell syntax"

# ---- a leading "-", redirections, "%" and "$HOME", and a missing program with shell syntax in its name ----
cases=$((cases + 1))
install_recorders "$bin" -v --help 'x > pwned | touch pwned &' '100% $HOME * ?'
missing="$bin/\$(touch pwned) missing"
{
    printf '%s,2\n' "-v" "$bin/--help" "$bin/x > pwned | touch pwned &"
    printf '%s,3\n' "$bin/100% \$HOME * ?" "$missing"
} >"$work/b.cfg"
list_of "-v=2" "$bin/--help=2" "$bin/x > pwned | touch pwned &=2" "$bin/100% \$HOME * ?=3" "$missing=3" \
    >"$work/b.expected"
# Run from $bin, so that the relative path "-v" names the recorder there.
start_list dash "$work/b.cfg" "$bin"
# The four programs due at 2 and 3 s start; then, past the tick that would have ended a run without a stop:
four_started() { [ "$(wc -l <"$SELVATRO_RECORDER_LOG")" -ge 4 ]; }
wait_for "$patience" four_started || true
nap 1.5
check "missing program: still running after the tick that would have ended the run (it reports and waits)" \
    kill -0 "$pid"
started_check "dash and redirections" -v "$bin/--help" "$bin/x > pwned | touch pwned &" "$bin/100% \$HOME * ?"
kill -TERM "$pid" 2>/dev/null || true
check "missing program: a SIGTERM while it is reported ends the program" wait_end
check "missing program: exit status 0 (got $status)" test "$status" = 0
check "missing program: the list is saved as loaded" cmp -s "$app/selvatro.cfg" "$work/b.expected"
no_pwned "dash and redirections"

# ---- a list file in Windows-1252: its paths name the files whose names are the same text in UTF-8 ----
cases=$((cases + 1))
install_recorders "$bin" 'café ü' '€uro' $'odd\xc2\x81'
# é = E9, ü = FC, € = 80; 81 is undefined in Windows-1252 and stands for U+0081.
printf '%s\r\n' "\"$bin/caf"$'\xe9'" "$'\xfc'"\",\"2\"" "\"$bin/"$'\x80'"uro\",\"2\"" \
    "\"$bin/odd"$'\x81'"\",\"3\"" >"$work/c.cfg"
list_of "$bin/café ü=2" "$bin/€uro=2" "$bin/odd"$'\xc2\x81'"=3" >"$work/c.expected"
start_list cp1252 "$work/c.cfg"
check "Windows-1252: the run ends by itself" wait_end
check "Windows-1252: exit status 0 (got $status)" test "$status" = 0
started_check "Windows-1252" "$bin/café ü" "$bin/€uro" "$bin/odd"$'\xc2\x81'
check "Windows-1252: the list is saved again in UTF-8" cmp -s "$app/selvatro.cfg" "$work/c.expected"

# ---- the logon entry from a hostile folder ----
# hostile_folder NAME FOLDER LAUNCH: the program run once from FOLDER writes a valid entry; with LAUNCH=launch, GIO
# then starts exactly FOLDER/selvatro from it, as a GNOME session would at logon.
hostile_folder() {
    local name=$1 dir=$2 launch=$3
    cases=$((cases + 1))
    install_program "$dir"
    rm -f "$entry"
    "$dir/selvatro" 2>>"$work/stderr.txt" &
    pid=$!
    check "$name: the program writes its logon entry" wait_for_file "$entry" "$patience"
    nap 0.3
    kill -TERM "$pid" 2>/dev/null || true
    check "$name: a SIGTERM ends it" wait_end
    check "$name: exit status 0 (got $status)" test "$status" = 0
    check "$name: the empty list is saved beside it" cmp -s "$dir/selvatro.cfg" <(list_of)
    [ -f "$entry" ] || return 0
    check "$name: the entry is valid ($(desktop-file-validate "$entry" 2>&1 | head -c 300))" \
        desktop-file-validate "$entry"
    [ "$launch" = launch ] || return 0
    # The desktop starts what the entry says: put the recorder in the program's place and let GIO launch it.
    install_recorders "$dir" selvatro
    : >"$SELVATRO_RECORDER_LOG"
    (cd "$work/cwd" && gio launch "$entry") >/dev/null 2>>"$work/stderr.txt" || true
    wait_for "$patience" test -s "$SELVATRO_RECORDER_LOG" || true
    started_check "$name: GIO, from the entry," "$dir/selvatro"
}

hostile_folder "hostile folder" "$work/odd dir/my \"apps\" \$HOME \`ls\` 'q' a\\b" launch
# GIO (GLib 2.74) looks the Exec line's program up before it expands "%%": the entry starts it through env.
hostile_folder "folder with %" "$work/100% done" launch
no_pwned "hostile folder"
check "no file named pwned in the home folder either" test -z "$(find "$HOME" -name pwned -print -quit)"

if [ -s "$work/stderr.txt" ] && grep -v 'XDG_RUNTIME_DIR' "$work/stderr.txt" | grep -q .; then
    echo "--- standard error of the programs:" >&2
    sort "$work/stderr.txt" | uniq -c | head -20 >&2
fi
finish hostile_paths "$cases"
