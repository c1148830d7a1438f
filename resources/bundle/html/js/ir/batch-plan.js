// Several files into consecutive slots: which file goes where, with what it
// is (length, rate) and what it replaces, said in one confirmation before
// anything is written; and the summary of what a batch did.
import { fileName } from './ir-messages.js';
import { lengthAndRate } from './ir-source.js';

// files: [{ path, info }] in order (info: the host's description, { ok,
// rate, frames, channels } or { ok: false, reason }); slot: the first slot
// (0-based); slotCount; held(k): the name slot k holds, '' when empty.
// Files that cannot be used take no slot. Returns { rows: [{ slot, path,
// name, rate, frames, channels, replaces }], unusable: [{ path, name,
// reason }], left: [paths that do not fit] }.
export function planBatch({ files, slot, slotCount, held = () => '' }) {
    const rows = [];
    const unusable = [];
    const left = [];
    for (const { path, info } of files) {
        const name = fileName(path);
        if (!info?.ok) {
            unusable.push({ path, name, reason: info?.reason || 'cannot be read' });
            continue;
        }
        const k = slot + rows.length;
        if (k >= slotCount) {
            left.push(path);
            continue;
        }
        rows.push({
            slot: k, path, name, rate: info.rate ?? 0, frames: info.frames ?? 0, channels: info.channels ?? 0,
            replaces: held(k) || null,
        });
    }
    return { rows, unusable, left };
}

// "slot 3" / "slots 3–7" (0-based slots in, 1-based out).
export function slotRange(slots) {
    if (!slots.length) return 'no slot';
    return slots.length === 1 ? `slot ${slots[0] + 1}` : `slots ${slots[0] + 1}–${slots.at(-1) + 1}`;
}

// One line of the confirmation: "Cab A.wav · 192 ms, 48 kHz · stereo · replaces "Old"".
export function rowDetail(row) {
    const parts = [lengthAndRate(row)];
    if (row.channels === 2) parts.push('stereo');
    parts.push(row.replaces ? `replaces "${row.replaces}"` : 'slot empty');
    return parts.filter(Boolean).join(' · ');
}

// Whether any planned file is stereo (the confirmation then asks which
// channel stereo files give).
export const hasStereo = (plan) => plan.rows.some((r) => r.channels === 2);

// The end of a batch in words. result: { loaded: [{ slot, name }],
// skipped: [{ slot, name, reason }], stopped: { slot, text } | null,
// cancelled, notDone: [rows] }.
export function batchSummary(result) {
    const lines = [];
    const changed = result.loaded.map((l) => l.slot);
    if (result.stopped) changed.push(result.stopped.slot);
    for (const l of result.loaded) lines.push(`Slot ${l.slot + 1} now holds "${l.name}", read back and verified.`);
    for (const s of result.skipped) lines.push(`Slot ${s.slot + 1} was left as it was: ${s.name} ${s.reason}.`);
    if (result.stopped) lines.push(`Slot ${result.stopped.slot + 1} did not finish: ${result.stopped.text}`);
    if (result.notDone.length) {
        const why = result.cancelled ? 'Cancelled' : 'Stopped';
        lines.push(`${why} before ${slotRange(result.notDone.map((r) => r.slot))}: ${result.notDone.length === 1 ? 'it was' : 'they were'} not changed.`);
    }
    const title = result.stopped
        ? 'Loading stopped'
        : result.cancelled
            ? 'Loading cancelled'
            : result.skipped.length ? `Loaded ${result.loaded.length} of ${result.loaded.length + result.skipped.length} files` : `Loaded ${result.loaded.length} file${result.loaded.length === 1 ? '' : 's'}`;
    const head = changed.length
        ? `Changed: ${changed.length === 1 ? 'slot' : 'slots'} ${changed.sort((a, b) => a - b).map((k) => k + 1).join(', ')}.`
        : 'No slot was changed.';
    return { title, text: [head, ...lines].join('\n'), changed };
}
