#!/bin/sh
# Writes the seed clips of the clip fuzzers into a folder with the clip generator: small clips of
# every layout the program meets, and copies with the header objects encoders add.
#   write_clip_seeds.sh <qmvgen> <extend_seed> <folder>
set -e
gen=$1 extend=$2 dir=$3
mkdir -p "$dir"
small="--duration 1200 --size 96x64 --fps 10 --vbitrate 40000 --abitrate 32000 --rate 22050"
$gen $small --keyint 500 "$dir/one-audio.wmv"
$gen $small --keyint 500 --audio-tracks 2 --channels 1 "$dir/two-audio.wmv"
$gen $small --keyint 500 --no-audio "$dir/no-audio.wmv"
$gen $small --no-video "$dir/no-video.wmv"
$gen $small --keyint 300 --vcodec wmv1 --acodec wmav1 "$dir/wmv1.wmv"
$gen $small --keyint 100 --channels 1 "$dir/every-key.qmv"
$gen $small --keyint 1000 --audio-lead 400 "$dir/sound-ahead.qmv"
$extend "$dir/one-audio.wmv" "$dir/encoder-objects.wmv"
$extend "$dir/two-audio.wmv" "$dir/encoder-objects-two-audio.wmv"
$extend "$dir/no-video.wmv" "$dir/encoder-objects-no-video.wmv"
