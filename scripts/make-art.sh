#!/usr/bin/env bash
# Draws the client's tool bar strip and icon (client/shell/res). The outputs are kept in
# git as the program's artwork; run this again only to change them.
set -euo pipefail
cd "$(dirname "$0")/.."
out=client/shell/res
font=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
im=/usr/bin/convert
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# One 60 x 60 tile per tool bar button, in the tool bar's order; magenta is transparent.
tiles=("加速:#1e78c8" "工具:#2e9d5a" "热门:#d9534f" "充值:#e08e0b" "点卡:#8e44ad" "帮助:#16a2b8" "语音:#5b6b7a")
i=0
for t in "${tiles[@]}"; do
  label=${t%%:*} colour=${t##*:}
  "$im" -size 60x60 xc:'#ff00ff' +antialias -fill "$colour" -draw 'roundrectangle 4,4 55,55 10,10' \
    -fill white -font "$font" -pointsize 18 -gravity center -antialias -annotate +0+0 "$label" \
    "$tmp/tile$i.png"
  i=$((i + 1))
done
"$im" "$tmp"/tile{0..6}.png +append -type TrueColor BMP3:"$out/toolbar.bmp"

for s in 16 32 48; do
  "$im" -size ${s}x${s} xc:none -fill '#1e78c8' -draw "roundrectangle 0,0 $((s-1)),$((s-1)) $((s/5)),$((s/5))" \
    -fill white -font "$font" -pointsize $((s*2/3)) -gravity center -annotate +0+0 '速' "$tmp/icon$s.png"
done
"$im" "$tmp"/icon16.png "$tmp"/icon32.png "$tmp"/icon48.png "$out/accelclient.ico"
