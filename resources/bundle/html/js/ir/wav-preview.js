// What the page shows of a WAV file before loading it: format, samples of
// each channel, the frequency response, and what the conversion will do to
// it (cut to half a second, resample to 96 kHz).
export const TARGET_RATE = 96000;
export const MAX_SECONDS = 0.5;

const text4 = (b, at) => String.fromCharCode(b[at], b[at + 1], b[at + 2], b[at + 3]);

// bytes: Uint8Array of the whole file. Returns { format, channels, sampleRate,
// bits, frames, data: [Float32Array per channel] } or throws.
export function parseWav(bytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    if (bytes.length < 12 || text4(bytes, 0) !== 'RIFF' || text4(bytes, 8) !== 'WAVE') throw new Error('not a WAV file');
    let fmt = null;
    let data = null;
    for (let at = 12; at + 8 <= bytes.length;) {
        const id = text4(bytes, at);
        const size = view.getUint32(at + 4, true);
        const body = at + 8;
        if (id === 'fmt ' && size >= 16) {
            let format = view.getUint16(body, true);
            if (format === 0xfffe && size >= 26) format = view.getUint16(body + 24, true);
            fmt = {
                format, channels: view.getUint16(body + 2, true), sampleRate: view.getUint32(body + 4, true),
                blockAlign: view.getUint16(body + 12, true), bits: view.getUint16(body + 14, true),
            };
        } else if (id === 'data') {
            data = { at: body, size: Math.min(size, bytes.length - body) };
        }
        at = body + size + (size & 1);
    }
    if (!fmt || !data) throw new Error('no format or data chunk');
    const { format, channels, bits, blockAlign, sampleRate } = fmt;
    const width = bits / 8;
    const pcm = format === 1 && [8, 16, 24, 32].includes(bits);
    const float = format === 3 && (bits === 32 || bits === 64);
    if (!(pcm || float) || channels < 1 || blockAlign < channels * width || sampleRate === 0) {
        throw new Error('unsupported sample format');
    }
    const frames = Math.floor(data.size / blockAlign);
    const out = Array.from({ length: channels }, () => new Float32Array(frames));
    for (let f = 0; f < frames; f++) {
        for (let c = 0; c < channels; c++) {
            const p = data.at + f * blockAlign + c * width;
            let v;
            if (float) v = bits === 32 ? view.getFloat32(p, true) : view.getFloat64(p, true);
            else if (bits === 8) v = (bytes[p] - 128) / 128;
            else if (bits === 16) v = view.getInt16(p, true) / 32768;
            else if (bits === 24) v = ((bytes[p] | (bytes[p + 1] << 8) | (bytes[p + 2] << 16)) << 8 >> 8) / 8388608;
            else v = view.getInt32(p, true) / 2147483648;
            out[c][f] = v;
        }
    }
    return { format, channels, sampleRate, bits, frames, data: out };
}

// What the conversion will do with a file of this rate and length.
export function conversionNotice({ sampleRate, frames }) {
    const cap = Math.trunc(sampleRate * MAX_SECONDS + 0.5);
    return {
        seconds: frames / sampleRate,
        cut: frames > cap,
        resample: sampleRate !== TARGET_RATE,
    };
}

function fft(re, im) {
    const n = re.length;
    for (let i = 1, j = 0; i < n; i++) {
        let bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) {
            [re[i], re[j]] = [re[j], re[i]];
            [im[i], im[j]] = [im[j], im[i]];
        }
    }
    for (let len = 2; len <= n; len <<= 1) {
        const ang = (-2 * Math.PI) / len;
        for (let i = 0; i < n; i += len) {
            for (let k = 0; k < len / 2; k++) {
                const wr = Math.cos(ang * k);
                const wi = Math.sin(ang * k);
                const a = i + k;
                const b = a + len / 2;
                const xr = re[b] * wr - im[b] * wi;
                const xi = re[b] * wi + im[b] * wr;
                re[b] = re[a] - xr;
                im[b] = im[a] - xi;
                re[a] += xr;
                im[a] += xi;
            }
        }
    }
}

// Magnitude in dB at `points` log-spaced frequencies from 20 Hz to 20 kHz
// (or the file's Nyquist frequency), of at most half a second of samples.
export function frequencyResponse(samples, sampleRate, points = 200) {
    const used = Math.min(samples.length, Math.trunc(sampleRate * MAX_SECONDS + 0.5));
    let n = 1024;
    while (n < used) n <<= 1;
    const re = new Float64Array(n);
    const im = new Float64Array(n);
    for (let i = 0; i < used; i++) re[i] = samples[i];
    fft(re, im);
    const top = Math.min(20000, sampleRate / 2);
    const freq = (p) => 20 * (top / 20) ** (p / (points - 1));
    const binOf = (hz) => Math.min(n / 2, Math.round((hz * n) / sampleRate));
    const out = [];
    // Each point is the power mean over its share of the log axis, so the
    // curve reads like a smoothed analyser rather than single noisy bins.
    for (let p = 0; p < points; p++) {
        const hz = freq(p);
        const lo = binOf(p === 0 ? hz : Math.sqrt(freq(p - 1) * hz));
        const hi = Math.max(lo, binOf(p === points - 1 ? hz : Math.sqrt(hz * freq(p + 1))));
        let power = 0;
        for (let b = lo; b <= hi; b++) power += re[b] * re[b] + im[b] * im[b];
        const mag = Math.sqrt(power / (hi - lo + 1));
        out.push({ hz, db: 20 * Math.log10(Math.max(mag, 1e-9)) });
    }
    return out;
}

export function hexToBytes(hex) {
    const out = new Uint8Array(hex.length >> 1);
    for (let i = 0; i < out.length; i++) out[i] = parseInt(hex.substr(i * 2, 2), 16);
    return out;
}
