import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    HEAD_BYTES, conversionNotice, frequencyResponse, levelAt, parseWav, parseWavHeader, readWavStart, relativeTo1k, waveColumns,
} from '../../resources/bundle/html/js/ir/wav-preview.js';
import { impulseFromWords, wordsOfDigits } from '../../resources/bundle/html/js/ir/coefficient-response.js';

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

test('the header is found by the conversion reader\'s rules', () => {
    const chunk = (id, body) => {
        const b = new Uint8Array(8 + body.length);
        b.set([...id].map((c) => c.charCodeAt(0)), 0);
        new DataView(b.buffer).setUint32(4, body.length, true);
        b.set(body, 8);
        return b;
    };
    const fmt = new Uint8Array(16);
    const fv = new DataView(fmt.buffer);
    fv.setUint16(0, 1, true); fv.setUint16(2, 1, true); fv.setUint32(4, 48000, true);
    fv.setUint32(8, 96000, true); fv.setUint16(12, 2, true); fv.setUint16(14, 16, true);
    const riff = (...chunks) => {
        const body = chunks.reduce((n, c) => n + c.length, 4);
        const b = new Uint8Array(8 + body);
        b.set([...'RIFF'].map((c) => c.charCodeAt(0)), 0);
        new DataView(b.buffer).setUint32(4, body, true);
        b.set([...'WAVE'].map((c) => c.charCodeAt(0)), 8);
        let at = 12;
        for (const c of chunks) { b.set(c, at); at += c.length; }
        return b;
    };
    const data = chunk('data', new Uint8Array([0, 0x40, 0, 0xc0]));
    // A zero pad byte after an odd chunk is skipped.
    const h = parseWavHeader(riff(chunk('fmt ', fmt), chunk('LIST', new Uint8Array(3)), new Uint8Array(1), data));
    assert.deepEqual([h.channels, h.sampleRate, h.bits, h.dataSize], [1, 48000, 16, 4]);
    assert.deepEqual([...parseWav(riff(chunk('fmt ', fmt), data)).data[0]], [0.5, -0.5]);
    // Sample data before the format is not found.
    assert.throws(() => parseWavHeader(riff(data, chunk('fmt ', fmt))), /no sample data/);
});

test('a long file is read in two ranges: the head, then the first samples', () => {
    const s = wav({ channels: 1, rate: 48000, bits: 16, frames: 48000 });
    const reads = [];
    const hex = (b) => [...b].map((x) => x.toString(16).padStart(2, '0')).join('');
    const native = { fs: { readData: (path, options) => {
        const { offset, length } = JSON.parse(options);
        reads.push([offset, length]);
        return hex(s.bytes.subarray(offset, offset + length));
    } } };
    const w = readWavStart(native, '/irs/long.wav', 0.1);
    assert.equal(w.frames, 48000, 'the length of the whole file');
    assert.equal(w.data[0].length, 4800, 'samples of the first 0.1 s');
    assert.deepEqual(reads, [[0, HEAD_BYTES], [s.at, 9600]]);
});

test('curves are shown relative to their level at 1 kHz', () => {
    const points = [{ hz: 500, db: -3 }, { hz: 2000, db: 9 }];
    assert.equal(levelAt(points, 1000), 3, 'interpolated on the log axis');
    assert.deepEqual(relativeTo1k(points).map((p) => p.db), [-6, 6]);
    const louder = [{ hz: 500, db: 17 }, { hz: 2000, db: 29 }];
    assert.deepEqual(relativeTo1k(louder), relativeTo1k(points), 'the same shape at another level reads the same');
});

test('waveform columns: lowest and highest value, or the peak in dB down to the floor', () => {
    const samples = Float32Array.from([1, -0.5, 0.125, 0.01, 0, 0]);
    assert.deepEqual(waveColumns(samples, 0, 6, 3), [{ lo: -0.5, hi: 1 }, { lo: 0, hi: 0.125 }, { lo: 0, hi: 0 }]);
    const db = waveColumns(samples, 0, 6, 3, { db: true, floorDb: -72 });
    assert.equal(db[0].db, 0);
    assert.ok(Math.abs(db[1].db - 20 * Math.log10(0.125)) < 1e-6);
    assert.equal(db[2].db, -72);
});

test('a coefficient file becomes the impulse the unit holds: kept taps and the looped tail', () => {
    const values = new Float32Array(3354);
    const step = 2 ** -14;
    // Taps at 0, 2 and 10; the tail starts at 12 and repeats 10..11 at half
    // level from 12 on, then at a quarter from 14.
    [[0, 1], [2, -0.5], [10, 0.25]].forEach(([at, v], i) => { values[i] = v; values[1640 + i] = at * step; });
    for (let i = 3; i < 1640; i++) values[1640 + i] = 4080 * step;
    values[3280] = 12 - 2; values[3281] = 14 - 2;
    for (let m = 2; m < 24; m++) values[3280 + m] = 1;
    values[3304] = 10 * step; values[3305] = 10 * step;
    values[3328] = 0.5; values[3329] = 0.25;
    values[3353] = 1;
    const words = [...new Uint32Array(values.buffer)];
    const h = impulseFromWords(words);
    assert.equal(h.length, 48000);
    assert.deepEqual([...h.subarray(0, 16)], [1, 0, -0.5, 0, 0, 0, 0, 0, 0, 0, 0.25, 0, 0.125, 0, 0.0625, 0]);
    assert.equal(impulseFromWords(words.slice(1)), null);
    // The model's digits of a slot (8 per word) give the same words back.
    const digits = words.flatMap((w) => w.toString(16).padStart(8, '0').split('').map((d) => `0${d.toUpperCase()}`));
    assert.deepEqual(wordsOfDigits(digits), words);
    assert.equal(wordsOfDigits(Array(80).fill('00')), null, 'all zero: the model does not hold it');
});
