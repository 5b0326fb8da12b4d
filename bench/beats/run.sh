#!/usr/bin/env bash
# The beat tracking table: renders the generated pieces with FluidSynth, runs our tracker
# and aubiotrack on each, and scores both against the beats the pieces were written with.
#   bench/beats/run.sh [BUILD_DIR]     (default build/test; builds beats_track there)
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
BUILD="${1:-$ROOT/build/test}"
source "$ROOT/scripts/common.sh"
build_targets "$BUILD" beats_track
TRACK="$BUILD/bench/beats_track"
SF2=/usr/share/sounds/sf2/FluidR3_GM.sf2
WORK="${WORK:-$(mktemp -d)}"
python3 "$HERE/make_pieces.py" "$WORK"
python3 "$HERE/make_pieces.py" "$WORK" --long

render() { [ -f "$1.wav" ] || fluidsynth -ni -q -g 0.6 -r 44100 -F "$1.wav" "$SF2" "$1.mid" >/dev/null 2>&1; }

printf '| piece | beat F ours | beat F aubio | downbeat F ours | meter (true/found) | MIDI metre check | analysis s (wall/processor) |\n'
printf '|---|---|---|---|---|---|---|\n'
sums="0 0 0 0"
for mid in "$WORK"/[0-9]*.mid; do
  base="${mid%.mid}"
  name="$(basename "$base")"
  render "$base"
  "$TRACK" "$base.wav" >"$base.ours" 2>"$base.log"
  "$TRACK" --midi "$mid" >"$base.midi" 2>/dev/null
  aubiotrack -i "$base.wav" >"$base.aubio" 2>/dev/null
  ours=$(python3 "$HERE/score.py" "$base.beats" "$base.ours" | cut -d' ' -f3)
  aubio=$(python3 "$HERE/score.py" "$base.beats" "$base.aubio" | cut -d' ' -f3)
  down=$(python3 "$HERE/score.py" "$base.beats" "$base.ours" --downbeats | cut -d' ' -f3)
  check=$(python3 "$HERE/score.py" "$base.beats" "$base.midi" --downbeats | cut -d' ' -f3)
  secs=$(sed -n 's/analysis \([0-9.]*\) s, processor \([0-9.]*\) s.*/\1 \/ \2/p' "$base.log")
  found=$(sed -n 's/.*meter \([0-9]*\)/\1/p' "$base.log")
  truth=$(awk '$2==1{if(n)print n; n=0} {n++} END{}' "$base.beats" | sort | uniq -c | sort -rn | head -1 | awk '{print $2}')
  printf '| %s | %s | %s | %s | %s/%s | %s | %s |\n' "$name" "$ours" "$aubio" "$down" "$truth" "$found" "$check" "$secs"
  sums=$(echo "$sums $ours $aubio $down" | awk '{print $1+1, $2+$5, $3+$6, $4+$7}')
done
echo "$sums" | awk '{printf "| **mean of %d** | **%.3f** | **%.3f** | **%.3f** | | | |\n", $1, $2/$1, $3/$1, $4/$1}'

long="$WORK/long_4-4_band"
render "$long"
dur=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$long.wav")
for i in 1 2 3; do
  "$TRACK" "$long.wav" 2>&1 >"$long.ours" | sed "s/^/5-minute piece ($dur s), run $i: /"
done
echo "beat F on it: $(python3 "$HERE/score.py" "$long.beats" "$long.ours" | cut -d' ' -f3)," \
     "downbeat F: $(python3 "$HERE/score.py" "$long.beats" "$long.ours" --downbeats | cut -d' ' -f3)"

# Recordings: two bands' own songs from Debian's fretsonfire-songs-muldjord (CC BY-SA 3.0)
# and fretsonfire-songs-sectoid (MIT-style licence), the backing and the guitar mixed as
# heard; their beats marked by mark_recording.py from each song's chart, kept in recordings/
# as PACKAGE_SONG.beats (the song's folder name in lower case, spaces as underscores).
SONGS=/usr/share/games/fretsonfire/data/songs
printf '\n| recording | beat F ours | beat F aubio | downbeat F ours | meter found | analysis s (wall/processor) |\n'
printf '|---|---|---|---|---|---|\n'
rsums="0 0 0 0"
for dir in "$SONGS"/muldjord/*/ "$SONGS"/sectoid/*/; do
  pack="$(basename "$(dirname "$dir")")"
  song="$(basename "$dir" | tr 'A-Z ' 'a-z_')"
  truth="$HERE/recordings/${pack}_$song.beats"
  [ -f "$truth" ] || continue
  base="$WORK/rec_${pack}_$song"
  [ -f "$base.wav" ] || ffmpeg -v error -y -i "$dir/song.ogg" -i "$dir/guitar.ogg" \
    -filter_complex "amix=inputs=2:normalize=0" -ac 2 -ar 44100 "$base.wav"
  "$TRACK" "$base.wav" >"$base.ours" 2>"$base.log"
  aubiotrack -i "$base.wav" >"$base.aubio" 2>/dev/null
  ours=$(python3 "$HERE/score.py" "$truth" "$base.ours" | cut -d' ' -f3)
  aubio=$(python3 "$HERE/score.py" "$truth" "$base.aubio" | cut -d' ' -f3)
  down=$(python3 "$HERE/score.py" "$truth" "$base.ours" --downbeats | cut -d' ' -f3)
  secs=$(sed -n 's/analysis \([0-9.]*\) s, processor \([0-9.]*\) s.*/\1 \/ \2/p' "$base.log")
  found=$(sed -n 's/.*meter \([0-9]*\)/\1/p' "$base.log")
  printf '| %s | %s | %s | %s | %s | %s |\n' "${pack}_$song" "$ours" "$aubio" "$down" "$found" "$secs"
  rsums=$(echo "$rsums $ours $aubio $down" | awk '{print $1+1, $2+$5, $3+$6, $4+$7}')
done
echo "$rsums" | awk '{printf "| **mean of %d** | **%.3f** | **%.3f** | **%.3f** | | |\n", $1, $2/$1, $3/$1, $4/$1}'
echo "$sums $rsums" | awk '{n=$1+$5; printf "\nall %d: beat F ours %.3f, aubio %.3f; downbeat F ours %.3f\n", n, ($2+$6)/n, ($3+$7)/n, ($4+$8)/n}'
