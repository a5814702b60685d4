#!/usr/bin/env bash
# The headless demo: a temporary library with one take, listed and described.
set -euo pipefail
bin="${1:-build/bin}"
cli="$bin/reelbox-cli"

library=$(mktemp -d -t reelbox-demo-XXXXXX)
echo "Demo library: $library"
take=$("$cli" demo-record --root "$library")
echo
echo "== reelbox-cli takes"
"$cli" takes --root "$library"
echo
echo "== reelbox-cli info --derived"
"$cli" info "$take" --derived
