# Sourced by the scripts: where the build and the 32-bit Wine prefix live.
# The build folder is the win32 preset's, fixed; a second checkout builds in
# its own. The prefix may live elsewhere (WINEPREFIX).
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build
export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# A Linux path as Wine's Z: drive names it, without starting Wine (which
# would create a prefix before prefix.sh could make it 32-bit).
winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }

# Runs a command in a project Wine session under Xvfb, from the current
# folder. On a kernel that cannot run 32-bit programs, or with WINE_IN_GUEST=1,
# it runs in the guest of vm.sh, which works on a copy of the checkout and
# brings its out/ and docs/ back.
wine_in_guest() { [ "${WINE_IN_GUEST:-0}" = 1 ] || ! wine --version >/dev/null 2>&1; }
wine_session() {
  local run=(xvfb-run -a -s "-screen 0 1024x768x24" "$ROOT/scripts/wine-session.sh" "$@")
  if ! wine_in_guest; then
    "${run[@]}"
  else
    if [ "${WINE_IN_GUEST:-0}" = 1 ]; then
      echo "$(basename "$0"): WINE_IN_GUEST=1: running in the guest (scripts/vm.sh)" >&2
    else
      echo "$(basename "$0"): this kernel cannot run 32-bit programs; running in the guest (scripts/vm.sh)" >&2
    fi
    "$ROOT/scripts/vm.sh" bash -c 'cd "$1" && shift && exec "$@"' - "$PWD" "${run[@]}"
  fi
}
