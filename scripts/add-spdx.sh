#!/usr/bin/env bash
# Puts "SPDX-License-Identifier: GPL-3.0-or-later" at the top of every source file that lacks it (after
# a "#!" line), in the file's own comment style. Running it again changes nothing.
# Usage: scripts/add-spdx.sh [--check]   (--check: change nothing, list the files that lack it, exit 1
#                                          when there are any)
set -euo pipefail
cd "$(dirname "$0")/.."
tag="SPDX-License-Identifier: GPL-3.0-or-later"
check=no
[ "${1:-}" = "--check" ] && check=yes

# Tracked files where git knows them (a fresh file counts once added), else every file of the tree.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    list() { git ls-files --cached --others --exclude-standard; }
else
    list() { find . -type f -not -path './build*' -not -path './.git/*' | sed 's|^\./||'; }
fi

comment_for() {
    case "$1" in
        *.cpp | *.h) echo "//" ;;
        *.py | *.sh | *.cmake | */CMakeLists.txt | CMakeLists.txt | .ci/run | dist/debian/*) echo "#" ;;
        *) ;;
    esac
}

lacking=()
while IFS= read -r file; do
    [ -f "$file" ] || continue
    case "$file" in build*/* | dist/debian/conffiles) continue ;; esac
    mark=$(comment_for "$file")
    [ -n "$mark" ] || continue
    # The tag belongs in the first lines; one further down (in a string, say) does not count.
    head -n 3 "$file" | grep -q "$tag" && continue
    lacking+=("$file")
    [ "$check" = yes ] && continue
    tmp=$(mktemp "$file.spdx.XXXXXX")
    if head -n 1 "$file" | grep -q '^#!'; then
        { head -n 1 "$file"; echo "$mark $tag"; tail -n +2 "$file"; } >"$tmp"
    else
        { echo "$mark $tag"; cat "$file"; } >"$tmp"
    fi
    chmod --reference="$file" "$tmp"
    mv "$tmp" "$file"
done < <(list)

if [ "$check" = yes ] && [ ${#lacking[@]} -gt 0 ]; then
    for file in "${lacking[@]}"; do
        echo "$file: no \"$tag\" at the top (scripts/add-spdx.sh adds it)" >&2
    done
    exit 1
fi
[ "$check" = yes ] || [ ${#lacking[@]} -eq 0 ] || printf 'added to %s\n' "${lacking[@]}"
