#!/usr/bin/env bash
# The playlist files under hostile input: makes the files, starts the control panel on each
# playlist INI and imports each .obs, and prints per case the wall time and peak resident
# memory of the process (measured by GNU time, from outside) and whether the user's file
# was changed. Ends with the 10,000-entry load and save of bench_playlist_store.
#   bench/hostile/run.sh [--build DIR] [--only TEXT]
# --build takes hostile_driver and bench_playlist_store from DIR/bench instead of building.
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/../../scripts/common.sh"

BUILD="" ONLY="" LIMIT_S=60
while [ $# -gt 0 ]; do
  case "$1" in
    --build) BUILD="$2"; shift 2 ;;
    --only) ONLY="$2"; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--only TEXT]" >&2; exit 2 ;;
  esac
done
PACKAGES+=(time python3)
install_missing
if [ -z "$BUILD" ]; then
  BUILD="$ROOT/build/release"
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD" -j2 --target hostile_driver bench_playlist_store >/dev/null
fi
DRIVER="$BUILD/bench/hostile_driver"

WORK="$(mktemp -d /tmp/vamplet-hostile.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT

# The hostile files. Start-up cases are INI files (s-*), import cases .obs files (i-*).
python3 - "$WORK" <<'EOF'
import os, random, sys
w = sys.argv[1]
rnd = random.Random(12)
def put(name, data):
    with open(os.path.join(w, name), "wb") as f:
        f.write(data)
def garbage(n):
    return rnd.randbytes(n)
put("a.wav", b"RIFF")  # an entry's file that is there, so imports are not told "Not Found!"
a = os.path.join(w, "a.wav").encode()
head = b"[Main]\r\nPlayListCount=1\r\nPlayList1=L\r\nLastPlayList=L\r\n\r\n[L]\r\n"
entry = lambda i, path: (b"FileName%d=%s\r\nFileStart%d=1\r\nFileStop%d=2\r\nFileRate%d=1\r\nFileLoop%d=1\r\n"
                         % (i, path, i, i, i, i))
put("s-ordinary-100k", head + b"FileCount=100000\r\n" + b"".join(entry(i, a) for i in range(1, 100001)))
put("s-ordinary-10k", head + b"FileCount=10000\r\n" + b"".join(entry(i, a) for i in range(1, 10001)))
put("s-filecount-2^31", head + b"FileCount=2147483647\r\n" + entry(1, a) + entry(2, a))
put("s-playlistcount-2^31", b"[Main]\r\nPlayListCount=2147483647\r\nPlayList1=L\r\nLastPlayList=L\r\n")
put("s-path-50MB", head + b"FileCount=1\r\n" + entry(1, b"/" + b"p" * (50 << 20)))
put("s-garbage-64KiB", garbage(64 << 10))
put("s-garbage-200MB", garbage(200 << 20))
put("s-nul-bytes", head + b"FileCount=2\r\n" + entry(1, b"/a\0b.wav") + b"\0" * 4096 + entry(2, b"/c.wav"))
put("s-bom-not-utf8", b"\xef\xbb\xbf" + head + b"FileCount=1\r\n" + entry(1, b"/m\xfcsic/caf\xe9.wav"))
put("s-lines-2M", head + b"FileCount=1\r\n" + b"a=1\n" * 2000000)
obs = lambda count, body: b"[Main]\r\nFileCount=%d\r\n[Playlist]\r\n" % count + body
put("i-count-10M", obs(10000000, b"FileName10000000=%s\r\n" % a))
put("i-count-2^31", obs(2147483647, b"FileName2147483647=%s\r\n" % a))
put("i-path-50MB", obs(0, b"FileName0=/" + b"p" * (50 << 20) + b"\r\n"))
put("i-garbage-64KiB", garbage(64 << 10))
put("i-garbage-200MB", garbage(200 << 20))
put("i-nul-bytes", obs(1, b"FileName0=/a\0.wav\r\n" + b"\0" * 4096 + b"FileName1=/b.wav\r\n"))
put("i-lone-cr", obs(0, b"FileName0=/a\r.wav\r\n"))
put("i-ordinary-10k", obs(9999, b"".join(b"FileName%d=%s\r\nFileStart%d=1\r\n" % (i, a, i) for i in range(10000))))
# Loop lists of other tools, 16 MB of short lines each, read by their readers alone (the
# grid's cost of 100,000 entries is the startup case's).
put("l-m3u-lines-16MB.m3u", b"a\n" * (8 << 20))
put("l-labels-lines-16MB.txt", b"1\t2\tx\n" * ((16 << 20) // 6))
put("l-cue-lines-16MB.cue", b'FILE "a.wav" WAVE\n' + b"TRACK 1\n" * ((16 << 20) // 8))
# Subtitles and lyrics: 16 MB of one-word cues (far past the entry bound), one cue whose
# text is a line of 16 MB, one lyric line of a million time tags, and cues that all end
# before they start.
put("l-srt-cues-16MB.srt", b"".join(b"%d\n00:00:%02d,000 --> 99:00:00,000\nw\n\n" % (i, i % 60) for i in range((16 << 20) // 44)))
put("l-srt-line-16MB.srt", b"1\n00:00:01,000 --> 00:00:02,000\n" + b"w" * ((16 << 20) - 64) + b"\n")
put("l-lrc-tags-16MB.lrc", b"[00:01.00]" * ((16 << 20) // 10 - 1) + b"x\n")
put("l-vtt-backwards-16MB.vtt", b"WEBVTT\n\n" + b"00:00:02.000 --> 00:00:01.000\nw\n\n" * ((16 << 20) // 34))
# MIDI files of 16 MiB: one track of running-status notes, one of system exclusives, and
# a million one-note tracks.
def smf(tracks):
    return b"MThd\0\0\0\6\0\1" + len(tracks).to_bytes(2, "big") + b"\0\x60" + b"".join(
        b"MTrk" + len(t).to_bytes(4, "big") + t for t in tracks)
notes = b"\0\x90\x3c\x40" + b"\0\x3c\x40" * (((16 << 20) - 40) // 3)
put("m-notes-16MiB.mid", smf([notes]))
put("m-sysex-16MiB.mid", smf([b"\0\xf0\x02\x01\xf7" * (((16 << 20) - 40) // 5)]))
put("m-tracks-1M.mid", b"MThd\0\0\0\6\0\1\xff\xff\0\x60" + (b"MTrk\0\0\0\4\0\x90\x3c\x40") * (((16 << 20) - 14) // 12))
EOF
mkfifo "$WORK/s-fifo" "$WORK/i-fifo"
mkdir "$WORK/s-folder" "$WORK/i-folder"
SMALL_INI=$'[Main]\r\nPlayListCount=1\r\nPlayList1=L\r\nLastPlayList=L\r\n\r\n[L]\r\nFileCount=1\r\nFileName1='"$WORK/a.wav"$'\r\n'

fingerprint() {  # content for a file, the kind for anything else
  if [ -f "$1" ] && [ ! -p "$1" ]; then sha256sum <"$1" | cut -c1-16; else stat -c %F "$1"; fi
}

MISSED=0
printf '%-9s %-22s %9s %9s  %-9s %-5s %s\n' step case wall_ms peak_MB changed told "first message"
for path in "$WORK"/s-* "$WORK"/i-* "$WORK"/l-* "$WORK"/m-*; do
  name="$(basename "$path")"
  [ -n "$ONLY" ] && [[ "$name" != *"$ONLY"* ]] && continue
  user="$path"
  if [[ "$name" == s-* ]]; then
    step=startup
    args=(startup "$path")
  elif [[ "$name" == m-* ]]; then
    step=midi
    args=(midi "$path")
  elif [[ "$name" == l-* ]]; then
    step=looplist
    args=(looplist "$path")
  else
    step=import
    ini="$WORK/import-$name.ini"
    printf '%s' "$SMALL_INI" >"$ini"
    args=(import "$ini" "$path")
  fi
  before="$(fingerprint "$user")"
  start=$(date +%s%N)
  set +e
  out="$(/usr/bin/time -f 'peak_kb=%M' timeout "$LIMIT_S" "$DRIVER" "${args[@]}" 2>"$WORK/err")"
  rc=$?
  set -e
  wall=$(( ($(date +%s%N) - start) / 1000000 ))
  peak=$(grep -o 'peak_kb=[0-9]*' "$WORK/err" | tail -1 | cut -d= -f2 || true)
  after="$(fingerprint "$user")"
  changed=no
  [ "$before" != "$after" ] && changed=YES
  told="$(sed -n 's/.*told=\([0-9]*\).*/\1/p' <<<"$out")"
  first="$(sed -n 's/.*first="\(.*\)"/\1/p' <<<"$out")"
  rows="$(sed -n 's/.*rows=\([0-9]*\).*/\1/p' <<<"$out")"
  if [ $rc -eq 124 ]; then wall=">${LIMIT_S}000"; fi
  peak_mb=$([ -n "$peak" ] && echo $(( peak / 1024 )) || echo "?")
  verdict=ok
  if [ $rc -ne 0 ] || [ "$changed" = YES ] || [ "${peak:-999999}" -gt $((300 * 1024)) ] || [ "${wall#>}" -gt 2000 ]; then
    verdict=MISSED
    MISSED=$((MISSED + 1))
  fi
  printf '%-9s %-22s %9s %9s  %-9s %-5s %s\n' "$step" "$name" "$wall" "$peak_mb" "$changed" "${told:-?}" \
    "rows=${rows:-?} ${first:0:70} [$verdict]"
done
echo "targets: every case under 2000 ms and 300 MB, no file changed unasked: $([ $MISSED -eq 0 ] && echo met || echo "$MISSED MISSED")"
echo
"$BUILD/bench/bench_playlist_store" | grep -E "loadPlayList \(file|SavePlayList \(replacing|targets"
