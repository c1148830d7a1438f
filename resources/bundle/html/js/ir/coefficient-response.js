// What the unit holds for a slot, from its coefficient words (the 3354
// single-precision values of the conversion's coefficient file, as loaded or
// read back): the impulse response on the unit's 96 kHz grid, made of the
// kept taps and the tail the 24 loop segments repeat.
export const UNIT_RATE = 96000;
export const MAX_TAPS = 1640;
export const LOOP_STEPS = 24;
export const UNIT_LENGTH = 48000; // half a second at 96 kHz
const POSITION_STEP = 2 ** -14;

// 32-bit words (numbers) -> the float values they hold.
export function valuesOfWords(words) {
    const bits = Uint32Array.from(words, (w) => w >>> 0);
    return new Float32Array(bits.buffer);
}

// The impulse response (Float32Array of UNIT_LENGTH) the words describe;
// null when they are not a coefficient file.
export function impulseFromWords(words) {
    if (!words || words.length !== 2 * MAX_TAPS + 3 * LOOP_STEPS + 2) return null;
    const v = valuesOfWords(words);
    const h = new Float32Array(UNIT_LENGTH);
    for (let i = 0; i < MAX_TAPS; i++) {
        const value = v[i];
        if (value === 0 || !Number.isFinite(value)) continue;
        const at = Math.round(v[MAX_TAPS + i] / POSITION_STEP);
        if (at >= 0 && at < UNIT_LENGTH) h[at] = value;
    }
    // Loop segment m repeats the taps from its source up to the tail start
    // T, scaled by its gain, at its target; the targets follow each other.
    const base = 2 * MAX_TAPS;
    const target = (m) => (v[base + m] === 1 ? 0 : Math.round(v[base + m]) + 2);
    const tail = target(0);
    for (let m = 0; m < LOOP_STEPS && tail > 0; m++) {
        const to = target(m);
        const from = Math.round(v[base + LOOP_STEPS + m] / POSITION_STEP);
        const gain = v[base + 2 * LOOP_STEPS + m];
        if (to <= 0 || from <= 0 || from >= tail || !Number.isFinite(gain)) continue;
        for (let c = 0; c < tail - from && to + c < UNIT_LENGTH; c++) h[to + c] = h[from + c] * gain;
    }
    return h;
}

// Words of a slot's DATA block in the parameter model (8 digits per word,
// one digit per byte); null when the model holds none (all zero).
export function wordsOfDigits(hexBytes) {
    if (!Array.isArray(hexBytes) || hexBytes.length < 8) return null;
    const words = [];
    let any = false;
    for (let i = 0; i + 8 <= hexBytes.length; i += 8) {
        let w = 0;
        for (let k = 0; k < 8; k++) w = w * 16 + (parseInt(hexBytes[i + k], 16) & 0xf);
        if (w !== 0) any = true;
        words.push(w);
    }
    return any ? words : null;
}
