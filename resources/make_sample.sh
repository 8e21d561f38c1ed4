#!/usr/bin/env bash
# Makes sample.wav, the sample recording: synthetic speech with pauses between the phrases, as 16-bit
# mono 8000 Hz WAV, the form the microphone delivers. Needs espeak-ng and sox. The output is
# reproducible (no dither), so re-running it leaves the committed file unchanged.
set -euo pipefail
cd "$(dirname "$0")"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

phrases=(
  "Hello. This is a short test recording."
  "I was at home all evening, and I did not touch the last piece of cake."
  "The weather today is cloudy, with a little rain in the afternoon."
  "Honestly, I have never seen that letter before."
  "Thank you for listening."
)

parts=()
i=0
for phrase in "${phrases[@]}"; do
  espeak-ng -v en -s 170 -p 45 -w "$tmp/phrase$i.wav" "$phrase"
  # Each phrase is followed by 0.8 s of silence.
  sox "$tmp/phrase$i.wav" "$tmp/padded$i.wav" pad 0 0.8
  parts+=("$tmp/padded$i.wav")
  i=$((i + 1))
done

sox -D "${parts[@]}" -r 8000 -b 16 -c 1 -e signed-integer sample.wav
soxi sample.wav
