#!/usr/bin/env bash
# Every quoted include of the sources names its header from the source root
# ("model/configuration.h"), so that a header's name says its layer and the source root
# is the only include folder. Prints each include that does not, and fails.
set -euo pipefail
root=${1:?usage: include_paths.sh SOURCE_DIR}
cd "$root"
bad=0
while IFS= read -r -d '' file; do
  while IFS= read -r line; do
    name=${line#*\"}
    name=${name%%\"*}
    [[ $name == *.moc ]] && continue
    if [[ ! -f $name ]]; then
      echo "$file: #include \"$name\" is not a path from the source root"
      bad=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$file" || true)
done < <(find . -path './build*' -prune -o -path './.git' -prune -o \
           \( -name '*.cpp' -o -name '*.h' \) -type f -print0)
exit $bad
