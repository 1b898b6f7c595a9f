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
