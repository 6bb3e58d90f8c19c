#!/usr/bin/env bash
# Writes the audio files the reader tests compare against, made by sox from
# one known signal, and beside each FILE a FILE.ref: sox's own decoding of it
# as raw little-endian 32-bit integers (one per channel and frame).
#   make-test-files.sh OUTDIR
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"

# 0.3 s: 441 Hz left, 662 Hz right, below full scale, with a quiet tail.
sox -n -r 44100 -c 2 -b 32 -e floating-point base.wav synth 0.3 sine 441 sine 662 vol 0.9
sox -n -r 48000 -c 2 -b 32 -e floating-point base48.wav synth 0.2 sine 1000 sine 1500 vol 0.7

make() { # name, source, sox output options...
    local name=$1 source=$2
    shift 2
    sox "$source" "$@" "$name"
    sox "$name" -t raw -e signed-integer -b 32 -L "$name.ref"
}

make wav-u8-mono.wav base.wav -t wav -e unsigned-integer -b 8 -c 1
make wav-u8-stereo.wav base.wav -t wav -e unsigned-integer -b 8
make wav-s16-mono.wav base.wav -t wavpcm -b 16 -c 1
make wav-s16-stereo.wav base.wav -t wavpcm -b 16
make wav-s16-stereo-48k.wav base48.wav -t wavpcm -b 16
make wav-s24-mono.wav base.wav -t wavpcm -b 24 -c 1
make wav-s24-stereo.wav base.wav -t wavpcm -b 24
make wav-s24-stereo-ext.wav base.wav -t wav -b 24
make wav-s32-mono.wav base.wav -t wavpcm -e signed-integer -b 32 -c 1
make wav-s32-stereo-ext.wav base.wav -t wav -e signed-integer -b 32
make wav-f32-mono.wav base.wav -t wavpcm -e floating-point -b 32 -c 1
make wav-f32-stereo-ext.wav base.wav -t wav -e floating-point -b 32
make wav-f64-mono.wav base.wav -t wav -e floating-point -b 64 -c 1
make wav-f64-stereo.wav base.wav -t wav -e floating-point -b 64
make aiff-s8-mono.aiff base.wav -t aiff -b 8 -c 1
make aiff-s16-stereo.aiff base.wav -t aiff -b 16
make aiff-s24-stereo.aiff base.wav -t aiff -b 24
make aiff-s32-mono.aiff base.wav -t aiff -b 32 -c 1
make aifc-none-s16-stereo.aif base.wav -t aifc -e signed-integer -b 16
make aifc-fl32-stereo.aif base.wav -t aifc -e floating-point -b 32
make aifc-fl32-mono.aif base.wav -t aifc -e floating-point -b 32 -c 1
make aifc-fl64-stereo.aif base.wav -t aifc -e floating-point -b 64
make aifc-fl64-mono.aif base.wav -t aifc -e floating-point -b 64 -c 1
# MP3 files by lame, each with lame's own decoding beside it as FILE.wav.
sox -n -r 44100 -c 2 -b 16 src44.wav synth 1 sine 441 sine 662 vol 0.5
sox -n -r 48000 -c 2 -b 16 src48.wav synth 1 sine 441 sine 662 vol 0.5
sox -n -r 22050 -c 1 -b 16 src22.wav synth 1 sine 441 vol 0.5
sox -n -r 44100 -c 2 -b 16 src44-3s.wav synth 3 sine 441 sine 662 vol 0.5
mp3() { # name, source, lame options...
    local name=$1 source=$2
    shift 2
    lame --quiet "$@" "$source" "$name"
    lame --quiet --decode "$name" "$name.wav"
}
mp3 mp3-44k-stereo.mp3 src44.wav -b 128
mp3 mp3-48k-stereo.mp3 src48.wav -b 128
mp3 mp3-22k-mono.mp3 src22.wav -m m -b 32
mp3 mp3-44k-mono.mp3 src44.wav -m m -b 64
mp3 mp3-44k-id3v2.mp3 src44.wav -b 128 --id3v2-only --tt "Test Tone" --ta Tester
mp3 mp3-44k-id3v1.mp3 src44.wav -b 128 --id3v1-only --tt "Test Tone"
mp3 mp3-44k-both-tags.mp3 src44.wav -b 128 --add-id3v2 --tt "Test Tone"
# Variable and average bit rates: the first frame (lame's information frame)
# claims a bit rate that says nothing of the others.
mp3 mp3-44k-vbr.mp3 src44-3s.wav -V 4
mp3 mp3-44k-abr.mp3 src44-3s.wav --abr 112 --resample 44.1
mp3 mp3-22k-vbr-mono.mp3 src22.wav -m m -V 6
{ printf 'JUNKJUNK'; cat mp3-44k-stereo.mp3; } > mp3-junk-first.mp3

rm -f base.wav base48.wav src44.wav src44-3s.wav src48.wav src22.wav
touch stamp
