import { test } from 'node:test';
import assert from 'node:assert/strict';
import { conversionNotice, frequencyResponse, parseWav } from '../../resources/bundle/html/js/ir/wav-preview.js';

function wav({ channels, rate, bits, format = 1, frames }) {
    const width = bits / 8;
    const size = frames * channels * width;
    const b = new Uint8Array(44 + size + 10);
    const v = new DataView(b.buffer);
    const put = (at, s) => [...s].forEach((c, i) => { b[at + i] = c.charCodeAt(0); });
    put(0, 'RIFF'); v.setUint32(4, 36 + size + 10, true); put(8, 'WAVE');
    put(12, 'LIST'); v.setUint32(16, 2, true); // odd chunk before fmt
    const f = 22;
    put(f, 'fmt '); v.setUint32(f + 4, 16, true);
    v.setUint16(f + 8, format, true); v.setUint16(f + 10, channels, true); v.setUint32(f + 12, rate, true);
    v.setUint32(f + 16, rate * channels * width, true); v.setUint16(f + 20, channels * width, true); v.setUint16(f + 22, bits, true);
    put(f + 24, 'data'); v.setUint32(f + 28, size, true);
    return { bytes: b.subarray(0, f + 32 + size), view: v, at: f + 32 };
}

test('WAV formats are read into per-channel samples', () => {
    const s = wav({ channels: 2, rate: 48000, bits: 16, frames: 4 });
    s.view.setInt16(s.at, 16384, true);
    s.view.setInt16(s.at + 2, -32768, true);
    const w = parseWav(s.bytes);
    assert.equal(w.channels, 2);
    assert.equal(w.frames, 4);
    assert.equal(w.data[0][0], 0.5);
    assert.equal(w.data[1][0], -1);
    const f = wav({ channels: 1, rate: 96000, bits: 32, format: 3, frames: 3 });
    f.view.setFloat32(f.at + 4, 0.25, true);
    assert.equal(parseWav(f.bytes).data[0][1], 0.25);
    const t = wav({ channels: 1, rate: 44100, bits: 24, frames: 2 });
    t.bytes.set([0x00, 0x00, 0xc0], t.at);
    assert.equal(parseWav(t.bytes).data[0][0], -0.5);
    assert.throws(() => parseWav(new Uint8Array(10)), /not a WAV/);
    assert.throws(() => parseWav(wav({ channels: 1, rate: 48000, bits: 12, frames: 2 }).bytes), /unsupported/);
});

test('notice: longer than half a second is cut, any rate but 96 kHz is resampled', () => {
    assert.deepEqual(conversionNotice({ sampleRate: 96000, frames: 48000 }), { seconds: 0.5, cut: false, resample: false });
    assert.equal(conversionNotice({ sampleRate: 44100, frames: 22051 }).cut, true);
    assert.equal(conversionNotice({ sampleRate: 44100, frames: 22050 }).cut, false);
    assert.equal(conversionNotice({ sampleRate: 48000, frames: 100 }).resample, true);
});

test('frequency response: an impulse is flat at 0 dB, a one-sample echo has a notch', () => {
    const impulse = new Float32Array(4800);
    impulse[0] = 1;
    const flat = frequencyResponse(impulse, 48000, 50);
    assert.equal(flat.length, 50);
    assert.ok(Math.abs(flat[0].hz - 20) < 1e-9 && Math.abs(flat[49].hz - 20000) < 1e-6);
    assert.ok(flat.every((p) => Math.abs(p.db) < 1e-6));
    const echo = new Float32Array(4800);
    echo[0] = 1;
    echo[1] = 1; // zero at Nyquist, +6 dB at DC
    const r = frequencyResponse(echo, 48000, 50);
    assert.ok(Math.abs(r[0].db - 6.02) < 0.05);
    assert.ok(r[49].db < -3);
});
