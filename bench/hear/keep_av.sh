#!/usr/bin/env bash
# Keep's upmix on video against mpv's clock: a click under a white frame, written out by mpv
# (its encoder follows the same timestamps as its player) through each chain given; prints
# where the click lands against the white frame and how long the written sound is. With no
# arguments: no filter, the upmix with its 4096-frame window as FFmpeg leaves it and with
# the timestamps moved back, and the 1024-frame upmix the video engine's branches hold. At
# rate 1 only: written out at another speed, mpv's file puts even the unfiltered click
# 0.66 s off its frame.
#   bench/hear/keep_av.sh [CHAIN...]   (a CHAIN is an mpv --af value, or a lavfi graph)
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -y -f lavfi -i "color=black:s=64x48:r=25:d=4,geq=lum='if(between(T,2,2.039),255,0)':cb=128:cr=128" \
  -f lavfi -i "aevalsrc='if(between(t,2,2.0005),0.8,0.001*sin(2*PI*300*t))':s=44100:d=4:c=stereo" \
  -c:v ffv1 -c:a pcm_s16le -shortest "$work/in.mkv"
up='surround=chl_out=3.0:lfe=0,pan=stereo|c0=0.707107*FC|c1=0.707107*FC'
small='surround=chl_out=3.0:lfe=0:win_size=1024:overlap=0.75,pan=stereo|c0=0.353553*FC|c1=0.353553*FC'
[ $# -gt 0 ] || set -- anull "$up" "$up,asetpts=PTS-2048/SR/TB" "$small"
for chain in "$@"; do
  af=$chain
  [[ $chain == @* || $chain == lavfi=* ]] || af="lavfi=[$chain]"
  mpv --no-config --really-quiet --af="$af" --o="$work/out.mkv" --of=matroska --ovc=ffv1 \
    --oac=pcm_s16le "$work/in.mkv" >/dev/null 2>&1
  python3 - "$work/out.mkv" "$chain" <<'PY'
import struct, subprocess, sys
f, chain = sys.argv[1], sys.argv[2]
pcm = subprocess.run(['ffmpeg', '-v', 'error', '-i', f, '-map', '0:a', '-f', 'f32le', '-ac', '1', '-ar', '44100', '-'],
                     capture_output=True, check=True).stdout
v = struct.unpack('<%df' % (len(pcm) // 4), pcm)
click = max(range(len(v)), key=lambda k: abs(v[k])) / 44100
frames = subprocess.run(['ffprobe', '-v', 'error', '-f', 'lavfi', '-i', 'movie=%s,signalstats' % f, '-show_entries',
                         'frame=pts_time:frame_tags=lavfi.signalstats.YAVG', '-of', 'csv=p=0'],
                        capture_output=True, text=True, check=True).stdout.split()
white = next(float(l.split(',')[0]) for l in frames if float(l.split(',')[1]) > 100)
print(f'| {chain[-26:]} | {1000 * (click - white):+.1f} ms | {len(v) / 44100:.4f} s |')
PY
done
