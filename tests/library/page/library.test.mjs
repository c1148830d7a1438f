// The library panel's logic without a DOM: queries, row words, curves, the
// drag data, the client over a recording host, and several rows dropped on
// a slot loading one after another through the real loader into a scripted
// unit.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createNative } from '../../../resources/bundle/html/js/bridge/native.js';
import { ControlRouter } from '../../../resources/bundle/html/js/ir/control-router.js';
import { IrDataLoader } from '../../../resources/bundle/html/js/ir/ir-loader.js';
import { COEFFICIENT_WORDS, slotStart } from '../../../resources/bundle/html/js/ir/ir-messages.js';
import { LibraryClient } from '../../../resources/bundle/html/js/library/library-client.js';
import { createLoadWaiter } from '../../../resources/bundle/html/js/library/library-editor.js';
import {
    DRAG_TYPE, endLibraryDrag, isLibraryDrag, libraryDragPaths, loadIntoSlots, startLibraryDrag,
} from '../../../resources/bundle/html/js/library/library-drop.js';
import {
    PAGE_ROWS, buildQuery, describeProgress, describeRow, describeSummary,
} from '../../../resources/bundle/html/js/library/library-query.js';
import { thumbnailDb, thumbnailPoints } from '../../../resources/bundle/html/js/library/thumbnail.js';
import { linkedUnit } from '../../page/helpers/linked-unit.mjs';

// A drag's data as the browser keeps it.
class FakeTransfer {
    constructor(entries = {}) { this.data = new Map(Object.entries(entries)); }
    get types() { return [...this.data.keys()]; }
    setData(type, value) { this.data.set(type, value); }
    getData(type) { return this.data.get(type) ?? ''; }
}

test('the panel state becomes the search the host takes', () => {
    assert.deepEqual(buildQuery({}), { text: '', sort: 'name', limit: PAGE_ROWS, offset: 0 });
    assert.deepEqual(
        buildQuery({ text: 'v30 57', sort: 'brightness', descending: true, rate: '48000', channels: '2', length: 'medium', favourites: true, offset: 100 }),
        { text: 'v30 57', sort: 'brightness', descending: true, rate: 48000, channels: 2, maxLength: 500, favourites: true, limit: PAGE_ROWS, offset: 100 });
    assert.deepEqual(buildQuery({ length: 'long', rate: '0', channels: '0' }).minLength, 500);
    // Similarity needs a selected IR; without one the order is by name.
    assert.equal(buildQuery({ sort: 'similar' }).sort, 'name');
    assert.deepEqual(buildQuery({ sort: 'similar', similar: '/irs/a.wav' }),
        { text: '', sort: 'similar', similar: '/irs/a.wav', limit: PAGE_ROWS, offset: 0 });
});

test('rows and scans are described in words', () => {
    assert.equal(describeRow({ rate: 44100, bits: 24, format: 'wav-pcm', length: 500, channels: 1 }), '44.1 kHz · 24-bit PCM · 500 ms · mono');
    assert.equal(describeRow({ rate: 96000, bits: 32, format: 'wav-float', length: 1500, channels: 2 }), '96 kHz · 32-bit float · 1.50 s · stereo');
    assert.equal(describeProgress(1234, 5000), 'Scanning… 1,234 of 5,000 files');
    assert.equal(describeProgress(0, 0), 'Scanning…');
    assert.equal(describeSummary({ files: 9896, skipped: 104, added: 3, removed: 1, missing: [] }), '9,896 IRs · 104 skipped · 3 new, 1 gone');
    assert.equal(describeSummary({ files: 10, cancelled: 1, missing: ['/media/usb/IRs'] }), 'Scan stopped. 10 IRs · missing: /media/usb/IRs');
});

test('thumbnail digits are dB below the peak, drawn from the top down', () => {
    const hex = '00' + '14' + 'B4' + 'FF' + 'zz' + '00'.repeat(59);
    const db = thumbnailDb(hex);
    assert.equal(db.length, 64);
    assert.deepEqual(db.slice(0, 5), [-0, -10, -90, -90, -90]);
    const points = thumbnailPoints(hex, 89, 26, 48);
    assert.deepEqual(points[0], [0, 1]);
    assert.equal(points[63][0], 88);
    assert.ok(Math.abs(points[1][1] - (1 + (10 / 48) * 24)) < 1e-9);
    assert.equal(points[2][1], 25); // below the shown range: on the bottom line
    assert.equal(thumbnailDb(undefined).every((v) => v === -90), true);
});

test('dragged rows carry their paths; other drags carry none', () => {
    const t = new FakeTransfer();
    startLibraryDrag(t, ['/irs/a b.wav', '/irs/c.wav']);
    assert.ok(isLibraryDrag(t));
    assert.deepEqual(JSON.parse(t.getData(DRAG_TYPE)), ['/irs/a b.wav', '/irs/c.wav']);
    assert.equal(t.getData('text/plain'), '/irs/a b.wav\n/irs/c.wav');
    assert.deepEqual(libraryDragPaths(t), ['/irs/a b.wav', '/irs/c.wav']);
    // A drop that lists the type but keeps its data to itself.
    assert.deepEqual(libraryDragPaths({ types: [DRAG_TYPE], getData: () => '' }), ['/irs/a b.wav', '/irs/c.wav']);
    endLibraryDrag();
    assert.deepEqual(libraryDragPaths({ types: [DRAG_TYPE], getData: () => '' }), []);
    assert.deepEqual(libraryDragPaths(new FakeTransfer({ 'text/uri-list': 'file:///x.wav', Files: '' })), []);
    assert.deepEqual(libraryDragPaths(new FakeTransfer({ [DRAG_TYPE]: '{not json' })), []);
    assert.deepEqual(libraryDragPaths(null), []);
});

test('the client sends its calls with JSON arguments and hands on the events', () => {
    const calls = [];
    const answers = {
        $$library_search: 's{"offset":0,"rows":[{"path":"/irs/a.wav"}],"total":1}',
        $$library_folders: 's[{"files":1,"path":"/irs","skipped":0}]',
        $$library_addfolder: 'eNo such file or directory',
        $$library_entry: 's',
    };
    const native = createNative((name, ...args) => { calls.push([name, ...args]); return answers[name] ?? 'b1'; });
    const events = [];
    const client = new LibraryClient(native, (e) => events.push(e));
    assert.ok(client.available);
    assert.equal(client.search({ text: 'a', limit: 5 }).rows[0].path, '/irs/a.wav');
    assert.deepEqual(calls.at(-1), ['$$library_search', '{"text":"a","limit":5}']);
    assert.equal(client.folders()[0].path, '/irs');
    assert.throws(() => client.addFolder('/none'), { message: 'No such file or directory' });
    assert.equal(client.entry('/irs/b.wav'), null);
    client.setTags('/irs/a.wav', ['warm', 'v30']);
    assert.deepEqual(calls.at(-1), ['$$library_tag', '/irs/a.wav', '["warm","v30"]']);
    client.setFavourite('/irs/a.wav', false);
    assert.deepEqual(calls.at(-1), ['$$library_favourite', '/irs/a.wav', 'false']);

    native.library.events.progress('3', '10');
    native.library.events.scanned('{"files":9,"cancelled":0}');
    native.library.events.rebuilt('index', '/data/ir-index.sqlite.damaged-1', 'damaged (file is not a database)', '0');
    native.library.events.scanfailed('disk I/O error');
    assert.deepEqual(events, [
        { type: 'progress', done: 3, total: 10 },
        { type: 'scanned', summary: { files: 9, cancelled: 0 } },
        { type: 'rebuilt', which: 'index', keptAs: '/data/ir-index.sqlite.damaged-1', reason: 'damaged (file is not a database)', recovered: 0 },
        { type: 'scanfailed', message: 'disk I/O error' },
    ]);
    assert.equal(new LibraryClient(createNative(null)).available, false);

    // A library the host cannot read answers empty, with the reason kept.
    answers.$$library_search = 'elibrary: database disk image is malformed';
    assert.deepEqual(client.search({}), { total: 0, offset: 0, rows: [] });
    assert.equal(client.failure, 'library: database disk image is malformed');
    assert.equal(client.folders()[0].path, '/irs');
    assert.equal(client.failure, '');
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
    const drive = async (promise) => {
        let done = false;
        promise.then(() => { done = true; }, () => { done = true; });
        for (let t = 0; t < 120000 && !done; t += 10) {
            clock.advance(10);
            await new Promise((r) => setImmediate(r));
        }
        return promise;
    };
    return { setting, loader, waiter, slotName, slotWords, wordsOf, drive, seen };
}

test('rows dropped on a slot load one after another into it and the slots after it', async () => {
    const r = loadRig();
    const asked = [];
    const paths = ['/irs/Mesa/first.wav', '/irs/Mesa/second one.wav', '/irs/third.wav'];
    const result = await r.drive(loadIntoSlots({
        slot: 9, paths, slotCount: r.setting.numOfIrData,
        confirm: async (c) => { asked.push(c); return true; },
        load: (s, p) => r.waiter.wait(() => r.loader.load(s, p)),
    }));
    // Two fit behind slot 10 of 11.
    assert.deepEqual(asked, [{ slots: [9, 10], paths: paths.slice(0, 2), left: [paths[2]] }]);
    assert.equal(result.stopped, null);
    assert.deepEqual(result.loaded.map((l) => [l.slot, l.name]), [[9, 'first'], [10, 'second one']]);
    assert.equal(r.slotName(9), 'first');
    assert.equal(r.slotName(10), 'second one');
    assert.deepEqual(r.slotWords(9), r.wordsOf(paths[0]).slice(0, 2));
    assert.deepEqual(r.slotWords(10), r.wordsOf(paths[1]).slice(0, 2));
    assert.equal(r.seen.filter((t) => t === 'finished').length, 2);
});

test('a refused confirmation loads nothing, a failing file stops the rest', async () => {
    const r = loadRig();
    const none = await r.drive(loadIntoSlots({
        slot: 0, paths: ['/irs/a.wav', '/irs/b.wav'], slotCount: 11, confirm: async () => false,
        load: () => assert.fail('nothing may load'),
    }));
    assert.deepEqual(none, { loaded: [], stopped: null });

    const result = await r.drive(loadIntoSlots({
        slot: 2, paths: ['/irs/good.wav', '/irs/bad.wav', '/irs/never.wav'], slotCount: 11, confirm: async () => true,
        load: (s, p) => r.waiter.wait(() => r.loader.load(s, p)),
    }));
    assert.deepEqual(result.loaded.map((l) => l.slot), [2]);
    assert.equal(result.stopped.type, 'error');
    assert.equal(result.stopped.reason, 'unsupported');
    assert.equal(r.slotName(2), 'good');
    assert.equal(r.slotName(4), '');
    // A load that cannot start (another one runs) ends at once.
    r.loader.job = { phase: 'wavstat' };
    assert.deepEqual(await r.waiter.wait(() => r.loader.load(5, '/irs/x.wav')), { type: 'error', reason: 'busy' });
});
