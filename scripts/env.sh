# Shared set-up for scripts/test and scripts/demo: packages, build, Xvfb and the Wine prefix.
# Sourced, not run. Everything here is idempotent.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}

PACKAGES="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 clang lld clang-tidy cmake make wine wine64 \
xvfb x11-apps imagemagick googletest curl fonts-wine libgnutls30 openssl e2fsprogs \
python3 python3-pytest python3-pytest-httpserver python3-pytest-xdist python3-pytest-rerunfailures python3-werkzeug python3-trustme python3-pefile python3-cryptography \
nginx-light libz-mingw-w64-dev dpkg-dev zip p7zip-full libarchive-tools"

ensure_packages() {
    local missing=""
    for p in $PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
}

# Configures and builds folder $1 with toolchain file $2 (tests: $3 ON or OFF).
build_with() {
    mkdir -p "$1"
    # CMake keeps the compiler a folder was first configured with; another one needs a new cache.
    if [ "$(cat "$1/toolchain" 2>/dev/null)" != "$2" ]; then
        rm -rf "$1/CMakeCache.txt" "$1/CMakeFiles"
        echo "$2" >"$1/toolchain"
    fi
    cmake -S "$ROOT" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$2.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DVELMORA_TESTS="$3" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$1/configure.log" 2>&1 ||
        { cat "$1/configure.log"; return 1; }
    cmake --build "$1" -j"$(nproc)" -- --no-print-directory 2>&1 | grep -vE '^\[ *[0-9]+%\]' || true
    [ -f "$1/VelmoraLauncher.exe" ] && [ -f "$1/VelmoraTool.exe" ]
}

# The build the tests, the demo and the benchmark run: clang's, whose exe is the smaller one
# (scripts/test checks that it stays so).
# Then the real tar.exe the tests unpack with (kept once built), unless scripts/test builds it
# meanwhile in the background.
build_all() {
    build_with "$BUILD" clang-mingw-w64-x86_64 ON || return 1
    [ -n "${BSDTAR_IN_BACKGROUND:-}" ] || BUILD="$BUILD" "$ROOT/scripts/bsdtar"
}
# The same programs from MinGW's GCC, warnings as errors too.
build_gcc() { build_with "$BUILD-gcc" mingw-w64-x86_64 OFF; }

# Starts a private Xvfb unless a display is already there; exports DISPLAY.
start_display() {
    if [ -n "${DISPLAY:-}" ] && [ -z "${VELMORA_PRIVATE_X:-}" ]; then
        return 0
    fi
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 50); do [ -s "$fdfile" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$fdfile")"
    rm -f "$fdfile"
}

# Wine prefix inside the build folder, booted once (after the display exists), with a
# persistent wineserver so each program start is quick.
start_wine() {
    export WINEPREFIX="$BUILD/wineprefix"
    export WINEDEBUG=-all
    # No Mono or Gecko download prompts: the launcher needs neither.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1
        # A virtual desktop makes Wine draw window frames itself: there is no window manager.
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1366x768 /f >/dev/null 2>&1
        wineserver -w
    fi
    # Persistent; one already running for this prefix (another shell's) is kept, not an error.
    wineserver -p 2>/dev/null || true
    # Start the prefix's background services now, detached from any pipe: later test programs
    # would otherwise hand them their output pipes, and a reader waiting for EOF would hang.
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1
}

stop_all() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
