// What the page shows of a WAV file before loading it: format, samples of
// each channel, the frequency response, and what the conversion will do to
// it (cut to half a second, resample to 96 kHz). The files shown are the
// ones the conversion is given (irfile prepares them), read by its rules.
export const TARGET_RATE = 96000;
export const MAX_SECONDS = 0.5;

const text4 = (b, at) => String.fromCharCode(b[at], b[at + 1], b[at + 2], b[at + 3]);

// The layout of a WAVE file from its first bytes, found as the conversion's
// reader finds it: chunks follow each other (a zero pad byte after an odd
// one is skipped), "fmt " comes first and the sample data is the first
// "data" chunk after it. Returns { format, channels, sampleRate, bits,
// blockAlign, dataStart, dataSize } or throws.
export function parseWavHeader(bytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    if (bytes.length < 12 || text4(bytes, 0) !== 'RIFF' || text4(bytes, 8) !== 'WAVE') throw new Error('not a WAV file');
    let fmt = null;
    for (let at = 12; at + 8 <= bytes.length;) {
        const id = text4(bytes, at);
        const size = view.getUint32(at + 4, true);
        const body = at + 8;
        if (!fmt && id === 'fmt ' && size >= 16 && body + 16 <= bytes.length) {
            let format = view.getUint16(body, true);
            if (format === 0xfffe && size >= 26 && body + 26 <= bytes.length) format = view.getUint16(body + 24, true);
            fmt = {
                format, channels: view.getUint16(body + 2, true), sampleRate: view.getUint32(body + 4, true),
                blockAlign: view.getUint16(body + 12, true), bits: view.getUint16(body + 14, true),
            };
        } else if (fmt && id === 'data') {
            return { ...fmt, dataStart: body, dataSize: size };
        }
        at = body + size;
        if (size % 2 === 1 && at < bytes.length && bytes[at] === 0) at++;
    }
    throw new Error(fmt ? 'no sample data' : 'no format or data chunk');
}

// frames of samples from `bytes` (starting with the first sample of the
// data) -> [Float32Array per channel], or throws for a format not shown.
export function decodeSamples(header, bytes, frames) {
    const { format, channels, bits, blockAlign, sampleRate } = header;
    const width = bits / 8;
    const pcm = format === 1 && [8, 16, 24, 32].includes(bits);
    const float = format === 3 && (bits === 32 || bits === 64);
    if (!(pcm || float) || channels < 1 || blockAlign < channels * width || sampleRate === 0) {
        throw new Error('unsupported sample format');
    }
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    const n = Math.max(0, Math.min(frames, Math.floor(bytes.length / blockAlign)));
    const out = Array.from({ length: channels }, () => new Float32Array(n));
    for (let f = 0; f < n; f++) {
        for (let c = 0; c < channels; c++) {
            const p = f * blockAlign + c * width;
            let v;
            if (float) v = bits === 32 ? view.getFloat32(p, true) : view.getFloat64(p, true);
            else if (bits === 8) v = (bytes[p] - 128) / 128;
            else if (bits === 16) v = view.getInt16(p, true) / 32768;
            else if (bits === 24) v = ((bytes[p] | (bytes[p + 1] << 8) | (bytes[p + 2] << 16)) << 8 >> 8) / 8388608;
            else v = view.getInt32(p, true) / 2147483648;
            out[c][f] = v;
        }
    }
    return out;
}

// bytes: Uint8Array of the whole file. Returns { format, channels, sampleRate,
// bits, frames, data: [Float32Array per channel] } or throws.
export function parseWav(bytes) {
    const h = parseWavHeader(bytes);
    const present = Math.min(h.dataSize, bytes.length - h.dataStart);
    const frames = h.blockAlign ? Math.floor(present / h.blockAlign) : 0;
    const data = decodeSamples(h, bytes.subarray(h.dataStart), frames);
    return { format: h.format, channels: h.channels, sampleRate: h.sampleRate, bits: h.bits, frames, data };
}

export const HEAD_BYTES = 65536;

// Reads the first `seconds` of a WAVE file through the host in two ranges
// (the head, then the samples), so that a long file costs no more than a
// short one. Returns what parseWav does, with `frames` the whole file's.
export function readWavStart(native, path, seconds) {
    const range = (offset, length) => hexToBytes(native.fs.readData(path, JSON.stringify({ offset, length })) ?? '');
    const head = range(0, HEAD_BYTES);
    const h = parseWavHeader(head);
    const frames = h.blockAlign ? Math.floor(h.dataSize / h.blockAlign) : 0;
    const wanted = Math.min(frames, Math.ceil(seconds * h.sampleRate));
    const bytes = range(h.dataStart, wanted * h.blockAlign);
    const data = decodeSamples(h, bytes, wanted);
    return { format: h.format, channels: h.channels, sampleRate: h.sampleRate, bits: h.bits, frames, data };
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

// The level at `hz` of a response (points on a log axis), interpolated.
export function levelAt(points, hz = 1000) {
    if (!points.length) return 0;
    if (hz <= points[0].hz) return points[0].db;
    for (let i = 1; i < points.length; i++) {
        if (points[i].hz >= hz) {
            const a = points[i - 1];
            const b = points[i];
            const t = Math.log(hz / a.hz) / Math.log(b.hz / a.hz);
            return a.db + t * (b.db - a.db);
        }
    }
    return points.at(-1).db;
}

// The response relative to its own level at 1 kHz (0 dB there), so that
// files of any level compare on one fixed scale.
export function relativeTo1k(points) {
    const ref = levelAt(points, 1000);
    return points.map((p) => ({ hz: p.hz, db: p.db - ref }));
}

// Columns of a waveform plot: for each of `width` columns over samples
// [from, to), the lowest and highest value (linear) or the peak magnitude
// in dB below `peak` (log view, floored at floorDb).
export function waveColumns(samples, from, to, width, { db = false, peak = 1, floorDb = -72 } = {}) {
    const out = [];
    const span = Math.max(1, to - from);
    for (let x = 0; x < width; x++) {
        const a = from + Math.floor((x * span) / width);
        const b = Math.max(a + 1, from + Math.floor(((x + 1) * span) / width));
        let lo = 0;
        let hi = 0;
        for (let i = a; i < b && i < to && i < samples.length; i++) {
            lo = Math.min(lo, samples[i]);
            hi = Math.max(hi, samples[i]);
        }
        if (!db) {
            out.push({ lo: lo / peak, hi: hi / peak });
        } else {
            const m = Math.max(-lo, hi) / peak;
            out.push({ db: m > 0 ? Math.max(floorDb, 20 * Math.log10(m)) : floorDb });
        }
    }
    return out;
}
