#!/usr/bin/env bash
# Runs every benchmark binary that was built.
set -euo pipefail
bin="${1:-build/bin}"
for b in "$bin"/bench-*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b"
done
