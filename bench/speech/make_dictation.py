#!/usr/bin/env python3
"""Speaks the first paragraphs of a prose file with espeak-ng, as a dictation with natural pauses.

Usage: make_dictation.py PROSE MINUTES OUT.wav OUT.txt [SEED]

Each sentence is synthesised on its own (espeak-ng keeps its short pauses at commas), its own
leading and trailing silence trimmed, and the sentences are joined with pauses drawn from a seeded
generator: 0.45 to 1.1 s between sentences, 1.6 to 3 s between paragraphs, 0.3 s before the first
word and 0.8 s after the last (a stop tapped soon after the last word). A faint noise runs
under it all, as under any microphone's recording: digital silence would be no recording's, and
some recognisers lose their footing in it. Whole paragraphs are taken until the dictation reaches
MINUTES. Writes a 16 kHz mono 16-bit WAV file and the words spoken.
"""
import array
import random
import re
import subprocess
import sys
import tempfile
import wave

RATE_WPM = "155"
VOICE = "en-us"
QUIET = 200  # samples quieter than this at either end of a sentence are trimmed
NOISE = 30  # the room's noise, standard deviation in sample units (about -60 dB)


def speak(sentence):
    """The sentence as 16-bit samples, at espeak-ng's own rate (returned too)."""
    raw = subprocess.run(["espeak-ng", "-v", VOICE, "-s", RATE_WPM, "--stdout", sentence],
                         check=True, capture_output=True).stdout
    with tempfile.NamedTemporaryFile(suffix=".wav") as tmp:
        tmp.write(raw)
        tmp.flush()
        with wave.open(tmp.name, "rb") as w:
            rate = w.getframerate()
            samples = array.array("h", w.readframes(w.getnframes()))
    begin = next((i for i, s in enumerate(samples) if abs(s) > QUIET), 0)
    end = len(samples) - next((i for i, s in enumerate(reversed(samples)) if abs(s) > QUIET), 0)
    return samples[begin:end], rate


def main():
    if len(sys.argv) not in (5, 6):
        sys.exit(__doc__)
    prose, minutes, out_wav, out_txt = sys.argv[1], float(sys.argv[2]), sys.argv[3], sys.argv[4]
    pauses = random.Random(int(sys.argv[5]) if len(sys.argv) == 6 else 1)
    paragraphs = [p.split() for p in open(prose, encoding="utf-8").read().split("\n\n") if p.strip()]

    audio = array.array("h")
    rate = None
    spoken = []
    for paragraph in paragraphs:
        if rate and len(audio) >= minutes * 60 * rate:
            break
        sentences = re.split(r"(?<=[.!?])\s+", " ".join(paragraph))
        for i, sentence in enumerate(sentences):
            samples, rate = speak(sentence)
            if not audio:
                audio.extend([0] * int(0.3 * rate))
            elif i == 0:
                audio.extend([0] * int(pauses.uniform(1.6, 3.0) * rate))
            else:
                audio.extend([0] * int(pauses.uniform(0.45, 1.1) * rate))
            audio.extend(samples)
        spoken.append(" ".join(paragraph))
    audio.extend([0] * int(0.8 * rate))
    noise = random.Random(0)
    for i, sample in enumerate(audio):
        audio[i] = max(-32768, min(32767, sample + round(noise.gauss(0, NOISE))))

    with tempfile.NamedTemporaryFile(suffix=".wav") as tmp:
        with wave.open(tmp.name, "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(rate)
            w.writeframes(audio.tobytes())
        subprocess.run(["sox", tmp.name, "-r", "16000", "-c", "1", "-b", "16", out_wav], check=True)
    with open(out_txt, "w", encoding="utf-8") as f:
        f.write("\n\n".join(spoken) + "\n")


if __name__ == "__main__":
    main()
