// The library panel's logic without a DOM: queries, row words, curves, the
// drag data and the client over a recording host. (Several rows dropped on
// a slot go through the editor's batch: tests/page/batch.test.mjs.)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createNative } from '../../../resources/bundle/html/js/bridge/native.js';
import { LibraryClient } from '../../../resources/bundle/html/js/library/library-client.js';
import {
    DRAG_TYPE, endLibraryDrag, isLibraryDrag, libraryDragPaths, startLibraryDrag,
} from '../../../resources/bundle/html/js/library/library-drop.js';
import {
    PAGE_ROWS, buildQuery, describeProgress, describeRow, describeSummary,
} from '../../../resources/bundle/html/js/library/library-query.js';
import { thumbnailDb, thumbnailPoints } from '../../../resources/bundle/html/js/library/thumbnail.js';

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
