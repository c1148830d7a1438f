// Several files into consecutive slots: the plan the confirmation shows, the
// batch running through the real loader into a scripted unit (a file that
// fails is skipped, cancel stops after the slot being loaded, a unit that
// goes away ends it), its summary, and what a dropped folder stands for.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { ControlRouter } from '../../resources/bundle/html/js/ir/control-router.js';
import { IrDataLoader } from '../../resources/bundle/html/js/ir/ir-loader.js';
import { COEFFICIENT_WORDS, slotStart } from '../../resources/bundle/html/js/ir/ir-messages.js';
import { BatchLoad } from '../../resources/bundle/html/js/ir/batch-load.js';
import { batchSummary, planBatch, rowDetail, slotRange } from '../../resources/bundle/html/js/ir/batch-plan.js';
import { expandDropped } from '../../resources/bundle/html/js/ir/dropped-files.js';
import { createLoadWaiter } from '../../resources/bundle/html/js/library/library-editor.js';
import { linkedUnit } from './helpers/linked-unit.mjs';

const info = (rate, frames, channels = 1) => ({ ok: true, rate, frames, channels });

test('the plan puts usable files into consecutive slots and says what each replaces', () => {
    const held = (k) => ({ 3: 'Old Cab', 5: 'Room' }[k] ?? '');
    const plan = planBatch({
        slot: 2, slotCount: 11, held,
        files: [
            { path: '/irs/A 1.wav', info: info(48000, 9216) },
            { path: '/irs/broken.wav', info: { ok: false, reason: 'not an audio file this program reads (WAV, AIFF, FLAC)' } },
            { path: '/irs/B.flac', info: info(44100, 22050, 2) },
            { path: '/irs/C.aiff', info: info(96000, 48000) },
        ],
    });
    assert.deepEqual(plan.rows.map((r) => [r.slot, r.name, r.replaces]), [[2, 'A 1.wav', null], [3, 'B.flac', 'Old Cab'], [4, 'C.aiff', null]]);
    assert.deepEqual(plan.unusable.map((u) => u.name), ['broken.wav'], 'a file that cannot be used takes no slot');
    assert.deepEqual(plan.left, []);
    assert.equal(rowDetail(plan.rows[0]), '192 ms, 48 kHz · slot empty');
    assert.equal(rowDetail(plan.rows[1]), '500 ms, 44.1 kHz · stereo · replaces "Old Cab"');
    assert.equal(rowDetail(plan.rows[2]), '500 ms, 96 kHz · slot empty');
    assert.equal(slotRange(plan.rows.map((r) => r.slot)), 'slots 3–5');

    // Behind the last slot there is no room.
    const full = planBatch({ slot: 9, slotCount: 11, files: ['a', 'b', 'c'].map((n) => ({ path: `/irs/${n}.wav`, info: info(48000, 4800) })) });
    assert.deepEqual(full.rows.map((r) => r.slot), [9, 10]);
    assert.deepEqual(full.left, ['/irs/c.wav']);
    assert.equal(slotRange([4]), 'slot 5');
});

test('the summary says which slots changed, which were left, and why it ended', () => {
    const done = batchSummary({
        loaded: [{ slot: 2, name: 'A' }, { slot: 3, name: 'B' }], skipped: [], stopped: null, cancelled: false, notDone: [],
    });
    assert.equal(done.title, 'Loaded 2 files');
    assert.equal(done.text, 'Changed: slots 3, 4.\nSlot 3 now holds "A", read back and verified.\nSlot 4 now holds "B", read back and verified.');
    const cancelled = batchSummary({
        loaded: [{ slot: 2, name: 'A' }], skipped: [{ slot: 3, name: 'b.wav', reason: 'could not be loaded (x)' }], stopped: null,
        cancelled: true, notDone: [{ slot: 4 }, { slot: 5 }],
    });
    assert.equal(cancelled.title, 'Loading cancelled');
    assert.match(cancelled.text, /^Changed: slot 3\.\n/);
    assert.match(cancelled.text, /Slot 4 was left as it was: b\.wav could not be loaded \(x\)\./);
    assert.match(cancelled.text, /Cancelled before slots 5–6: they were not changed\.$/);
    const stopped = batchSummary({
        loaded: [], skipped: [], stopped: { slot: 6, text: 'Sent: 3 of 116 messages.' }, cancelled: false, notDone: [{ slot: 7 }],
    });
    assert.equal(stopped.title, 'Loading stopped');
    assert.deepEqual(stopped.changed, [6], 'a slot written in part has changed too');
    assert.match(stopped.text, /Slot 7 did not finish: Sent: 3 of 116 messages\.\nStopped before slot 8: it was not changed\.$/);
});

// The loader on a scripted unit, with a host whose conversion gives each
// file its own coefficients (and refuses the files named "bad").
function loadRig() {
    const { clock, native, setting, controller, unit, parameter, readWrite } = linkedUnit();
    const wordsOf = (path) => Array.from({ length: COEFFICIENT_WORDS }, (_, i) => (i * 7919 + path.length * 104729) >>> 0);
    const hexOf = (ws) => ws.map((w) => w.toString(16).padStart(8, '0').match(/../g).reverse().join('')).join('');
    native.app.events = {};
    const reply = (word, obj, ms = 1) => clock.setTimeout(() => native.app.events.command(word, JSON.stringify(obj)), ms);
    native.app.control = (text) => {
        const word = text.substring(0, text.indexOf(':'));
        const args = JSON.parse(text.substring(text.indexOf(':') + 1));
        if (word === 'wavstat') reply(word, args.path.includes('bad') ? { result: 0 } : { result: 1, channels: 1, format: 1, sampleRate: 48000 });
        else if (args.path) {
            reply(word, { result: 1 });
            reply(word, { load: 'finished', path: args.path + '.coef', result: 1 }, 200);
        } else reply(word, { progress: 50, result: 1 });
    };
    native.fs = { readData: (path) => hexOf(wordsOf(path.replace(/\.coef$/, ''))) };
    const waiter = createLoadWaiter();
    const seen = [];
    const loader = new IrDataLoader({
        native, router: new ControlRouter(native), controller, readWrite, parameter, setting, clock,
        isConnected: () => true,
        onEvent: (e) => { seen.push(e.type); waiter.observe(e, loader.busy); },
    });
    const slotName = (k) => {
        const at = slotStart(setting, setting.irDataNameAddr, k);
        return String.fromCharCode(...Array.from({ length: 16 }, (_, i) => parseInt(unit.memory.get(at + i) ?? '20', 16))).trimEnd();
    };
    const slotWords = (k) => {
        const at = slotStart(setting, setting.irDataCoefAddr, k);
        const digits = Array.from({ length: 16 }, (_, i) => parseInt(unit.memory.get(at + i) ?? '0', 16));
        return [0, 8].map((o) => digits.slice(o, o + 8).reduce((v, d) => v * 16 + d, 0));
    };
    // Runs the fake clock while the promise is pending.
    const drive = async (promise, step = () => {}) => {
        let done = false;
        promise.then(() => { done = true; }, () => { done = true; });
        for (let t = 0; t < 120000 && !done; t += 10) {
            clock.advance(10);
            step();
            await new Promise((r) => setImmediate(r));
        }
        return promise;
    };
    const plan = (slot, paths) => planBatch({
        slot, slotCount: setting.numOfIrData, files: paths.map((path) => ({ path, info: info(48000, 4800) })),
    });
    const batch = (options = {}) => new BatchLoad({
        load: (row) => waiter.wait(() => loader.load(row.slot, row.path)), ...options,
    });
    return { setting, loader, waiter, slotName, slotWords, wordsOf, drive, seen, plan, batch, unit };
}

test('a batch loads every file, verified, into consecutive slots; a failing file leaves its slot and the rest go on', async () => {
    const r = loadRig();
    const started = [];
    const paths = ['/irs/Mesa/first.wav', '/irs/bad one.wav', '/irs/third.wav'];
    const result = await r.drive(r.batch({ onStart: (row, i, n) => started.push([row.slot, i, n]) }).run(r.plan(8, paths)));
    assert.deepEqual(started, [[8, 0, 3], [9, 1, 3], [10, 2, 3]]);
    assert.deepEqual(result.loaded.map((l) => [l.slot, l.name]), [[8, 'first'], [10, 'third']]);
    assert.deepEqual(result.skipped.map((s) => [s.slot, s.name]), [[9, 'bad one.wav']]);
    assert.equal(result.stopped, null);
    assert.equal(r.slotName(8), 'first');
    assert.equal(r.slotName(9), '', 'the failing file\'s slot is as it was');
    assert.equal(r.slotName(10), 'third');
    assert.deepEqual(r.slotWords(8), r.wordsOf(paths[0]).slice(0, 2));
    assert.deepEqual(r.slotWords(10), r.wordsOf(paths[2]).slice(0, 2));
    assert.equal(r.seen.filter((t) => t === 'finished').length, 2);
});

test('cancel stops after the slot being loaded; a unit that goes away ends the batch there', async () => {
    const r = loadRig();
    const b = r.batch({ onStart: (row) => { if (row.slot === 1) b.cancel(); } });
    const result = await r.drive(b.run(r.plan(0, ['/irs/a.wav', '/irs/bb.wav', '/irs/ccc.wav', '/irs/dddd.wav'])));
    assert.deepEqual(result.loaded.map((l) => l.slot), [0, 1], 'the slot being loaded when cancelled finished');
    assert.equal(result.cancelled, true);
    assert.deepEqual(result.notDone.map((row) => row.slot), [2, 3]);
    assert.equal(r.slotName(2), '');
    assert.equal(batchSummary(result).text.split('\n')[0], 'Changed: slots 1, 2.');

    let current = null;
    const gone = r.batch({ onStart: (row) => { current = row.slot; } });
    // The unit is unplugged while the second slot is being written.
    const ended = await r.drive(gone.run(r.plan(4, ['/irs/e.wav', '/irs/ff.wav', '/irs/ggg.wav'])), () => {
        if (current === 5 && r.loader.writer?.running) r.loader.abort('gone');
    });
    assert.deepEqual(ended.loaded.map((l) => l.slot), [4]);
    assert.equal(ended.stopped.slot, 5);
    assert.equal(ended.stopped.event.report.reason, 'gone');
    assert.deepEqual(ended.notDone.map((row) => row.slot), [6]);
    assert.ok(r.loader.interrupted, 'the interrupted slot can be finished');
    assert.equal(batchSummary(ended).title, 'Loading stopped');
});

test('a dropped folder stands for the audio files directly in it, in name order', () => {
    const tree = {
        '/drop/Pack': [
            { name: 'Cab 10.wav', directory: false }, { name: 'cab 2.flac', directory: false }, { name: 'notes.txt', directory: false },
            { name: 'Cab 1.AIFF', directory: false }, { name: 'Sub', directory: true },
        ],
        '/drop/Empty': [{ name: 'readme.md', directory: false }],
    };
    const native = {
        fs: {
            stat: (p) => JSON.stringify({ name: p.split('/').pop(), directory: p in tree }),
            contents: (p) => JSON.stringify(tree[p] ?? []),
        },
    };
    const { files, ignored } = expandDropped(native, ['/drop/Pack', '/drop/loose.wav', '/drop/Empty', '/drop/photo.jpg']);
    assert.deepEqual(files, ['/drop/Pack/Cab 1.AIFF', '/drop/Pack/cab 2.flac', '/drop/Pack/Cab 10.wav', '/drop/loose.wav']);
    assert.deepEqual(ignored, ['/drop/Empty', '/drop/photo.jpg']);
});
