# shellcheck shell=bash
# Sourced by the scripts that run Windows programs under Wine on this machine.
#
# Sets the environment every such run uses: headless (no display), no Wine debug output, the
# ru_RU.UTF-8 locale (Windows code page 1251, Russian regional settings: dd.MM.yyyy, decimal
# comma) unless DBU_WINE_LOCALE names another, and a Wine prefix of its own (DBU_WINEPREFIX,
# default ~/.cache/dbupgrade/wine-prefix). Provides:
#   wine_prefix_ready   creates the prefix once (wineboot -i) and reuses it afterwards
#   wine_run EXE ARGS   runs a Windows program in that prefix; exit status is the program's
#   wine_keep_server S  keeps this prefix's wineserver running S seconds after its last program
#                       (default 3): each program but the first then starts in about 0.2 s
#                       instead of 4 (a new wineserver and its services); a wineserver that
#                       runs already keeps its own time
#   wine_stop           ends this prefix's wineserver (and so every program still in it)

: "${DBU_WINEPREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/dbupgrade/wine-prefix}"
export WINEPREFIX=$DBU_WINEPREFIX
export WINEARCH=win64
export WINEDEBUG=-all
# Without these Wine offers to download and install Mono and Gecko when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=${DBU_WINE_LOCALE:-ru_RU.UTF-8}
unset DISPLAY WAYLAND_DISPLAY

# Debian installs the 64-bit loader as wine64 (and wine only as a wrapper when the 32-bit
# part is there too).
if command -v wine64 >/dev/null; then
  DBU_WINE=wine64
elif [ -x /usr/lib/wine/wine64 ]; then
  DBU_WINE=/usr/lib/wine/wine64
else
  DBU_WINE=wine
fi

wine_prefix_ready() {
  local marker=$WINEPREFIX/.dbupgrade-ready
  [ -f "$marker" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  # Two scripts preparing the same prefix at once: the second waits for the first.
  (
    flock 9
    if [ ! -f "$marker" ]; then
      rm -rf "$WINEPREFIX"
      echo "wine: preparing the prefix $WINEPREFIX" >&2
      "$DBU_WINE" wineboot -i >/dev/null 2>&1 || { echo "wine: wineboot -i failed" >&2; exit 1; }
      wineserver -w
      touch "$marker"
    fi
  ) 9>"$WINEPREFIX.lock"
}

wine_run() {
  "$DBU_WINE" "$@"
}

wine_keep_server() {
  # Fails when this prefix's wineserver runs already (another script's programs, or those of an
  # earlier run still within its time): that one is used as it is.
  wineserver -p"$1" 2>/dev/null || true
}

wine_stop() {
  wineserver -k 2>/dev/null || true
}

# wine_test_folder NAME: sets `work` to a fresh folder /tmp/dbu-wine-NAME.XXXXXX, open to the
# Firebird server's user (it creates the localhost databases there), starts the local Firebird
# server when none answers, and on exit removes the folder and stops the server it started.
wine_test_folder() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  work=$(mktemp -d "/tmp/dbu-wine-$1.XXXXXX")
  chmod 777 "$work"
  wine_test_started_server=0
  # shellcheck disable=SC2064
  trap "rm -rf '$work'; [ \$wine_test_started_server = 0 ] || bash '$root/scripts/firebird-server.sh' stop" EXIT
  if ! bash "$root/scripts/firebird-server.sh" running; then
    bash "$root/scripts/firebird-server.sh" start
    wine_test_started_server=1
  fi
}
