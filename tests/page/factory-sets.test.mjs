import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { ControlRouter } from '../../resources/bundle/html/js/ir/control-router.js';
import { IrDataLoader } from '../../resources/bundle/html/js/ir/ir-loader.js';
import { COEFFICIENT_WORDS, fileNameBytes, nameMessage, slotStart } from '../../resources/bundle/html/js/ir/ir-messages.js';
import { factoryFolder, readFactoryIndex, readFactoryWords } from '../../resources/bundle/html/js/ir/factory-sets.js';
import { linkedUnit, map } from './helpers/linked-unit.mjs';

const FOLDER = factoryFolder();
const COEFFICIENT_BYTES = COEFFICIENT_WORDS * 4;
const rawIndex = JSON.parse(readFileSync(join(FOLDER, 'index.json'), 'utf8'));

// The host's readData: the file as upper-case hex; a failure throws like an
// "e" result does.
const readData = (path) => readFileSync(path).toString('hex').toUpperCase();

// A unit and a loader whose host converts any WAV file into `converted`.
function rig({ converted = null, folder = FOLDER, connected = true } = {}) {
    const { clock, native, setting, controller, unit, parameter, readWrite } = linkedUnit();
    const answer = (word, obj) => clock.setTimeout(() => native.app.events.command(word, JSON.stringify(obj)), 1);
    native.app.events = {};
    native.app.control = (text) => {
        const i = text.indexOf(':');
        const word = text.substring(0, i);
        const args = JSON.parse(text.substring(i + 1));
        if (word === 'wavstat') answer(word, { result: 1, channels: 1, format: 1, sampleRate: 48000 });
        else if (args.path) answer(word, { load: 'finished', path: '/converted', result: 1 });
        else answer(word, { progress: 50, result: 1 });
    };
    native.fs = { readData: (path) => (path === '/converted' ? readData(converted) : readData(path)) };
    const events = [];
    const loader = new IrDataLoader({
        native, router: new ControlRouter(native), controller, readWrite, parameter, setting, clock, factoryFolder: folder,
        isConnected: () => connected, onEvent: (e) => events.push(e),
    });
    // The closing set-IR command leaves on the link's next tick.
    const settle = () => clock.until(() => !loader.busy, 60000) && (clock.advance(100), true);
    return { clock, native, setting, unit, parameter, loader, events, settle };
}

const dt1s = (unit) => unit.received.filter((m) => m.substr(12, 2) === '12');

test('the index lists eleven synthetic sets whose coefficient files are complete', () => {
    assert.equal(rawIndex.sets.length, 11);
    const listed = rawIndex.sets.map((s) => s.coefficients);
    assert.deepEqual(readdirSync(FOLDER).sort(), ['index.json', ...listed].sort(), 'the folder holds exactly the listed files');
    for (const key of ['name', 'file', 'coefficients']) {
        assert.equal(new Set(rawIndex.sets.map((s) => s[key])).size, 11, `every ${key} is distinct`);
    }
    for (const set of rawIndex.sets) {
        assert.match(set.name, /^SYN [\x20-\x7e]+$/, 'named as synthetic, printable ASCII only');
        assert.ok(set.name.length <= 32, set.name);
        assert.match(set.file, /^synthetic-[a-z0-9-]+\.wav$/);
        assert.ok(fileNameBytes(set.file).length === new TextEncoder().encode(set.file).length, 'file name sent whole');
        assert.match(set.description, /^Synthetic /);

        const bytes = readFileSync(join(FOLDER, set.coefficients));
        assert.equal(bytes.length, COEFFICIENT_BYTES, set.coefficients);
        assert.equal(createHash('sha256').update(bytes).digest('hex'), set.sha256, `${set.coefficients} matches its index entry`);
        const values = new Float32Array(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length));
        assert.ok(values.every(Number.isFinite), `${set.coefficients}: every value finite`);
        assert.equal(values.at(-1), 1);
        const taps = values.subarray(0, 1640);
        assert.ok(taps.filter((v) => v !== 0).length > 1500, `${set.coefficients} carries its taps`);
        assert.ok(taps.every((v) => Math.abs(v) <= 1));
    }
    // Distinct responses, not one set copied eleven times.
    assert.equal(new Set(rawIndex.sets.map((s) => s.sha256)).size, 11);
});

test('the page reads the index and the words through the host file service', () => {
    const native = { fs: { readData } };
    const sets = readFactoryIndex(native, FOLDER);
    assert.deepEqual(sets, rawIndex.sets.map(({ name, file, coefficients, description }) => ({ name, file, coefficients, description })));
    for (const set of sets) {
        const words = readFactoryWords(native, set, FOLDER);
        assert.equal(words.length, COEFFICIENT_WORDS);
        const bytes = readFileSync(join(FOLDER, set.coefficients));
        assert.deepEqual(words, Array.from({ length: COEFFICIENT_WORDS }, (_, i) => bytes.readUInt32LE(i * 4)));
    }
    assert.ok(FOLDER.endsWith('/resources/bundle/html/data/factory/'), FOLDER);
});

test('the folder follows the page address', () => {
    assert.equal(factoryFolder('file:///home/a%20b/.local/share/velmar/kx5-editor/html/js/ir/factory-sets.js'),
        '/home/a b/.local/share/velmar/kx5-editor/html/data/factory/');
    assert.equal(factoryFolder('file:///C:/Users/a/AppData/html/js/ir/factory-sets.js'), 'C:/Users/a/AppData/html/data/factory/');
    assert.equal(factoryFolder('http://127.0.0.1:8000/js/ir/factory-sets.js'), null);
    assert.deepEqual(readFactoryIndex({ fs: { readData } }, null), []);
});

test('a broken index or set file is refused, never half used', () => {
    const dir = `${mkdtempSync(join(tmpdir(), 'kx5-factory-'))}/`;
    try {
        const native = { fs: { readData } };
        assert.deepEqual(readFactoryIndex(native, dir), [], 'no index');
        writeFileSync(`${dir}index.json`, '{"sets": [');
        assert.deepEqual(readFactoryIndex(native, dir), [], 'not JSON');
        writeFileSync(`${dir}index.json`, JSON.stringify({ sets: [
            { name: 'SYN ok', file: 'synthetic-ok.wav', coefficients: 'ok.coef' },
            { name: 'SYN escape', file: 'x.wav', coefficients: '../../../etc/passwd' },
            { name: 'SYN hidden', file: 'x.wav', coefficients: '.coef' },
            { name: '', file: 'x.wav', coefficients: 'a.coef' },
            { name: 'SYN no file', coefficients: 'b.coef' },
            null,
        ] }));
        assert.deepEqual(readFactoryIndex(native, dir).map((s) => s.name), ['SYN ok']);
        assert.equal(readFactoryWords(native, { name: 'x', file: 'x.wav', coefficients: '../factory/01.coef' }, dir), null);

        const good = readFileSync(join(FOLDER, rawIndex.sets[0].coefficients));
        for (const [content, why] of [[good.subarray(0, COEFFICIENT_BYTES - 4), 'short'], [Buffer.concat([good, good.subarray(0, 4)]), 'long'], [Buffer.alloc(0), 'empty']]) {
            writeFileSync(`${dir}ok.coef`, content);
            const r = rig({ folder: dir });
            const [set] = r.loader.factorySets();
            assert.ok(r.loader.loadFactory(0, set));
            assert.ok(r.settle());
            assert.deepEqual(r.events, [{ type: 'error', reason: 'readError' }], why);
            assert.equal(r.unit.received.length, 0, `${why}: nothing sent`);
            assert.ok(!r.loader.busy);
        }
        writeFileSync(`${dir}ok.coef`, good);
        const r = rig({ folder: dir, connected: false });
        r.loader.loadFactory(0, r.loader.factorySets()[0]);
        assert.deepEqual(r.events.at(-1), { type: 'error', reason: 'sendError' });
        assert.equal(r.unit.received.length, 0);
    } finally {
        rmSync(dir, { recursive: true, force: true });
    }
});

test('a factory set is written like a file load of the same words, under its own names', () => {
    const set = rawIndex.sets[4];
    const coefficientPath = join(FOLDER, set.coefficients);

    const fromFile = rig({ converted: coefficientPath });
    fromFile.loader.load(6, `/irs/${set.file}`);
    assert.ok(fromFile.settle());
    assert.equal(fromFile.events.at(-1).type, 'finished');

    const factory = rig();
    const sets = factory.loader.factorySets();
    assert.ok(factory.loader.loadFactory(6, sets[4]));
    assert.equal(factory.loader.loadFactory(7, sets[5]), false, 'one load at a time');
    assert.ok(factory.settle());
    const outcome = factory.events.filter((e) => e.type !== 'progress');
    assert.deepEqual(outcome, [{ type: 'finished', slot: 6, name: set.name, state: null, resent: 0 }]);
    const progress = factory.events.filter((e) => e.type === 'progress');
    assert.deepEqual(progress[0], { type: 'progress', phase: 'write', percent: 0 });
    assert.deepEqual([...new Set(progress.map((e) => e.phase))], ['write', 'verify'], 'written, then verified');
    assert.equal(progress.at(-1).percent, 100);

    // Same messages in the same order; only the slot name differs (the file
    // load names the slot after the file).
    const a = dt1s(fromFile.unit);
    const b = dt1s(factory.unit);
    assert.equal(b.length, 1 + 1 + 2 + 112 + 1);
    assert.equal(a.length, b.length);
    const s = factory.setting;
    const name = nameMessage(s, 6, set.name);
    assert.ok(b[0].includes(name.data), 'first the name of the set');
    assert.deepEqual(a.slice(1), b.slice(1));
    assert.ok(b.at(-1).includes('7F000300' + '06'), 'then the set-IR command for the slot');

    // The unit holds the set's words and the model read the slot back.
    const digits = [];
    for (let i = 0; i < COEFFICIENT_WORDS * 8; i++) digits.push(factory.unit.memory.get(slotStart(s, s.irDataCoefAddr, 6) + i));
    const words = readFactoryWords({ fs: { readData } }, set, FOLDER);
    assert.deepEqual(digits.join('').match(/0(.)/g).map((d) => d[1]).join('').match(/.{8}/g).map((h) => parseInt(h, 16)), words);
    assert.equal(factory.parameter.get('IRDATA(7)%NAME%0').trimEnd(), set.name);
    assert.equal(factory.parameter.get('IRDATA(7)%SIZE%0'), set.file.length);
});

test('cancel while a factory set is written stops the list and frees the loader', () => {
    const r = rig();
    r.loader.loadFactory(0, r.loader.factorySets()[0]);
    assert.ok(r.clock.until(() => r.events.some((e) => e.phase === 'write' && e.percent >= 10), 60000));
    r.loader.cancel();
    assert.equal(r.events.at(-1).type, 'cancelled');
    const sent = r.unit.received.length;
    r.clock.advance(5000);
    assert.equal(r.unit.received.length, sent);
    assert.ok(r.loader.loadFactory(1, r.loader.factorySets()[1]), 'free again');
});
