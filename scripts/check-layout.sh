#!/usr/bin/env bash
# Fails when a file includes a room of the platform layer above its own (base < host < win32 <
# classlib), when the layer includes anything outside it, when a library of the engine includes
# one above its own (dovrane/model < dovrane/threads < dovrane/web < the core in dovrane/ itself,
# so their static libraries link one way only), or when the stand-in synchronisation program
# (tools/zbsync) includes the engine's folders: it shares only the contracts in common/.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case "$1" in base) echo 0 ;; host) echo 1 ;; win32) echo 2 ;; classlib) echo 3 ;; *) echo 9 ;; esac
}

bad=0
for room in base host win32 classlib; do
  own=$(rank "$room")
  while IFS=: read -r file line text; do
    target=$(sed -E 's/.*#include "([^"]*)".*/\1/' <<<"$text")
    case "$target" in
      platform/*/*) other=$(cut -d/ -f2 <<<"$target") ;;
      *) other=outside ;;
    esac
    if [ "$other" = outside ] || [ "$(rank "$other")" -gt "$own" ]; then
      echo "$file:$line: $room includes $target" >&2
      bad=1
    fi
  done < <(grep -Hn '#include "' platform/"$room"/*.h platform/"$room"/*.cpp 2>/dev/null || true)
done
engine_rank() {
  case "$1" in model) echo 0 ;; threads) echo 1 ;; web) echo 2 ;; *) echo 3 ;; esac
}

for folder in model threads web; do
  own=$(engine_rank "$folder")
  while IFS=: read -r file line text; do
    target=$(sed -E 's/.*#include "([^"]*)".*/\1/' <<<"$text")
    case "$target" in
      dovrane/*/*) other=$(cut -d/ -f2 <<<"$target") ;;
      *) other=core ;;
    esac
    if [ "$(engine_rank "$other")" -gt "$own" ]; then
      echo "$file:$line: dovrane/$folder includes $target" >&2
      bad=1
    fi
  done < <(grep -Hn '#include "dovrane/' dovrane/"$folder"/*.h dovrane/"$folder"/*.cpp 2>/dev/null || true)
done
while IFS=: read -r file line text; do
  echo "$file:$line: the stand-in includes the engine: $text" >&2
  bad=1
done < <(grep -Hn '#include "dovrane/' tools/zbsync/*.h tools/zbsync/*.cpp 2>/dev/null || true)
exit $bad
