// The audio files an impulse response comes in, through the host's "irfile"
// module: what a file is (describe), and the file the conversion is given
// for it (prepare): the file itself when the conversion takes it, otherwise
// a plain decoded copy; with the two channels of a stereo file mixed ("[M]")
// when asked. A host without the module converts files as they are.
export const AUDIO_EXTENSIONS = Object.freeze(['wav', 'wave', 'aif', 'aiff', 'aifc', 'flac']);

export function isAudioFile(path) {
    const m = /\.([^./\\]+)$/.exec(String(path));
    return !!m && AUDIO_EXTENSIONS.includes(m[1].toLowerCase());
}

// The object a host answer's JSON text holds, or null.
export function parseObject(text) {
    try {
        const v = JSON.parse(text);
        return v && typeof v === 'object' ? v : null;
    } catch {
        return null;
    }
}

function call(fn) {
    try {
        return fn();
    } catch (e) {
        return JSON.stringify({ result: 0, reason: e?.message || 'the host could not read it' });
    }
}

// { ok: true, container, codec, float, bits, rate, channels, frames, direct }
// or { ok: false, reason }.
export function describeSource(native, path) {
    if (typeof native?.irfile?.describe !== 'function') return { ok: true, direct: true };
    const a = parseObject(call(() => native.irfile.describe(String(path))));
    if (!a) return { ok: false, reason: 'the host gave no description' };
    if (!a.result) return { ok: false, reason: a.reason || 'not an audio file' };
    return { ok: true, ...a };
}

// mode: '' (the channels as stored) or 'mix'. { ok: true, path, decoded,
// mixed, cut, source } or { ok: false, reason }.
export function prepareSource(native, path, mode = '') {
    if (typeof native?.irfile?.prepare !== 'function') {
        return { ok: true, path, decoded: false, mixed: false, cut: false, source: null };
    }
    const a = parseObject(call(() => (mode ? native.irfile.prepare(String(path), mode) : native.irfile.prepare(String(path)))));
    if (!a) return { ok: false, reason: 'the host did not prepare it' };
    if (!a.result) return { ok: false, reason: a.reason || 'not an audio file' };
    return { ok: true, path: a.path, decoded: !!a.decoded, mixed: !!a.mixed, cut: !!a.cut, source: a.source ?? null };
}

const CONTAINERS = { wav: 'WAV', aiff: 'AIFF', flac: 'FLAC', w64: 'Wave64', caf: 'CAF' };

// "24-bit PCM WAV", "64-bit float WAV", "24-bit FLAC".
export function describeFormat(source) {
    if (!source) return '';
    const container = CONTAINERS[source.container] ?? String(source.container ?? '').toUpperCase();
    const bits = source.bits ? `${source.bits}-bit ` : '';
    if (source.codec === 'pcm' || source.codec === 'float') {
        return `${bits}${source.float ? 'float' : 'PCM'} ${container}`.trim();
    }
    return `${bits}${String(source.codec).toUpperCase()}`.trim();
}

// Length and rate in words: "192 ms, 48 kHz".
export function lengthAndRate({ frames, rate }) {
    if (!rate) return '';
    const ms = (frames / rate) * 1000;
    const length = ms >= 1000 ? `${(ms / 1000).toFixed(2)} s` : `${Math.round(ms)} ms`;
    return `${length}, ${(rate / 1000).toLocaleString('en', { maximumFractionDigits: 2 })} kHz`;
}
