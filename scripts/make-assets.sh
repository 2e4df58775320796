#!/usr/bin/env bash
# Point lists produced by the helpers below are meant to split into arguments.
# shellcheck disable=SC2046,SC2086
#
# Regenerates the program's own artwork: the four images shipped in assets/
# and the application icon compiled into the executable.
#
# Everything is drawn from ImageMagick primitives; the only outside input is
# the DejaVu Sans Bold face from Debian's fonts-dejavu-core package, used for
# the two wordmarks. Shapes are drawn at four times their final size and then
# reduced, which gives smooth edges without relying on ImageMagick's stroker
# (it leaves spikes at the ends of open paths). Output is written without
# timestamps so that a rerun reproduces the committed files.
#
# Usage: scripts/make-assets.sh   (from anywhere; needs imagemagick and
#                                  fonts-dejavu-core)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly ROOT
readonly ASSETS="$ROOT/assets"
readonly RESOURCES="$ROOT/src/app/resources"
readonly FONT_BOLD=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

# Supersampling factor: every picture is drawn this many times larger.
readonly SS=4

# Palette, matched to the window's dark theme and its blue accent.
readonly GLYPH='rgb(242,245,250)'
readonly ACCENT='rgb(71,143,255)'
readonly TILE_TOP='rgb(92,164,255)'
readonly TILE_BOTTOM='rgb(36,92,214)'
readonly MAKER_TOP='rgb(255,196,84)'
readonly MAKER_BOTTOM='rgb(240,122,40)'
readonly MAKER_TEXT='rgb(226,231,238)'

WORK=""
cleanup() { if [[ -n "$WORK" ]]; then rm -rf -- "$WORK"; fi; }
trap cleanup EXIT

die() { echo "make-assets: $*" >&2; exit 1; }

check_tools() {
    command -v convert >/dev/null || die "ImageMagick 'convert' not found (apt-get install imagemagick)"
    [[ -r "$FONT_BOLD" ]] || die "$FONT_BOLD not found (apt-get install fonts-dejavu-core)"
}

# ---- drawing helpers ------------------------------------------------------
# Shapes are described in design units; `scale` in the draw string maps them
# onto the supersampled canvas.

# thick W X1 Y1 X2 Y2 ...: MVG for a polyline of width W with round caps and
# joins, built from filled quads and discs so that it can be tinted as a whole.
thick() {
    awk -v w="$1" 'BEGIN {
        r = w / 2; n = (ARGC - 2) / 2
        for (i = 0; i < n; i++) { x[i] = ARGV[2 + 2 * i]; y[i] = ARGV[3 + 2 * i] }
        for (i = 0; i < n; i++) printf "circle %.3f,%.3f %.3f,%.3f ", x[i], y[i], x[i] + r, y[i]
        for (i = 0; i + 1 < n; i++) {
            dx = x[i + 1] - x[i]; dy = y[i + 1] - y[i]; len = sqrt(dx * dx + dy * dy)
            if (len == 0) continue
            nx = -dy / len * r; ny = dx / len * r
            printf "polygon %.3f,%.3f %.3f,%.3f %.3f,%.3f %.3f,%.3f ",
                x[i] + nx, y[i] + ny, x[i + 1] + nx, y[i + 1] + ny,
                x[i + 1] - nx, y[i + 1] - ny, x[i] - nx, y[i] - ny
        }
        exit
    }' "$@"
}

# arc_points CX CY R FROM TO: points along a circular arc, angles in degrees,
# clockwise on screen (y grows downwards).
arc_points() {
    awk -v cx="$1" -v cy="$2" -v r="$3" -v a0="$4" -v a1="$5" 'BEGIN {
        steps = 48; pi = atan2(0, -1)
        for (i = 0; i <= steps; i++) {
            a = (a0 + (a1 - a0) * i / steps) * pi / 180
            printf "%.3f %.3f ", cx + r * cos(a), cy + r * sin(a)
        }
    }'
}

# pairs X1 Y1 X2 Y2 ...: the points as MVG coordinate pairs "X1,Y1 X2,Y2 ...".
pairs() {
    local out=""
    while (( $# >= 2 )); do out+="$1,$2 "; shift 2; done
    printf '%s' "$out"
}

# layer WIDTH[xHEIGHT] COLOUR OPACITY MVG OUT: one colour, drawn opaque, then
# made uniformly translucent so overlapping parts do not add up. The size is
# in design units; the height defaults to the width.
layer() {
    local w="${1%x*}" h="${1#*x}"
    local px=$(( w * SS )) py=$(( h * SS ))
    convert -size "${px}x${py}" xc:none -fill "$2" -stroke none \
        -draw "scale $SS,$SS $4" \
        -channel A -evaluate multiply "$3" +channel "$5"
}

# save_png IN OUT [convert options...]: final 8-bit RGBA, no metadata.
save_png() {
    local in="$1" out="$2"; shift 2
    convert "$in" "$@" -strip -depth 8 -define png:color-type=6 \
        -define png:exclude-chunks=date,time "PNG32:$out"
}

# ---- the emblem: a tuning fork sending waves out both ways ------------------
# Design space 256 x 256; the tile has rounded corners like a system icon.
# draw_emblem OUT WAVES FORK_WIDTH MARGIN: small icon sizes get fewer waves and
# a heavier fork, otherwise the picture turns to mush at 16 and 32 pixels.
draw_emblem() {
    local out="$1" waves="$2" fw="$3" m="$4"
    local px=$(( 256 * SS )) w="$WORK/emblem-$waves-$fw"
    local far=$(( 256 - m )) corner=$(( 56 - m / 2 ))
    mkdir -p "$w"
    convert -size "${px}x${px}" gradient:"$TILE_TOP-$TILE_BOTTOM" \
        \( -size "${px}x${px}" xc:black -fill white \
           -draw "scale $SS,$SS roundrectangle $m,$m $far,$far $corner,$corner" \) \
        -alpha off -compose CopyOpacity -composite "$w/picture.png"

    # Radius, width and opacity of each wave; a lone wave sits further out
    # and heavier so that it stays clear of the prongs.
    local radii=(58 86) widths=(13 13) opacity=(0.85 0.50) i
    (( waves == 1 )) && radii=(68) widths=(16)
    for (( i = 0; i < waves; i++ )); do
        local r="${radii[i]}" sw="${widths[i]}"
        layer 256 "$GLYPH" "${opacity[i]}" \
            "$(thick "$sw" $(arc_points 128 84 "$r" -32 32)) $(thick "$sw" $(arc_points 128 84 "$r" 148 212))" \
            "$w/wave$i.png"
        convert "$w/picture.png" "$w/wave$i.png" -composite "$w/picture.png"
    done

    layer 256 "$GLYPH" 1.0 \
        "$(thick "$fw" 100 56 100 122 $(arc_points 128 122 28 180 0) 156 56) $(thick $(( fw + 2 )) 128 150 128 206)" \
        "$w/fork.png"
    convert "$w/picture.png" "$w/fork.png" -composite "$out"
}

# ---- outputs ---------------------------------------------------------------

# make_icon: one emblem per icon size, each reduced from its own drawing.
make_icon() {
    local files=() n waves fw m
    while read -r n waves fw m; do
        draw_emblem "$WORK/emblem-$n.png" "$waves" "$fw" "$m"
        save_png "$WORK/emblem-$n.png" "$WORK/icon-$n.png" -filter Triangle -resize "${n}x${n}"
        files+=("$WORK/icon-$n.png")
    done <<'SIZES'
256 2 20 8
48 2 20 8
32 1 24 4
16 0 30 0
SIZES
    mkdir -p "$RESOURCES"
    convert "${files[@]}" -strip "ICO:$RESOURCES/tonefork.ico"
}

# text_image OUT POINTSIZE COLOUR TEXT [label options...]: DejaVu Sans Bold,
# trimmed to its ink so that it can be placed by its visible edges.
text_image() {
    local out="$1" size="$2" colour="$3" text="$4"; shift 4
    convert -background none -font "$FONT_BOLD" -pointsize "$size" -fill "$colour" \
        "$@" "label:$text" -trim +repage "$out"
}

# Product logo for the right end of the title bar, 640 x 160: the emblem and
# the two-tone wordmark, the wordmark flush with the right edge because the
# title bar aligns the picture by that edge.
make_logo() {
    local w="$WORK/logo"
    mkdir -p "$w"
    draw_emblem "$w/emblem.png" 2 20 8
    convert "$w/emblem.png" -filter Triangle -resize $(( 160 * SS ))x "$w/emblem-small.png"
    # Two untrimmed labels of one face and size share their baseline when
    # set side by side; only the colour differs.
    convert -background none -font "$FONT_BOLD" -pointsize $(( 92 * SS )) -fill "$GLYPH" \
        label:Tone "$w/tone.png"
    convert -background none -font "$FONT_BOLD" -pointsize $(( 92 * SS )) -fill "$ACCENT" \
        label:fork "$w/fork.png"
    convert "$w/tone.png" "$w/fork.png" +append -trim +repage "$w/word.png"
    convert -size $(( 640 * SS ))x$(( 160 * SS )) xc:none \
        "$w/emblem-small.png" -gravity West -composite \
        "$w/word.png" -gravity East -geometry +$(( 4 * SS ))+0 -composite "$w/logo.png"
    save_png "$w/logo.png" "$ASSETS/logo.png" -filter Triangle -resize 640x160
}

# hexagon CX CY R: the six corners of a hexagon standing on a point.
hexagon() {
    awk -v cx="$1" -v cy="$2" -v r="$3" 'BEGIN {
        pi = atan2(0, -1)
        for (i = 0; i <= 6; i++) {
            a = (-90 + 60 * i) * pi / 180
            printf "%.3f %.3f ", cx + r * cos(a), cy + r * sin(a)
        }
    }'
}

# Maker's logo for the About tab, 300 x 150: an amber hexagon with a "D" cut
# out of it, over the spaced-out name.
make_maker_logo() {
    local w="$WORK/maker" px=$(( 300 * SS )) py=$(( 150 * SS ))
    mkdir -p "$w"
    local hex
    hex="$(hexagon 150 51 40)"
    # The filled hexagon plus a round-jointed rim of the same colour gives
    # softened corners.
    convert -size "${px}x${py}" xc:black -fill white \
        -draw "scale $SS,$SS $(thick 8 $hex) polygon $(pairs $hex)" "$w/hex-mask.png"
    convert -size "${px}x${py}" gradient:"$MAKER_TOP-$MAKER_BOTTOM" "$w/hex-mask.png" \
        -alpha off -compose CopyOpacity -composite "$w/hex.png"
    layer 300x150 black 1.0 \
        "$(thick 8 135 31 145 31 $(arc_points 145 51 20 -90 90) 145 71 135 71 135 31)" "$w/d.png"
    text_image "$w/name.png" $(( 40 * SS )) "$MAKER_TEXT" DRAVOK -kerning $(( 8 * SS ))
    convert "$w/hex.png" "$w/d.png" -compose DstOut -composite \
        "$w/name.png" -compose Over -gravity North -geometry +0+$(( 111 * SS )) -composite \
        "$w/maker.png"
    save_png "$w/maker.png" "$ASSETS/Dravok_logo.png" -filter Triangle -resize 300x150
}

# Title-bar buttons: light glyphs on transparent ground, 64 x 64.
make_buttons() {
    layer 64 "$GLYPH" 1.0 "$(thick 6 17 32 47 32)" "$WORK/minimize.png"
    save_png "$WORK/minimize.png" "$ASSETS/minimize.png" -filter Triangle -resize 64x64
    layer 64 "$GLYPH" 1.0 "$(thick 6 19 19 45 45) $(thick 6 45 19 19 45)" "$WORK/exit.png"
    save_png "$WORK/exit.png" "$ASSETS/exit.png" -filter Triangle -resize 64x64
}

main() {
    check_tools
    WORK="$(mktemp -d)"
    mkdir -p "$ASSETS"
    make_icon
    make_buttons
    make_logo
    make_maker_logo
}

main "$@"
