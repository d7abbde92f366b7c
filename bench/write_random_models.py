#!/usr/bin/python3
"""Writes full-size speech models of the real shapes with random weights, in the file format of
whisper.cpp's converters (models/convert-pt-to-ggml.py for whisper, models/convert-parakeet-to-
ggml.py for Parakeet TDT), so that the engines do a real model's amount of work without a trained
model being downloaded. The words they produce are meaningless.

Usage: write_random_models.py [FOLDER] [NAME...]
FOLDER defaults to ~/.cache/vak-bench-models; NAMEs to every model below. A file that exists
already is left as it is. Prints the path of each model.
"""
import os
import re
import struct
import sys
from pathlib import Path

import numpy as np

# whisper: n_vocab, n_audio_ctx, n_audio_state, n_audio_head, n_audio_layer, n_text_ctx,
# n_text_state, n_text_head, n_text_layer, n_mels (the published models' dimensions).
WHISPER = {
    "base.en": (51864, 1500, 512, 8, 6, 448, 512, 8, 6, 80),
    "large-v3-turbo": (51866, 1500, 1280, 20, 32, 448, 1280, 20, 4, 128),
}
# Parakeet TDT 0.6B (v2 and v3 share the shape).
PARAKEET = {
    "parakeet-tdt-0.6b-v3": dict(n_vocab=8192, n_audio_ctx=5000, n_audio_state=1024,
                                 n_audio_head=8, n_audio_layer=24, n_mels=128, n_fft=512,
                                 subsampling_factor=8, n_subsampling_channels=256,
                                 n_conv_kernel=9, n_pred_dim=640, n_pred_layers=2,
                                 n_tdt_durations=5, n_max_tokens=10),
}

rng = np.random.default_rng(7)


def tensor(out, name, shape, f16, shape_data=None):
    """One tensor as the converters write it: dims reversed, then the name, then the data
    (random unless `shape_data` changes it in place)."""
    data = rng.standard_normal(size=shape, dtype=np.float32) * 0.02 if shape else np.zeros(
        (), np.float32)
    # Normalisation scales and variances of one, as trained ones are near: random ones near zero
    # shrink the activations into subnormal numbers (which the CPU computes many times slower)
    # and a negative variance makes them NaN.
    if re.search(r"(norm[^.]*|_ln|ln_post|^decoder\.ln)\.weight$|running_var$", name):
        data.fill(1)
    if shape_data:
        shape_data(data)
    data = data.astype(np.float16 if f16 else np.float32)
    raw = name.encode()
    out.write(struct.pack("iii", len(shape), len(raw), 1 if f16 else 0))
    for dim in reversed(shape):
        out.write(struct.pack("i", dim))
    out.write(raw)
    data.tofile(out)


def floats(out, values):
    out.write(np.asarray(values, dtype=np.float32).tobytes())


def tokens(out, count, space=None):
    out.write(struct.pack("i", count))
    for i in range(count):
        raw = b" " if i == space else ("tok%d" % i).encode()
        out.write(struct.pack("i", len(raw)))
        out.write(raw)


def write_whisper(out, dims):
    (n_vocab, audio_ctx, state, _, audio_layers, text_ctx, _, _, text_layers, mels) = dims
    out.write(struct.pack("i", 0x67676D6C))
    out.write(struct.pack("11i", *dims, 1))
    out.write(struct.pack("ii", mels, 201))
    floats(out, rng.random((mels, 201), dtype=np.float32) * 0.01)
    # The tokenizer's own tokens (the special ones follow from n_vocab); whisper.cpp looks up the
    # space, GPT-2's token 220.
    tokens(out, 50257 if n_vocab >= 51865 else 50256, space=220)
    end_of_text = 50257 if n_vocab >= 51865 else 50256

    def block(prefix, cross):
        parts = ["attn"] + (["cross_attn"] if cross else [])
        for part in parts:
            for proj in ("query", "key", "value", "out"):
                tensor(out, f"{prefix}.{part}.{proj}.weight", (state, state), True)
                if proj != "key":
                    tensor(out, f"{prefix}.{part}.{proj}.bias", (state,), False)
            tensor(out, f"{prefix}.{part}_ln.weight", (state,), False)
            tensor(out, f"{prefix}.{part}_ln.bias", (state,), False)
        tensor(out, f"{prefix}.mlp.0.weight", (4 * state, state), True)
        tensor(out, f"{prefix}.mlp.0.bias", (4 * state,), False)
        tensor(out, f"{prefix}.mlp.2.weight", (state, 4 * state), True)
        tensor(out, f"{prefix}.mlp.2.bias", (state,), False)
        tensor(out, f"{prefix}.mlp_ln.weight", (state,), False)
        tensor(out, f"{prefix}.mlp_ln.bias", (state,), False)

    tensor(out, "encoder.positional_embedding", (audio_ctx, state), False)
    tensor(out, "encoder.conv1.weight", (state, mels, 3), True)
    tensor(out, "encoder.conv1.bias", (state, 1), False)
    tensor(out, "encoder.conv2.weight", (state, state, 3), True)
    tensor(out, "encoder.conv2.bias", (state, 1), False)
    for i in range(audio_layers):
        block(f"encoder.blocks.{i}", False)
    tensor(out, "encoder.ln_post.weight", (state,), False)
    tensor(out, "encoder.ln_post.bias", (state,), False)
    tensor(out, "decoder.positional_embedding", (text_ctx, state), False)
    # Random weights would decode every window to the token limit, which a trained model does
    # not: the decoder's last state is made constant and the text ends after one word (the end
    # of text cannot come first), so a decode costs the encoder and two decoder steps.
    def ending(rows):
        rows[1000] = 0.5
        rows[end_of_text] = 1.0

    tensor(out, "decoder.token_embedding.weight", (n_vocab, state), True, ending)
    for i in range(text_layers):
        block(f"decoder.blocks.{i}", True)
    tensor(out, "decoder.ln.weight", (state,), False, lambda d: d.fill(0))
    tensor(out, "decoder.ln.bias", (state,), False, lambda d: d.fill(1))


def write_parakeet(out, h):
    out.write(struct.pack("i", 0x67676D6C))
    out.write(struct.pack("6i", h["n_vocab"], h["n_audio_ctx"], h["n_audio_state"],
                          h["n_audio_head"], h["n_audio_layer"], h["n_mels"]))
    out.write(struct.pack("i", 1))  # f16
    out.write(struct.pack("7i", h["n_fft"], h["subsampling_factor"],
                          h["n_subsampling_channels"], h["n_conv_kernel"], h["n_pred_dim"],
                          h["n_pred_layers"], h["n_tdt_durations"]))
    out.write(struct.pack("i", h["n_max_tokens"]))
    bins = h["n_fft"] // 2 + 1
    out.write(struct.pack("ii", h["n_mels"], bins))
    floats(out, rng.random((h["n_mels"], bins), dtype=np.float32) * 0.01)
    window = np.hanning(400).astype(np.float32)
    out.write(struct.pack("i", len(window)))
    floats(out, window)
    for duration in range(h["n_tdt_durations"]):
        out.write(struct.pack("I", duration))
    tokens(out, h["n_vocab"])

    s, c, k = h["n_audio_state"], h["n_subsampling_channels"], h["n_conv_kernel"]
    p, heads = h["n_pred_dim"], h["n_audio_head"]
    pre = "encoder.pre_encode"
    tensor(out, f"{pre}.out.weight", (s, (h["n_mels"] // h["subsampling_factor"]) * c), True)
    tensor(out, f"{pre}.out.bias", (s,), False)
    for n, shape in (("0", (c, 1, 3, 3)), ("2", (c, 1, 3, 3)), ("3", (c, c, 1, 1)),
                     ("5", (c, 1, 3, 3)), ("6", (c, c, 1, 1))):
        tensor(out, f"{pre}.conv.{n}.weight", shape, False)
        tensor(out, f"{pre}.conv.{n}.bias", (1, c, 1, 1), False)
    for i in range(h["n_audio_layer"]):
        layer = f"encoder.layers.{i}"
        for norm in ("norm_feed_forward1", "norm_conv", "norm_self_att", "norm_feed_forward2",
                     "norm_out"):
            tensor(out, f"{layer}.{norm}.weight", (s,), False)
            tensor(out, f"{layer}.{norm}.bias", (s,), False)
        for ff in ("feed_forward1", "feed_forward2"):
            tensor(out, f"{layer}.{ff}.linear1.weight", (4 * s, s), True)
            tensor(out, f"{layer}.{ff}.linear2.weight", (s, 4 * s), True)
        tensor(out, f"{layer}.conv.pointwise_conv1.weight", (2 * s, s), True)
        tensor(out, f"{layer}.conv.depthwise_conv.weight", (s, k), False)
        for bn in ("weight", "bias", "running_mean", "running_var"):
            tensor(out, f"{layer}.conv.batch_norm.{bn}", (s,), False)
        tensor(out, f"{layer}.conv.batch_norm.num_batches_tracked", (), False)
        tensor(out, f"{layer}.conv.pointwise_conv2.weight", (s, s), True)
        tensor(out, f"{layer}.self_attn.pos_bias_u", (heads, s // heads), False)
        tensor(out, f"{layer}.self_attn.pos_bias_v", (heads, s // heads), False)
        for proj in ("linear_q", "linear_k", "linear_v", "linear_out", "linear_pos"):
            tensor(out, f"{layer}.self_attn.{proj}.weight", (s, s), True)
    lstm = "decoder.prediction.dec_rnn.lstm"
    tensor(out, "decoder.prediction.embed.weight", (h["n_vocab"] + 1, p), True)
    for i in range(h["n_pred_layers"]):
        tensor(out, f"{lstm}.weight_ih_l{i}", (4 * p, p), True)
        tensor(out, f"{lstm}.weight_hh_l{i}", (4 * p, p), True)
        tensor(out, f"{lstm}.bias_h_l{i}", (4 * p,), False)
    tensor(out, "joint.pred.weight", (p, p), True)
    tensor(out, "joint.pred.bias", (p,), False)
    tensor(out, "joint.enc.weight", (p, s), True)
    tensor(out, "joint.enc.bias", (p,), False)
    joint_out = h["n_vocab"] + h["n_tdt_durations"] + 1

    # Random weights would emit the most tokens a frame allows at every frame (a prediction step
    # each), ten times a trained model's work: the blank and a one-frame step win instead, so
    # the joint network runs once a frame (a trained model runs it about as often, skipping
    # frames but stepping the prediction network for each of its three or four tokens a second).
    def blank_then_next_frame(bias):
        bias[h["n_vocab"]] = 20
        bias[h["n_vocab"] + 1 + 1] = 20

    tensor(out, "joint.joint_net.2.weight", (joint_out, p), True)
    tensor(out, "joint.joint_net.2.bias", (joint_out,), False, blank_then_next_frame)


def main():
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else
                  os.path.expanduser("~/.cache/vak-bench-models"))
    names = sys.argv[2:] or list(WHISPER) + list(PARAKEET)
    folder.mkdir(parents=True, exist_ok=True)
    for name in names:
        path = folder / f"ggml-{name}.bin"
        if not path.exists():
            partial = path.with_suffix(".part")
            with open(partial, "wb") as out:
                if name in WHISPER:
                    write_whisper(out, WHISPER[name])
                elif name in PARAKEET:
                    write_parakeet(out, PARAKEET[name])
                else:
                    sys.exit(f"unknown model {name}; known: {', '.join(list(WHISPER) + list(PARAKEET))}")
            partial.rename(path)
        print(path)


if __name__ == "__main__":
    main()
