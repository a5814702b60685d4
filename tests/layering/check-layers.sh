#!/usr/bin/env bash
# Fails when a file in src/ includes a layer above its own, when the effects (audio/dsp) reach
# outside themselves, or when the window (ui) reaches past the models into devices or media.
# Layers, lowest first: platform model audio compose play edit capture ui.
set -u
cd "$(dirname "$0")/../../src" || exit 2
rank() {
    case "$1" in
    platform) echo 0 ;; model) echo 1 ;; audio) echo 2 ;; compose) echo 3 ;; play) echo 4 ;;
    edit) echo 5 ;; capture) echo 6 ;; ui) echo 7 ;; *) echo 99 ;;
    esac
}
bad=0
while IFS= read -r file; do
    layer=${file%%/*}
    own=$(rank "$layer")
    while IFS= read -r inc; do
        target=${inc%%/*}
        if [[ "$file" == audio/dsp/* && "$inc" != audio/dsp/* ]]; then
            echo "$file includes $inc: the effects use nothing outside audio/dsp"; bad=1
        elif [[ "$file" == ui/* && "$inc" =~ ^platform/(sound|camera|media|virtual)/ ]]; then
            echo "$file includes $inc: the window reaches devices and files through the models"; bad=1
        elif [ "$(rank "$target")" -gt "$own" ]; then
            echo "$file includes $inc from a layer above $layer"; bad=1
        fi
    done < <(sed -n -E 's/^#include "([^"]+)".*/\1/p' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##')
exit $bad
