#!/usr/bin/env bash
# Follows a UTF-16LE log of the engine as it grows (like tail -f), printed as UTF-8: what was
# written since the last look, once a second. iconv alone reads to the end of its input, so it
# is given each new piece whole. A log cut to its newer half is read again from its start.
#   scripts/follow-log.sh LOG
set -euo pipefail
log="${1:?usage: follow-log.sh LOG}"

shown=0
while :; do
  size=$(stat -c %s "$log" 2>/dev/null || echo 0)
  size=$((size - size % 2))  # whole UTF-16 units only
  if ((size < shown)); then shown=0; fi
  if ((size > shown)); then
    tail -c +$((shown + 1)) "$log" | head -c $((size - shown)) | iconv -f UTF-16LE -t UTF-8 | tr -d '\r'
    shown=$size
  fi
  sleep 1
done
