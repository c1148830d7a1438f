// A list of DT1 messages written into the unit and proved there: after the
// list, everything it covers is read back and compared byte for byte; the
// messages whose data differ (or that drew no answer) are sent once more and
// checked again. Nothing counts as written until that holds.
//
// Phases reported through onProgress({ phase, percent }): "write", "verify",
// and after a difference "resend" and "recheck".
import { ObserverSlot, READ_PIECE } from '../params/read-write-logic.js';

export const Phase = Object.freeze({ write: 'write', verify: 'verify', resend: 'resend', recheck: 'recheck' });

const bytesOf = (hex) => String(hex).toUpperCase().match(/../g) ?? [];

// The ranges the messages cover, merged where they touch, as read tasks of
// at most `piece` bytes.
export function readTasksFor(messages, piece = READ_PIECE) {
    const ranges = messages
        .map((m) => ({ start: m.address, end: m.address + bytesOf(m.data).length }))
        .filter((r) => r.end > r.start)
        .sort((a, b) => a.start - b.start);
    const merged = [];
    for (const r of ranges) {
        const last = merged[merged.length - 1];
        if (last && r.start <= last.end) last.end = Math.max(last.end, r.end);
        else merged.push({ ...r });
    }
    const tasks = [];
    for (const { start, end } of merged) {
        for (let at = start; at < end; at += piece) tasks.push({ address: at, size: Math.min(piece, end - at) });
    }
    return tasks;
}

// Indices of the messages whose bytes the image (linear address -> two hex
// digits, from the read-back) does not hold exactly.
export function differingMessages(messages, image) {
    const out = [];
    messages.forEach((m, i) => {
        const bytes = bytesOf(m.data);
        if (bytes.some((b, k) => image.get(m.address + k) !== b)) out.push(i);
    });
    return out;
}

export class VerifiedWrite {
    // readWrite: the batch reader and writer; gap: ms after each DT1;
    // onSent(index): message index has gone out.
    constructor({ readWrite, gap = 0, onProgress = () => {}, onSent = () => {} }) {
        Object.assign(this, { readWrite, gap, onProgress, onSent });
        this.settle = null;
        this.observing = new ObserverSlot(readWrite);
    }

    get running() {
        return this.settle !== null;
    }

    // Writes messages[from..] (none when write is false: a job taken up
    // again only checks and completes what the unit holds), then verifies,
    // and calls done({ ok: true, resent: [indices] }) or done({ ok: false,
    // reason, phase, sent, differing }): reason "differ" (still wrong after
    // the second send), "timeout" (the unit stopped answering), or what
    // abort() or cancel() gave. done runs from the link's callbacks, never
    // inside run().
    run(messages, { from = 0, write = true } = {}, done = () => {}) {
        if (this.settle) throw new Error('a verified write is already running');
        const state = { phase: Phase.write, sent: write ? from : messages.length, differing: [] };
        this.settle = (result) => {
            this.observing.detach();
            this.settle = null;
            done({ phase: state.phase, sent: state.sent, differing: state.differing, ...result });
        };
        const verify = (indices, phase, then) => {
            state.phase = phase;
            const list = indices.map((i) => messages[i]);
            const image = new Map();
            this.read(readTasksFor(list), image, phase, () => {
                then(differingMessages(list, image).map((k) => indices[k]));
            });
        };
        const all = messages.map((_, i) => i);
        const afterWrite = () => verify(all, Phase.verify, (differing) => {
            state.differing = differing;
            if (differing.length === 0) return this.settle({ ok: true, resent: [] });
            state.phase = Phase.resend;
            this.write(differing.map((i) => messages[i]), Phase.resend, () => {}, () => {
                verify(differing, Phase.recheck, (still) => {
                    state.differing = still;
                    if (still.length === 0) return this.settle({ ok: true, resent: differing });
                    this.settle({ ok: false, reason: 'differ' });
                });
            });
        });
        if (!write || from >= messages.length) return afterWrite();
        this.write(messages.slice(from), Phase.write, () => {
            this.onSent(state.sent);
            state.sent++;
        }, afterWrite);
    }

    // The user's cancel.
    cancel() {
        this.abort('cancelled');
    }

    // Stops at once (the unit went away, the user cancelled...).
    abort(reason) {
        if (!this.settle) return;
        this.readWrite.cancel();
        this.settle({ ok: false, reason });
    }

    write(list, phase, each, done) {
        const tasks = list.map((m) => ({ address: m.address, data: m.data, wait: this.gap }));
        this.observing.attach((state) => {
            if (typeof state === 'number') {
                each();
                return this.onProgress({ phase, percent: state });
            }
            if (state === 'end') return done();
            this.settle({ ok: false, reason: 'timeout' });
        });
        this.onProgress({ phase, percent: 0 });
        this.readWrite.writeStart(tasks);
    }

    read(tasks, image, phase, done) {
        this.observing.attach((state) => {
            if (typeof state === 'number') return this.onProgress({ phase, percent: state });
            if (state === 'end') return done();
            this.settle({ ok: false, reason: 'timeout' });
        });
        this.onProgress({ phase, percent: 0 });
        this.readWrite.readStart(tasks, {
            onData: (address, hex) => bytesOf(hex).forEach((b, k) => image.set(address + k, b)),
        });
    }
}
