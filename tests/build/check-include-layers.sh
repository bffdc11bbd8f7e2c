#!/usr/bin/env bash
# Includes point one way inside every folder too: a file (a header and its
# source count as one) never includes, directly or through others, a file
# that includes it back. Such a circle is a layer reaching back up, which
# the libraries' include paths cannot see inside one library.
#   tests/build/check-include-layers.sh SOURCE-DIR
set -euo pipefail
source=$(cd "${1:?uso: check-include-layers.sh SOURCE-DIR}" && pwd)
cd "$source"
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
find app cli fileinfo platform report resources verify -name '*.h' -o -name '*.cpp' |
while read -r file; do
    unit=${file%.*}
    folder=$(dirname "$file")
    sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file" | while read -r included; do
        # Paths from the tree's root, or beside the including file.
        path=$included
        [ -f "$path" ] || path=$folder/$included
        [ -f "$path" ] || continue
        target=${path%.*}
        [ "$target" = "$unit" ] || echo "$unit $target"
    done
done >"$edges"
# Units that include nothing still take part.
if ! tsort "$edges" >/dev/null 2>"$edges.loop"; then
    echo "FALHA: inclusões em círculo (uma camada inclui a de cima):" >&2
    grep -v '^tsort: .*input contains a loop' "$edges.loop" | sed 's/^tsort: /  /' >&2
    rm -f "$edges.loop"
    exit 1
fi
rm -f "$edges.loop"
