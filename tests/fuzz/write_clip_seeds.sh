#!/bin/sh
# Writes the seed clips of the clip fuzzers into a folder with the clip generator: small clips of
# every layout the program meets.
#   write_clip_seeds.sh <qmvgen> <folder>
set -e
gen=$1 dir=$2
mkdir -p "$dir"
small="--duration 1200 --size 96x64 --fps 10 --vbitrate 40000 --abitrate 32000 --rate 22050"
$gen $small --keyint 500 "$dir/one-audio.wmv"
$gen $small --keyint 500 --audio-tracks 2 --channels 1 "$dir/two-audio.wmv"
$gen $small --keyint 500 --no-audio "$dir/no-audio.wmv"
$gen $small --no-video "$dir/no-video.wmv"
$gen $small --keyint 300 --vcodec wmv1 --acodec wmav1 "$dir/wmv1.wmv"
$gen $small --keyint 100 --channels 1 "$dir/every-key.qmv"
$gen $small --keyint 1000 --audio-lead 400 "$dir/sound-ahead.qmv"
