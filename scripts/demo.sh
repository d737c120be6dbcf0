#!/usr/bin/env bash
# Starts the engine in the foreground on a setup of its own (never the user's): an emulation root,
# home and data folder under build/demo/root, with the stand-in synchronisation program registered
# as the synchronisation program. Ctrl-C ends the engine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
build="$PWD/build/demo"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_SANITIZE=OFF -DZB_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target zbengine zbsync reg
bin="$build/bin"

root="$build/root"
export ZBW_ROOT="$root/zbw"
export HOME="$root/home"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_CONFIG_HOME="$HOME/.config"
mkdir -p "$ZBW_ROOT" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"

# The engine finds the synchronisation program by its Windows path (drive C: is the host's /).
sync_program="C:$(printf '%s' "$bin/zbsync" | tr '/' '\\').exe"
"$bin/reg" add 'HKLM\software\Zebrodyne Pro 2\Zebrodyne Pro' /v path /t REG_SZ /d "$sync_program" /f >/dev/null

log="$XDG_DATA_HOME/ZBEngine/ZBEngine.log"
echo "Emulation root: $ZBW_ROOT"
echo "Synchronisation program: $sync_program"
echo "Engine log (UTF-16): $log"
echo "  read it with: iconv -f UTF-16LE -t UTF-8 '$log'"
echo "Starting zbengine; Ctrl-C ends it."
exec "$bin/zbengine"
