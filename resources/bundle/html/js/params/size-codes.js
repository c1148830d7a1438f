// Size codes of parameters and how each encodes a value into data bytes.

export const SizeCode = Object.freeze({
    S1x1: 0x100000,
    S1x2: 0x100001,
    S1x3: 0x100002,
    S1x4: 0x100003,
    S1x5: 0x100004,
    S1x6: 0x100005,
    S1x7: 0x100006,
    S2x4: 0x100007,
    S4x4: 0x100008,
    S8x4: 0x100009,
    S2x7: 0x10000b,
    PAD: 0x200000,
});

const NUMERIC = new Map([
    [SizeCode.S2x4, 2], [SizeCode.S4x4, 4], [SizeCode.S8x4, 8], [SizeCode.S2x7, 2],
]);

function isOneByte(code) {
    return code >= SizeCode.S1x1 && code <= SizeCode.S1x7;
}

function isPad(code) {
    return (code & 0xfff00000) === SizeCode.PAD;
}

export function isNumericCode(code) {
    return isOneByte(code) || NUMERIC.has(code) || isPad(code);
}

// Data bytes a parameter of this code occupies.
export function codeBytes(code) {
    if (isOneByte(code)) return 1;
    if (NUMERIC.has(code)) return NUMERIC.get(code);
    if (isPad(code)) return code & 0xfffff;
    return code;
}

// Size code from its name in the address-map definition.
export function codeFromName(type, length) {
    const named = {
        '1x1': SizeCode.S1x1, '1x2': SizeCode.S1x2, '1x3': SizeCode.S1x3, '1x4': SizeCode.S1x4,
        '1x5': SizeCode.S1x5, '1x6': SizeCode.S1x6, '1x7': SizeCode.S1x7, '2x4': SizeCode.S2x4,
        '4x4': SizeCode.S4x4, '8x4': SizeCode.S8x4, '2x7': SizeCode.S2x7,
    }[type];
    if (named !== undefined) return named;
    if (!Number.isInteger(length) || length <= 0 || length >= 0x100000) {
        throw new Error(`size code "${type}" needs a length of 1..1048575 bytes`);
    }
    if (type === 'pad') return SizeCode.PAD + length;
    if (type === 'text') return length;
    throw new Error(`unknown size code "${type}"`);
}

// Digits of v, most significant first, each 4 bits.
function digits(v, n) {
    const out = new Array(n);
    for (let i = n - 1; i >= 0; i--) {
        out[i] = v % 16;
        v = Math.floor(v / 16);
    }
    return out;
}

// Value -> data bytes. Numbers are taken as unsigned integers of the code's
// width; text is cut or padded with spaces.
export function encodeValue(code, v) {
    const n = codeBytes(code);
    if (!isNumericCode(code)) {
        const s = String(v ?? '');
        const out = new Array(n).fill(0x20);
        for (let i = 0; i < n && i < s.length; i++) out[i] = s.charCodeAt(i) & 0x7f;
        return out;
    }
    v = Math.trunc(Number(v) || 0);
    if (isOneByte(code)) return [v & 0x7f];
    if (isPad(code)) return new Array(n).fill(v & 0x7f);
    if (code === SizeCode.S2x7) return [(v >> 7) & 0x7f, v & 0x7f];
    const width = 2 ** (4 * n);
    return digits(((v % width) + width) % width, n);
}

// Data bytes -> number (or text for text codes).
export function decodeValue(code, bytes) {
    if (!isNumericCode(code)) return String.fromCharCode(...bytes.map((b) => b & 0x7f));
    if (isOneByte(code) || isPad(code)) return (bytes[0] ?? 0) & 0x7f;
    if (code === SizeCode.S2x7) return (((bytes[0] ?? 0) & 0x7f) << 7) | ((bytes[1] ?? 0) & 0x7f);
    let v = 0;
    for (const b of bytes) v = v * 16 + (b & 0xf);
    return v;
}

// Stored number for a value: trunc(value x factor) + offset.
export function applyOfs(value, ofs) {
    const [offset, factor] = Array.isArray(ofs) ? ofs : [ofs ?? 0, 1];
    return Math.trunc(value * factor) + offset;
}

// Value for a stored number: (stored - offset) / factor, truncated.
export function removeOfs(stored, ofs) {
    const [offset, factor] = Array.isArray(ofs) ? ofs : [ofs ?? 0, 1];
    return factor === 1 ? stored - offset : Math.trunc((stored - offset) / factor);
}
