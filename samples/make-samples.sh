#!/bin/sh
# Remakes the sample photos and sound track (ImageMagick and ffmpeg). They are
# drawn for this project: landscape and portrait, JPEG (baseline, progressive,
# greyscale) and 24-bit BMP, of different sizes, and an 8-second tune.
set -eu
cd "$(dirname "$0")"
convert -size 800x533 gradient:'#ff9a3c'-'#5b2a86' \( -size 800x533 xc:none -fill '#ffd27f' -draw "circle 560,300 560,250" -blur 0x6 \) -composite -fill '#1d1030' -draw "polygon 0,533 0,400 120,340 260,420 380,360 520,430 640,380 800,440 800,533" -quality 88 sunset.jpg
convert -size 600x800 plasma:'#1f6b2e'-'#9bd36a' -blur 0x3 -fill '#3b2a18' -draw "rectangle 270,420 330,800" -fill '#2f7d32' -draw "circle 300,330 300,170" -quality 85 -interlace JPEG forest.jpg
convert -size 320x240 gradient:'#9fd8ff'-'#0b4f8a' -fill '#f4e2b0' -draw "rectangle 0,200 320,240" -fill white -draw "ellipse 80,60 40,14 0,360" -draw "ellipse 230,40 50,16 0,360" -type TrueColor BMP3:sea.bmp
convert -size 240x320 gradient:'#fde6f1'-'#f7a8c9' -fill '#e0407a' -draw "circle 120,140 120,90" -fill '#fbd24c' -draw "circle 120,140 120,120" -fill '#3f8f3f' -draw "rectangle 116,190 124,320" -type TrueColor BMP3:flower.bmp
convert -size 1024x576 gradient:'#20304f'-'#0a0f1c' -fill '#f5d76e' -draw "rectangle 100,300 160,576 rectangle 200,250 280,576 rectangle 320,350 380,576 rectangle 430,200 520,576 rectangle 580,320 640,576 rectangle 700,260 790,576 rectangle 840,330 920,576" -quality 85 city.jpg
convert -size 480x640 gradient:'#cfe8ff'-'#ffffff' -fill '#6b7b8c' -draw "polygon 0,640 0,380 160,200 260,330 360,150 480,360 480,640" -fill white -draw "polygon 330,190 360,150 392,205" -colorspace Gray -quality 85 mountain.jpg
ffmpeg -v error -y -f lavfi -i "aevalsrc=0.25*sin(2*PI*t*(440+110*floor(mod(t*2\,4))))*exp(-2*mod(t\,0.5)):s=22050:d=8" -ac 1 -c:a pcm_s16le tune.wav
