#!/usr/bin/env bash
# Times `kalvero apply "classic mosaic"` against GEGL's gegl:mosaic at its
# defaults on the same 4000 x 3000 PNG, whole processes (read, filter,
# write), alternating, and prints the medians and their ratio.
#
#   apt-get install gegl                       # the yardstick only; not a build dependency
#   bench/mosaic_yardstick.sh [build] [picture.png] [runs]
#
# Without a picture the sample landscape is scaled to 4000 x 3000 by GEGL.
set -euo pipefail
build=${1:-build}
picture=${2:-}
runs=${3:-3}
command -v gegl >/dev/null || { echo "mosaic_yardstick: gegl is not installed (apt-get install gegl)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$picture" ]; then
  picture=$work/picture.png
  gegl "$build/samples/landscape.png" -- gegl:scale-size x=4000 y=3000 sampler=cubic \
    gegl:png-save path="$picture" bitdepth=8
fi

seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null 2>&1; end=$(date +%s.%N); echo "$end - $start" | bc; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >"$work/ours"
: >"$work/theirs"
for _ in $(seq "$runs"); do
  seconds env XDG_CONFIG_HOME="$work/config" "$build/kalvero" apply "classic mosaic" "$picture" "$work/ours.png" >>"$work/ours"
  seconds gegl "$picture" -o "$work/theirs.png" -- gegl:mosaic >>"$work/theirs"
done
ours=$(median <"$work/ours")
theirs=$(median <"$work/theirs")
echo "kalvero apply \"classic mosaic\": ${ours} s (median of $runs)"
echo "gegl gegl:mosaic:               ${theirs} s (median of $runs)"
echo "ratio: $(echo "scale=2; $ours / $theirs" | bc)"
