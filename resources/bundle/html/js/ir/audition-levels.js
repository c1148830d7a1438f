// Hearing two IRs at the same loudness: the host reports the level of each
// rendering of the DI phrase (RMS and peak, dB re full scale); the gains
// set here bring every rendering to one RMS level, as loud as it can be
// while the loudest peak stays below the ceiling. A louder IR then sounds
// no better for being louder.
export const TARGET_RMS_DB = -20;
export const CEILING_DB = -1;
// What the host's "gain" call takes.
export const GAIN_RANGE_DB = Object.freeze([-96, 24]);

const usable = (l) => l && Number.isFinite(l.rms) && Number.isFinite(l.peak) && l.rms > -150 && l.peak >= l.rms;

// levels: [{ rms, peak } | null] by take. { level, gains } where gains[i]
// is the gain in dB for take i (0 for a take without levels) and level the
// RMS every usable take is heard at (null when none is).
export function matchLevels(levels) {
    const known = levels.filter(usable);
    if (!known.length) return { level: null, gains: levels.map(() => 0) };
    const crest = Math.max(...known.map((l) => l.peak - l.rms));
    const level = Math.min(TARGET_RMS_DB, CEILING_DB - crest);
    const [low, high] = GAIN_RANGE_DB;
    const gains = levels.map((l) => {
        if (!usable(l)) return 0;
        const g = Math.min(high, Math.max(low, level - l.rms));
        return Math.round(g * 100) / 100;
    });
    return { level, gains };
}

// The host's "load" request for a take: the file and the channel the
// preview shows (0 left or mono, 1 right, "mix").
export function takeRequest(path, channel) {
    const ch = channel === 'mix' ? 'mix' : channel === 1 ? 1 : 0;
    return JSON.stringify({ ch, path: String(path) });
}
