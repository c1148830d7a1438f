// What a slot's coefficients sound like, for showing a slot without its
// WAV file (a backup opened without the unit): the taps of the sparse
// filter laid out on their 96 kHz grid, then the same frequency response
// the preview draws for a file.
import { frequencyResponse } from './wav-preview.js';

export const TAP_COUNT = 1640;
export const TAP_RATE = 96000;
// Positions are tap indices times 2^-14.
const POSITION_SCALE = 16384;

const f32 = new Float32Array(1);
const u32 = new Uint32Array(f32.buffer);
const floatOf = (word) => {
    u32[0] = word >>> 0;
    return f32[0];
};

// Words from a slot's DATA block: eight hex digits a word, one digit in
// each data byte, most significant first.
export function wordsFromDigits(hexes) {
    const words = [];
    for (let i = 0; i + 8 <= hexes.length; i += 8) {
        let w = 0;
        for (let k = 0; k < 8; k++) w = w * 16 + ((parseInt(hexes[i + k], 16) || 0) & 0xf);
        words.push(w >>> 0);
    }
    return words;
}

// The filter's impulse response (Float32Array at TAP_RATE); null when the
// words hold no taps.
export function tapImpulse(words) {
    if (!Array.isArray(words) || words.length < 2 * TAP_COUNT) return null;
    const taps = [];
    let last = 0;
    for (let i = 0; i < TAP_COUNT; i++) {
        const value = floatOf(words[i]);
        const at = Math.round(floatOf(words[TAP_COUNT + i]) * POSITION_SCALE);
        if (!Number.isFinite(value) || value === 0 || !Number.isFinite(at) || at < 0 || at > 65535) continue;
        taps.push([at, value]);
        last = Math.max(last, at);
    }
    if (!taps.length) return null;
    const samples = new Float32Array(last + 1);
    for (const [at, value] of taps) samples[at] += value;
    return samples;
}

// The taps span a few tens of milliseconds: padded with silence to this
// many samples, the lowest octaves get bins of their own.
const CURVE_SAMPLES = 32768;

// { samples, rate, response } of a slot's coefficients, or null.
export function coefficientCurve(words, points = 240) {
    const samples = tapImpulse(words);
    if (!samples) return null;
    const padded = new Float32Array(Math.max(CURVE_SAMPLES, samples.length));
    padded.set(samples);
    return { samples, rate: TAP_RATE, response: frequencyResponse(padded, TAP_RATE, points) };
}
