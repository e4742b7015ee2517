#!/usr/bin/env bash
# Draws the PNG sizes of the menu icon from its SVG, the PNG sizes of the
# desktop window's pictures from theirs (src/desktop/pictures/*.svg), and
# the remote-control pages' device pictures (html/*on.gif, html/*off.gif)
# from the same SVGs, so window and pages show one drawing. The results are
# committed; run this again only to change them. Needs rsvg-convert
# (Debian package librsvg2-bin) and, for the GIFs, ImageMagick
# (imagemagick).
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

# The pages' GIFs: 64 px on a light plate (a GIF has no partial
# transparency, and the drawings' dark outlines are made to sit on light),
# which reads as a tile on the pages' dark cells.
pages() {
    local svg name
    for svg in src/desktop/pictures/*.svg; do
        name=$(basename "$svg" .svg)
        case $name in section-* | room) continue ;; esac
        rsvg-convert -w 64 -h 64 "$svg" |
            convert png:- -background '#eef2f6' -flatten -colors 64 "html/$name.gif"
    done
}
pages
