#!/usr/bin/env bash
# Makes the small MP3 files that the audio tests play: sine tones of distinct frequencies in
# the shapes songs come in (mono and stereo, 8 to 48 kHz, CBR and VBR, ID3 tags).
# Usage: tools/make-test-mp3s.sh OUTPUT_DIR   (needs sox and lame)
set -euo pipefail
out=${1:?usage: $0 OUTPUT_DIR}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# tone NAME FREQUENCY_HZ SECONDS RATE CHANNELS LAME_OPTIONS...
tone() {
    local name=$1 freq=$2 seconds=$3 rate=$4 channels=$5
    shift 5
    sox -R -n -r "$rate" -c "$channels" -b 16 "$work/$name.wav" synth "$seconds" sine "$freq" vol 0.5
    lame --quiet "$@" "$work/$name.wav" "$work/$name.mp3"
    mv -f "$work/$name.mp3" "$out/$name.mp3"
}

tone tone440-stereo-44k    440 3 44100 2 -b 128
tone tone880-stereo-44k    880 3 44100 2 -b 128
tone tone1000-stereo-44k  1000 4 44100 2 -b 128
tone tone660-mono-22k-vbr  660 2 22050 1 -V 4
tone tone330-mono-8k       330 2  8000 1 -b 16
tone tone550-stereo-48k-id3 550 2 48000 2 -b 160 --add-id3v2 --tt "Test Tone" --ta "Quiva Tests" --tl "Tones"
tone tone1000-stereo-192k 1000 20 44100 2 -b 192
# Shorter than a sound server's start threshold: heard only if the engine asks it to start.
tone tone770-stereo-44k-short 770 0.3 44100 2 -b 128
tone tone990-stereo-44k-1s   990 1 44100 2 -b 128
# joined NAME PART...: the parts made above, one after the other in one file whose format
# changes where each part begins.
joined() {
    local name=$1
    shift
    cat "${@/#/$out/}" >"$work/$name.mp3"
    mv -f "$work/$name.mp3" "$out/$name.mp3"
}

# Files whose format changes in the middle. No info tag (-t), which would give the length of
# the first part only. The rate change: 1 s at 44.1 kHz stereo, then 4 s at 22.05 kHz mono.
tone part-stereo-44k 600 1 44100 2 -b 128 -t
tone part-mono-22k   300 4 22050 1 -b 64 -t
tone part-mono-44k   300 1 44100 1 -b 64 -t
joined format-change-44k-stereo-22k-mono part-stereo-44k.mp3 part-mono-22k.mp3
joined format-change-44k-mono-stereo part-mono-44k.mp3 part-stereo-44k.mp3
joined format-change-44k-stereo-mono part-stereo-44k.mp3 part-mono-44k.mp3
rm -f "$out"/part-*.mp3
