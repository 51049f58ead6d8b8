#!/usr/bin/env bash
# The README's pictures of the Windows program under Wine, in a Wine prefix of its own, in English and in French:
# the window restored to edit a list of two programs, with the window manager's frame (window-win32-*.png), and the
# installer's folder page, its client area alone (installer-win32-*.png). Fails when a window does not come.
#
#   win32_screenshots.sh SELVATRO_EXE INSTALLER WINE_RUNNER DOCS_FOLDER     (under win32_display.sh: needs $DISPLAY)
set -euo pipefail

# Absolute: the programs start from folders of their own.
exe=$(realpath "$1")
installer=$(realpath "$2")
runner=$(realpath "$3")
docs=$(realpath "$4")
[ -n "${DISPLAY:-}" ] || { echo "win32_screenshots: no DISPLAY (run it under win32_display.sh)" >&2; exit 1; }
for tool in xdotool xwininfo import convert compare localedef; do
    command -v "$tool" >/dev/null || { echo "win32_screenshots: $tool is not installed" >&2; exit 1; }
done

source "$(dirname "$0")/win32_lib.sh"
source "$(dirname "$0")/shots.sh"
make_work
# A prefix of its own: the pictures show a fresh Windows user, whatever the build's test prefix holds, and the
# installer writes nowhere that a test reads.
own_wine_prefix
# fail MESSAGE: ends the script with MESSAGE and what Wine said, and the windows there were.
fail() {
    echo "win32_screenshots: $*" >&2
    cat "$work/wine.log" >&2 2>/dev/null || true
    for w in $(xdotool search --name . 2>/dev/null); do echo "window $w: $(title_of "$w")" >&2; done
    exit 1
}

# Wine takes the user's language from a glibc locale that exists: a private French one.
locales=$work/locales
mkdir -p "$locales"
localedef -i fr_FR -f UTF-8 "$locales/fr_FR.UTF-8" >/dev/null 2>&1 || true
[ -d "$locales/fr_FR.UTF-8" ] || fail "no French locale could be made with localedef"

# in_language LANGUAGE COMMAND...: runs COMMAND in the background as a user of that language (en or fr); sets $run.
# Each language starts Wine afresh, so that no process of the other language's session (Wine's desktop, its
# services) serves this one.
in_language() {
    local language=$1
    shift
    stop_wine
    if [ "$language" = fr ]; then
        LOCPATH=$locales LC_ALL=fr_FR.UTF-8 LANG=fr_FR.UTF-8 LANGUAGE=fr \
            timeout 240 "$@" </dev/null >"$work/wine.log" 2>&1 &
    else
        LC_ALL=C.UTF-8 LANG=C.UTF-8 LANGUAGE="" timeout 240 "$@" </dev/null >"$work/wine.log" 2>&1 &
    fi
    run=$!
    pids+=("$run")
}

# The prefix, made by the runner on first use.
wine_run cmd /c exit >/dev/null 2>&1 || true
[ -d "$WINEPREFIX/drive_c/windows" ] || fail "the Wine prefix was not made"

# await_window [--onlyvisible] PATTERN: waits for a window whose caption matches (among those on screen with
# --onlyvisible, which a minimised window is not); sets $found to it.
await_window() {
    found=""
    wait_for "$patience" found_window "$@"
}
found_window() {
    found=$(xdotool search "${@:1:$#-1}" --name "${!#}" 2>/dev/null | head -n1 || true)
    [ -n "$found" ]
}
# ---- the window, restored to edit the list: two programs that every Wine prefix has ----
app=$work/app
mkdir -p "$app"
cp "$exe" "$app/selvatro.exe"
{
    printf '"C:\\windows\\notepad.exe","30"\r\n'
    printf '"C:\\Program Files\\Internet Explorer\\iexplore.exe","45"\r\n'
    for _ in 1 2 3; do printf '"",""\r\n'; done
} >"$app/selvatro.cfg"

window_picture() {  # window_picture LANGUAGE CAPTION_WHEN_RESTORED
    in_language "$1" sh -c 'cd "$1" && exec "$2" "$1/selvatro.exe"' sh "$app" "$runner"
    # Minimised and counting first; a restore pauses the count and shows the list (the first program is due at
    # 30 s, long after).
    await_window ' sec\.$' || fail "$1: the window did not appear"
    local win=$found
    xdotool windowactivate "$win" 2>/dev/null || true
    wait_for "$patience" title_matches "$win" "$2" || fail "$1: the restored window says '$(title_of "$win")'"
    last_position=""
    wait_for "$patience" standing_still "$win" || fail "$1: the window does not stand still"
    # The pointer away from the window, so that nothing shows hovered.
    xdotool mousemove 1200 780
    take_settled window_shot "$win" "$docs/window-win32-$1.png"
    echo "Wrote $docs/window-win32-$1.png"
}
window_picture en '^Selvatro desabled$'
window_picture fr '^Selvatro désactivé$'

# ---- the installer's first page, the folder it installs into ----
installer_picture() {  # installer_picture LANGUAGE CAPTION
    in_language "$1" "$runner" "$installer"
    await_window --onlyvisible "$2" || fail "$1: the installer's window did not appear"
    local page=$found
    last_position=""
    wait_for "$patience" standing_still "$page" || fail "$1: the installer's window does not stand still"
    xdotool mousemove 1200 780
    take_settled client_shot "$page" "$docs/installer-win32-$1.png"
    echo "Wrote $docs/installer-win32-$1.png"
}
installer_picture en '^Selvatro Setup'
installer_picture fr '^Installation de Selvatro'
