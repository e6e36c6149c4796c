#!/usr/bin/env bash
# Writes grey-and-alpha Targa files with GIMP 2.10 (Debian 12), which stores such pictures as
# 16 bits per pixel (a grey byte, then an alpha byte) in image type 3, or 11 when packed:
#   gimp-gray-alpha.tga, gimp-gray-alpha-rle.tga
# and their expected pixels: GIMP's own decode of each file, exported as PNG, as red, green,
# blue bytes of the grey levels (alpha left out) from the top row down.
# Needs gimp, xvfb-run (the file plug-ins want a display) and ImageMagick's convert.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert asymmetric.png -colorspace Gray -alpha set -channel A -fx '(i+1)/13' +channel -depth 8 \
  PNG:"$work/gray-alpha.png"
here=$(pwd)
xvfb-run -a gimp-console -i -d -f -b "
(define (save-tga in out rle)
  (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE in in)))
         (drawable (car (gimp-image-get-active-drawable image))))
    (file-tga-save RUN-NONINTERACTIVE image drawable out out rle 0)
    (gimp-image-delete image)))
(define (save-png in out)
  (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE in in)))
         (drawable (car (gimp-image-get-active-drawable image))))
    (file-png-save RUN-NONINTERACTIVE image drawable out out 0 9 0 0 0 0 0)
    (gimp-image-delete image)))
(save-tga \"$work/gray-alpha.png\" \"$here/gimp-gray-alpha.tga\" 0)
(save-tga \"$work/gray-alpha.png\" \"$here/gimp-gray-alpha-rle.tga\" 1)
(save-png \"$here/gimp-gray-alpha.tga\" \"$work/decoded.png\")
(save-png \"$here/gimp-gray-alpha-rle.tga\" \"$work/decoded-rle.png\")
(gimp-quit 0)" >/dev/null 2>&1
convert "$work/decoded.png" -alpha off -colorspace sRGB -depth 8 rgb:gimp-gray-alpha.rgb
convert "$work/decoded-rle.png" -alpha off -colorspace sRGB -depth 8 rgb:gimp-gray-alpha-rle.rgb
