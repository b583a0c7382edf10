#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs clang-tidy (the checks of .clang-tidy) on the C++ files changed against a base, with the plain
# build's compile_commands.json. Usage: scripts/tidy.sh [BASE]
# BASE: a commit; by default the merge base with origin's default branch, or the parent of HEAD where
# that is HEAD itself (a clean clone of the branch, as in CI), else every file (a history of one
# commit). Uncommitted changes count too.
# A changed header is checked through the source file of the same name, else through one that includes it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
jobs="$(nproc)"

if [ ! -f "$build/compile_commands.json" ]; then
    # The plain build writes it; configuring alone is enough for files that include nothing generated.
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi

base="${1:-}"
if [ -z "$base" ]; then
    for candidate in origin/HEAD origin/main HEAD~1; do
        if git rev-parse -q --verify "$candidate^{commit}" >/dev/null; then
            base="$(git merge-base HEAD "$candidate")"
            # A clean clone of the branch itself (CI): its newest commit is what changed.
            if [ "$base" = "$(git rev-parse HEAD)" ]; then
                base="$(git rev-parse -q --verify 'HEAD~1^{commit}' || true)"
                [ -n "$base" ] || continue
            fi
            break
        fi
    done
fi
if [ -n "$base" ]; then
    mapfile -t changed < <(git diff --name-only --diff-filter=ACMR "$base" -- 'src/*.cpp' 'src/*.h' \
                           'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')
else
    mapfile -t changed < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')
fi

# The translation units to check: those changed, and one for each changed header.
mapfile -t units < <(python3 - "$build/compile_commands.json" "${changed[@]}" <<'EOF'
import json, os, re, sys
database, changed = sys.argv[1], sys.argv[2:]
root = os.getcwd()
files = [os.path.relpath(e["file"], root) for e in json.load(open(database))]
files = [f for f in files if not f.startswith("..") and not f.startswith("build")]
known = set(files)
units = []
for path in changed:
    if path.endswith(".cpp"):
        unit = path if path in known else None
    else:
        stem = path[: -len(".h")] + ".cpp"
        unit = stem if stem in known else None
        if unit is None:
            # Included as "folder/Name.h" from src/, or by its path relative to tests/ or bench/.
            spelled = {re.sub(r"^(src|tests|bench)/", "", path), os.path.basename(path)}
            for f in files:
                text = open(f, encoding="utf-8", errors="replace").read()
                if any(f'#include "{s}"' in text for s in spelled):
                    unit = f
                    break
    if unit is not None and unit not in units:
        units.append(unit)
print("\n".join(units))
EOF
)

if [ ${#units[@]} -eq 0 ] || [ -z "${units[0]}" ]; then
    echo "clang-tidy: no changed C++ file${base:+ since ${base:0:12}}"
    exit 0
fi
echo "clang-tidy: ${#units[@]} file(s)${base:+ changed since ${base:0:12}}"
printf '%s\n' "${units[@]}" | xargs -P "$jobs" -n 4 clang-tidy -p "$build" --quiet
