#!/usr/bin/env bash
# Draws the device pictures of the remote-control pages (html/*on.gif and
# html/*off.gif) from simple shapes, the PNG sizes of the menu icon from
# its SVG, and the PNG sizes of the desktop window's pictures from theirs
# (src/desktop/pictures/*.svg). The results are committed; run this again
# only to change them. Needs ImageMagick (Debian package imagemagick) for
# the pages' pictures and rsvg-convert (librsvg2-bin) for the rest.
#
#   scripts/make-pictures.sh          # all
#   scripts/make-pictures.sh icons    # the icon and the desktop's pictures only
set -euo pipefail
cd "$(dirname "$0")/.."

icons() {
    local svg=packaging/icons/org.casalux.Casalux.svg
    for size in 16 24 32 48 64 128 256; do
        mkdir -p packaging/icons/$size
        rsvg-convert -w $size -h $size "$svg" -o packaging/icons/$size/org.casalux.Casalux.png
    done
}
# The program links no Qt SVG module, so the window takes PNGs, one per size it
# draws at 1x and 2x: device pictures 64 px on the tiles and 20 px in the
# tree, section and room icons 20 px. Transparent, so they sit on light and
# dark themes alike.
desktop() {
    local dir=src/desktop/pictures svg name sizes size
    for svg in "$dir"/*.svg; do
        name=$(basename "$svg" .svg)
        case $name in
        section-* | room) sizes='20 40' ;;
        *) sizes='20 40 64 128' ;;
        esac
        for size in $sizes; do
            mkdir -p "$dir/$size"
            rsvg-convert -w "$size" -h "$size" "$svg" -o "$dir/$size/$name.png"
        done
    done
}
icons
desktop
[ "${1:-}" = icons ] && exit 0
cd html

size=64
bg='#2c3e50'

draw() { # name, fill colour, accent colour, draw commands...
    local name=$1 fill=$2 accent=$3; shift 3
    convert -size ${size}x${size} "xc:$bg" -strokewidth 2 \
        -fill "$fill" -stroke "$accent" "$@" -colors 32 "$name"
}

# Appliance switch: a wall plate with its lever up (on) or down (off).
for state in on off; do
    if [ $state = on ]; then fill='#7fd67f'; lever='roundrectangle 27,14 37,32 4,4'; glow='#d8ffd8'
    else fill='#8a949e'; lever='roundrectangle 27,32 37,50 4,4'; glow='#c8d0d8'; fi
    draw switch$state.gif '#dfe6ec' '#55606b' -draw 'roundrectangle 16,6 48,58 6,6' \
        -fill "$fill" -stroke '#3a444d' -draw "$lever" \
        -fill "$glow" -stroke none -draw 'circle 32,54 32,52'
done

# Light bulb: glass globe and screw base; rays when on.
for state in on off; do
    if [ $state = on ]; then glass='#ffe066'; edge='#e0a800'
        rays=(-stroke '#ffd43b' -draw 'line 32,2 32,6' -draw 'line 8,24 12,24' -draw 'line 52,24 56,24'
              -draw 'line 14,8 17,11' -draw 'line 50,8 47,11')
    else glass='#b8c0c8'; edge='#6c757d'; rays=(); fi
    draw bulb$state.gif "$glass" "$edge" -draw 'circle 32,26 32,10' \
        -draw 'polygon 24,36 40,36 37,46 27,46' \
        -fill '#9aa3ab' -stroke '#555f69' -draw 'rectangle 26,46 38,56' \
        -draw 'line 26,50 38,50' -draw 'line 26,53 38,53' "${rays[@]}"
done

# Fan: three blades around a hub; motion arcs when on.
for state in on off; do
    if [ $state = on ]; then blade='#74c0fc'; edge='#1c7ed6'
        arcs=(-fill none -stroke '#a5d8ff' -draw 'arc 4,4 60,60 200,250' -draw 'arc 4,4 60,60 20,70')
    else blade='#b8c0c8'; edge='#6c757d'; arcs=(); fi
    draw fan$state.gif "$blade" "$edge" \
        -draw 'ellipse 32,17 7,13 0,360' -draw 'ellipse 19,40 13,7 0,360' -draw 'ellipse 45,40 13,7 0,360' \
        -fill '#e9ecef' -stroke '#495057' -draw 'circle 32,32 32,27' "${arcs[@]}"
done

# Radio: cabinet with a speaker grille, dial and aerial; sound waves when on.
for state in on off; do
    if [ $state = on ]; then body='#f08c00'; edge='#a35d00'
        waves=(-fill none -stroke '#ffd8a8' -draw 'arc 44,8 62,26 300,60' -draw 'arc 48,4 66,30 300,60')
    else body='#a0a8b0'; edge='#5c656e'; waves=(); fi
    draw radio$state.gif "$body" "$edge" -draw 'roundrectangle 6,22 58,56 6,6' \
        -stroke '#343a40' -draw 'line 14,22 40,6' \
        -fill '#343a40' -stroke none -draw 'circle 22,39 22,30' \
        -fill '#e9ecef' -draw 'circle 46,33 46,29' -draw 'rectangle 38,44 54,48' "${waves[@]}"
done

# Lamp module: a table lamp, its shade lit from within when on.
for state in on off; do
    if [ $state = on ]; then shade='#ffe066'; edge='#e0a800'
        glow=(-fill '#fff3bf' -stroke none -draw 'polygon 22,32 42,32 50,44 14,44')
    else shade='#b8c0c8'; edge='#6c757d'; glow=(); fi
    draw bulb2$state.gif "$shade" "$edge" "${glow[@]}" \
        -fill "$shade" -stroke "$edge" -draw 'polygon 20,8 44,8 52,32 12,32' \
        -fill '#868e96' -stroke '#495057' -draw 'rectangle 30,32 34,52' \
        -draw 'roundrectangle 18,52 46,58 3,3'
done
