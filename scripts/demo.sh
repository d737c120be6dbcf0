#!/usr/bin/env bash
# Starts the engine in the foreground on a setup of its own (never the user's): an emulation root,
# home and data folder under build/demo/root, with the stand-in synchronisation program registered
# as the synchronisation program and a settings file of three stand-in profiles: one every
# minute, one at start-up, one as soon as files change in a folder of the demo. It prints the
# ZBConsole commands to try in a second terminal. Ctrl-C ends the engine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
build="$PWD/build/demo"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_SANITIZE=OFF -DZB_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target zbengine zbsync reg ZBConsole
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

# Windows form of a host path (drive C: is the host's /).
winpath() { printf 'C:%s' "$1" | tr '/' '\\'; }

# Three profiles of the stand-in, each a short run that ends well and keeps its log beside it.
demo="$root/demo"
watched="$demo/watched"
mkdir -p "$watched" "$demo/target"
profile() {
  printf '[Zebrodyne Profile - File Version 4.0.0]\r\n[Settings]\r\nExecution Method=1\r\nSource Folder=%s\r\nTarget Folder=%s\r\nLog File=%s\r\n\r\n[StandIn]\r\nExitCode=0\r\nSeconds=%s\r\n' \
    "$(winpath "$watched")" "$(winpath "$demo/target")" "$(winpath "$demo/$1.log")" "$2" > "$demo/$1.fsf"
}
profile every-minute 3
profile at-startup 2
profile on-change 2
every_minute="$(winpath "$demo/every-minute.fsf")"
at_startup="$(winpath "$demo/at-startup.fsf")"
on_change="$(winpath "$demo/on-change.fsf")"

# The settings file: TCP/IP on the console's default port with a password, the three items.
port=5959
password=demo
settings="$demo/zbengine.xml"
{
  printf '\xff\xfe'
  iconv -f UTF-8 -t UTF-16LE <<XML
<?xml version="1.0" encoding="UTF-16"?>
<SETTINGS><TCPIP><PORT>$port</PORT><PWD>$password</PWD></TCPIP>
<ITEM><PROFILE>$every_minute</PROFILE><DESCRIPTION>every minute</DESCRIPTION><EVERYMINUTE>1</EVERYMINUTE></ITEM>
<ITEM><PROFILE>$at_startup</PROFILE><DESCRIPTION>at start-up</DESCRIPTION><STARTUP/></ITEM>
<ITEM><PROFILE>$on_change</PROFILE><DESCRIPTION>as soon as files change</DESCRIPTION><ASSOONASCHANGED/><MONITORSOURCE/></ITEM>
</SETTINGS>
XML
} > "$settings"

log="$XDG_DATA_HOME/ZBEngine/ZBEngine.log"
echo "Status page: http://127.0.0.1:8001/ (a profile's name opens its page; a run's \"More Info...\""
echo "  there leads to \"View Log for This Run\")"
echo "Emulation root: $ZBW_ROOT"
echo "Synchronisation program: $sync_program"
echo "Engine log (UTF-16): $log"
echo "  follow it live: '$PWD/scripts/follow-log.sh' '$log'"
echo "  read it whole:  iconv -f UTF-16LE -t UTF-8 '$log'"
echo "Settings file: $settings"
echo "Profiles: $every_minute (every minute), $at_startup (at start-up),"
echo "          $on_change (as soon as files change in $watched)"
echo "  each keeps its log beside it ($demo/<name>.log). Editing a profile file disables its"
echo "  schedule until it is enabled again (the ENABLE command or the page's Enable link)."
echo
echo "In a second terminal, the console client (the command block, then TCP/IP):"
echo "  export ZBW_ROOT='$ZBW_ROOT' HOME='$HOME' XDG_DATA_HOME='$XDG_DATA_HOME'"
echo "  '$bin/ZBConsole' '/C:VER|LIST|STATUS ALL|NEXTRUNS $every_minute|HELP'"
echo "  '$bin/ZBConsole' '/C:PASS $password|USETCP 127.0.0.1 $port|RUN $at_startup|PAUSE 3|STATUS $at_startup|CONNECTIONS|BYE'"
echo "  touch '$watched/new-file.txt'   # the third profile runs"
echo "  '$bin/ZBConsole' '/C:DISABLE ALL|STATUS ALL|ENABLE ALL|SHUTDOWN'"
echo
echo "Starting zbengine; Ctrl-C ends it."
exec "$bin/zbengine" "$(winpath "$settings")"
