#!/usr/bin/env bash
# Checks that the includes of the sources follow the layout: the drive
# library's folders depend one way,
#   application (source/) -> info, host -> decode -> transport -> base,
# a folder includes only itself and the folders below it, only the
# application and the transport include a binding, and only platform files
# (named *_linux.* or *windows*) include operating-system headers.
#
# usage: check-layout.sh [SOURCE_DIR]   (default: the repository's source/)
# Prints every offending include and exits 1 when there is one.
set -uo pipefail
src=${1:-$(cd "$(dirname "$0")/.." && pwd)/source}
[ -d "$src/kavo" ] || { echo "check-layout: no kavo folder under $src" >&2; exit 2; }

level() {  # folder -> level; unknown folders are an error of their own
  case $1 in
    base) echo 0 ;; transport) echo 1 ;; decode) echo 2 ;; info | host) echo 3 ;; app) echo 4 ;; *) echo -1 ;;
  esac
}
# The only transport header that code above the transport may use.
interface=transport/nvme_admin_command.h
os_headers='^(windows\.h|winioctl\.h|ntddstor\.h|nvme\.h|wbemidl\.h|comdef\.h|cfgmgr32\.h|powrprof\.h|initguid\.h|devpkey\.h|unistd\.h|fcntl\.h|pthread\.h|dirent\.h|sys/.*|linux/.*)$'

failures=0
report() { echo "$1: $2"; failures=$((failures + 1)); }

while IFS= read -r file; do
  relative=${file#"$src"/}
  case $relative in
    kavo/*/*) folder=${relative#kavo/}; folder=${folder%%/*} ;;
    kavo/*) report "$relative" "file directly in kavo/: put it in the folder of its concern"; continue ;;
    *) folder=app ;;
  esac
  own=$(level "$folder")
  if [ "$own" -lt 0 ]; then report "$relative" "folder '$folder' is not part of the layout"; continue; fi
  name=$(basename "$file")
  # Only the include lines are read, so the check stays quick.
  while IFS= read -r line; do
    if [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      target=${BASH_REMATCH[1]}
      if [[ $target != */* ]]; then
        [ "$folder" = app ] && [ -f "$src/$target" ] && continue
        report "$relative" "include \"$target\" names no folder"
        continue
      fi
      to=${target%%/*}
      to_level=$(level "$to")
      if [ "$to_level" -lt 0 ]; then report "$relative" "include \"$target\" is outside the layout"; continue; fi
      if [ "$to" != "$folder" ] && [ "$to_level" -ge "$own" ]; then
        report "$relative" "include \"$target\" points up or sideways ($folder -> $to)"
        continue
      fi
      if [ "$to" = transport ] && [ "$folder" != transport ] && [ "$folder" != app ] && [ "$target" != "$interface" ]; then
        report "$relative" "include \"$target\": only the application and the transport use a binding"
      fi
    elif [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
      header=${BASH_REMATCH[1]}
      if [[ $header =~ $os_headers ]] && [[ $name != *_linux.* && $name != *windows* ]]; then
        report "$relative" "operating-system header <$header> outside a platform file"
      fi
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include' "$file")
done < <(find "$src" -type f \( -name '*.cpp' -o -name '*.h' \) | sort)

if [ "$failures" -ne 0 ]; then
  echo "check-layout: $failures include(s) break the layout"
  exit 1
fi
echo "check-layout: every include follows the layout"
