#!/usr/bin/env bash
# What of a file's end the video engine's hear chain lets through: a quiet tone of 44100 + 100
# frames (not a whole number of the upmix's hops) with a 3-frame click every 128 frames over
# its last 4096, written out by mpv (`--o`) through the list hear_driver prints for each
# setting. Prints the clicks' delay (the first click out against in) and how many frames of
# the file's end never came out (the last click in less the last out, to 128 frames; mpv pads
# what it writes with silence to a whole block, so the written length says nothing).
#   bench/hear/keep_end.sh DRIVER [HEAR_TEXT...]   (DRIVER: a built hear_driver)
set -euo pipefail
driver=$1; shift
[ $# -gt 0 ] || set -- "" "keep" "left +6dB" "keep left +6dB"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -y -f lavfi -i "aevalsrc='if(gte(n,44200-4096)*lt(mod(n-44200+4096,128),3),0.9,0.05*sin(2*PI*300*t))':s=44100:c=stereo" \
  -af atrim=end_sample=44200 -c:a pcm_s16le "$work/in.wav"
for hear in "$@"; do
  mpv --no-config --really-quiet --af="$("$driver" --mpv-list "$hear")" --o="$work/out.wav" --of=wav \
    --oac=pcm_s16le "$work/in.wav" >/dev/null 2>&1
  python3 - "$work/out.wav" "$hear" <<'PY'
import struct, subprocess, sys
pcm = subprocess.run(['ffmpeg', '-v', 'error', '-i', sys.argv[1], '-f', 'f32le', '-ac', '1', '-'],
                     capture_output=True, check=True).stdout
v = struct.unpack('<%df' % (len(pcm) // 4), pcm)
click = [k for k, x in enumerate(v) if abs(x) > 0.5]
first_in, last_in = 44200 - 4096, 44200 - 128
delay = click[0] - first_in
print(f'| {sys.argv[2] or "none"} | {delay} | {last_in - (click[-1] - delay) + 125} |')
PY
done
