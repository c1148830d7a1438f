import { test } from 'node:test';
import assert from 'node:assert/strict';
import { nibble } from '../../resources/bundle/html/js/link/sysex.js';
import { ControlRouter } from '../../resources/bundle/html/js/ir/control-router.js';
import { IrDataLoader } from '../../resources/bundle/html/js/ir/ir-loader.js';
import { COEFFICIENT_WORDS, slotStart } from '../../resources/bundle/html/js/ir/ir-messages.js';
import { SlotMarks } from '../../resources/bundle/html/js/ir/slot-marks.js';
import { linkedUnit, map } from './helpers/linked-unit.mjs';

const words = Array.from({ length: COEFFICIENT_WORDS }, (_, i) => (i * 2654435761) >>> 0);
const leHex = (ws) => ws.map((w) => w.toString(16).padStart(8, '0').match(/../g).reverse().join('')).join('').toUpperCase();

// A host whose "wavstat" and "convert" answer like the IR commands do.
function rig({ channels = 1, format = 1, convertResult = 'finished', coefficientHex = leHex(words), connected = true } = {}) {
    const { clock, native, setting, controller, unit, parameter, readWrite } = linkedUnit();
    const requests = [];
    const answer = (word, obj) => clock.setTimeout(() => native.app.events.command(word, JSON.stringify(obj)), 1);
    let progressPolls = 0;
    native.app.events = {};
    native.app.control = (text) => {
        const i = text.indexOf(':');
        const word = text.substring(0, i);
        const args = JSON.parse(text.substring(i + 1));
        requests.push({ word, args });
        if (word === 'wavstat') answer(word, channels ? { result: 1, channels, format, sampleRate: 48000 } : { result: 0 });
        else if (args.path) {
            if (convertResult === 'finished') {
                answer(word, { result: 1 });
                clock.setTimeout(() => native.app.events.command(word, JSON.stringify({ load: 'finished', path: '/tmp/coef.bin', result: 1 })), 450);
            } else answer(word, { load: convertResult, result: 0 });
        } else if (args.req === 'progress') answer(word, { progress: ++progressPolls * 10, result: 1 });
        else if (args.req === 'cancel') answer(word, { result: 1 });
    };
    native.fs = { readData: (path) => { assert.equal(path, '/tmp/coef.bin'); return coefficientHex; } };
    // The page's preferences, where the incomplete marks are kept.
    const prefs = new Map();
    native.app.storage2 = (key, text) => (text === undefined ? prefs.get(key) : prefs.set(key, text));
    const marks = new SlotMarks(native);
    marks.useUnit('KX-5 Sim');
    const events = [];
    const router = new ControlRouter(native);
    const loader = new IrDataLoader({
        native, router, controller, readWrite, parameter, setting, clock, marks,
        isConnected: () => connected, onEvent: (e) => events.push(e),
    });
    const last = () => events[events.length - 1];
    const settle = (limit = 60000) => clock.until(() => !loader.busy || last()?.type === 'channel', limit);
    return { clock, native, setting, unit, parameter, loader, events, requests, settle, last, marks, prefs };
}

function unitBytes(unit, address, count) {
    const out = [];
    for (let i = 0; i < count; i++) out.push(parseInt(unit.memory.get(address + i) ?? 'FF', 16));
    return out;
}

function digitsToValues(digits, per) {
    const out = [];
    for (let i = 0; i < digits.length; i += per) out.push(digits.slice(i, i + per).reduce((v, d) => v * 16 + d, 0));
    return out;
}

test('a mono file goes into slot 3: unit memory holds name, file name and every word', () => {
    const r = rig();
    r.loader.load(2, '/home/g/IRs/Grüße 4x12.wav');
    assert.ok(r.settle());
    const types = r.events.map((e) => e.type);
    assert.equal(types.at(-1), 'finished', JSON.stringify(r.events.filter((e) => e.type !== 'progress')));
    assert.ok(!types.includes('error'));
    assert.deepEqual(r.requests[1].args, { path: '/home/g/IRs/Grüße 4x12.wav', ch: 0 });
    const polls = r.requests.filter((q) => q.args.req === 'progress').length;
    assert.ok(polls >= 3 && polls <= 5, `progress polled every 100 ms while converting (${polls})`);
    assert.ok(r.events.some((e) => e.phase === 'convert' && e.percent > 0));
    assert.ok(r.events.some((e) => e.phase === 'write' && e.percent === 100));

    const s = r.setting;
    const name = String.fromCharCode(...unitBytes(r.unit, slotStart(s, s.irDataNameAddr, 2), 32));
    assert.equal(name.trimEnd(), 'Gru?e 4x12');
    const size = digitsToValues(unitBytes(r.unit, slotStart(s, s.irDataSizeAddr, 2), 4), 4)[0];
    assert.equal(size, new TextEncoder().encode('Grüße 4x12.wav').length);
    const fileBytes = digitsToValues(unitBytes(r.unit, slotStart(s, s.irDataFileAddr, 2), 256), 2);
    assert.equal(new TextDecoder().decode(Uint8Array.from(fileBytes.slice(0, size))), 'Grüße 4x12.wav');
    const coef = digitsToValues(unitBytes(r.unit, slotStart(s, s.irDataCoefAddr, 2), COEFFICIENT_WORDS * 8), 8);
    assert.deepEqual(coef, words);
    // Slots around it are untouched.
    assert.equal(r.unit.memory.get(slotStart(s, s.irDataCoefAddr, 3)), undefined);

    // Read back into the model, then the set-IR command with the slot index.
    assert.equal(r.parameter.get('IRDATA(3)%NAME%0').trimEnd(), 'Gru?e 4x12');
    assert.equal(r.last().name, 'Gru?e 4x12', 'reported as the unit holds it');
    assert.equal(r.parameter.get('IRDATA(3)%SIZE%0'), size);
    // The set-IR command after the slot verified, then the unit's verdict
    // on the slot is asked for.
    const dt1s = r.unit.received.filter((m) => m.substr(12, 2) === '12');
    assert.ok(dt1s.at(-1).includes('7F000300' + '02'), dt1s.at(-1));
    assert.equal(dt1s.length, 1 + 1 + 2 + 112 + 1, 'nothing sent twice');
    const rq1s = r.unit.received.filter((m) => m.substr(12, 2) === '11');
    assert.equal(rq1s.length, 1 + 1 + 2 + 210 + 1, 'the whole slot read back once');
    assert.ok(rq1s.at(-1).includes('30000002' + '00000001'), 'the slot state asked for last');
});

test('a stereo file asks for the channel; the right one is converted as [R]', () => {
    const r = rig({ channels: 2 });
    r.loader.load(3, '/irs/Stereo Room.wav');
    assert.ok(r.settle());
    assert.equal(r.last().type, 'channel');
    assert.equal(r.requests.length, 1, 'nothing converted before the choice');
    r.loader.chooseChannel(1);
    assert.ok(r.settle());
    assert.equal(r.last().type, 'finished');
    assert.equal(r.last().name, '[R]Stereo Room');
    assert.deepEqual(r.requests[1].args, { path: '/irs/Stereo Room.wav', ch: 1 });
    assert.equal(r.parameter.get('IRDATA(4)%NAME%0').trimEnd(), '[R]Stereo Room');
});

test('failures end in their own outcome and write nothing', () => {
    const cases = [
        [{ channels: 0 }, 'unsupported'],
        [{ channels: 3 }, 'unsupported'],
        [{ convertResult: 'unsupported' }, 'unsupported'],
        [{ convertResult: 'notfound' }, 'fileError'],
        [{ coefficientHex: '' }, 'readError'],
        [{ coefficientHex: leHex(words.slice(1)) }, 'readError'],
        [{ connected: false }, 'sendError'],
    ];
    for (const [options, reason] of cases) {
        const r = rig(options);
        r.loader.load(0, '/irs/a.wav');
        assert.ok(r.settle(), reason);
        assert.deepEqual(r.last(), { type: 'error', reason }, JSON.stringify(options));
        assert.equal(r.unit.memory.size, 0, 'no data reached the unit');
        const polls = r.requests.filter((q) => q.args.req === 'progress').length;
        r.clock.advance(1000);
        assert.equal(r.requests.filter((q) => q.args.req === 'progress').length, polls, 'polling stopped');
        assert.ok(r.loader.load(1, '/irs/b.wav'), 'the loader is free again');
    }
});

test('a file the conversion does not take goes through its decoded copy; the slot keeps the file\'s name', () => {
    const r = rig({ channels: 2 });
    const prepared = [];
    r.native.irfile = {
        events: {},
        prepare: (path, mode) => {
            prepared.push([path, mode]);
            if (path.endsWith('.ogg')) return JSON.stringify({ result: 0, reason: 'Vorbis is a lossy format' });
            return JSON.stringify({ result: 1, path: `/tmp/copy-${mode ?? 'as-stored'}.wav`, decoded: true, mixed: mode === 'mix' });
        },
    };
    r.loader.load(1, '/irs/Wide Room.flac');
    assert.ok(r.settle());
    assert.equal(r.last().type, 'channel');
    assert.deepEqual(r.requests[0], { word: 'wavstat', args: { path: '/tmp/copy-as-stored.wav' } });
    r.loader.chooseChannel('mix');
    assert.ok(r.settle());
    assert.equal(r.last().type, 'finished');
    assert.equal(r.last().name, '[M]Wide Room');
    assert.deepEqual(prepared, [['/irs/Wide Room.flac', undefined], ['/irs/Wide Room.flac', 'mix']]);
    assert.deepEqual(r.requests[1].args, { path: '/tmp/copy-mix.wav', ch: 0 }, 'the mixed copy, its one channel');
    assert.equal(r.parameter.get('IRDATA(2)%NAME%0').trimEnd(), '[M]Wide Room');

    // A channel given beforehand is not asked for.
    r.loader.load(2, '/irs/Wide Room.flac', { channel: 1 });
    assert.ok(r.settle());
    assert.equal(r.last().type, 'finished');
    assert.equal(r.last().name, '[R]Wide Room');
    assert.ok(!r.events.slice(r.events.findIndex((e) => e.type === 'finished') + 1).some((e) => e.type === 'channel'));

    // Refused by the host: said before anything is converted.
    const before = r.requests.length;
    r.loader.load(3, '/irs/lossy.ogg');
    assert.deepEqual(r.last(), { type: 'error', reason: 'unsupported', detail: 'Vorbis is a lossy format' });
    assert.equal(r.requests.length, before);
    assert.ok(!r.loader.busy);
});

test('cancel while converting asks the host to stop and forgets the slot', () => {
    const r = rig();
    r.loader.load(0, '/irs/a.wav');
    r.clock.advance(150);
    r.loader.cancel();
    assert.equal(r.last().type, 'cancelled');
    assert.deepEqual(r.requests.at(-1).args, { req: 'cancel' });
    r.clock.advance(2000);
    assert.equal(r.unit.memory.size, 0, 'a late "finished" is ignored');
    assert.equal(r.events.filter((e) => e.type === 'finished').length, 0);
});

test('cancel while writing stops the write list', () => {
    const r = rig();
    r.loader.load(0, '/irs/a.wav');
    assert.ok(r.clock.until(() => r.events.some((e) => e.phase === 'write' && e.percent >= 10)));
    r.loader.cancel();
    const written = r.unit.received.length;
    r.clock.advance(5000);
    assert.equal(r.unit.received.length, written);
    assert.ok(!r.loader.busy);
});

test('rename writes only the name; initialise waits for the echo', async () => {
    const r = rig();
    assert.ok(r.loader.rename(4, 'Bright Cäb'));
    r.clock.advance(100);
    assert.equal(r.unit.received.length, 2, 'the name, then the name read back');
    assert.equal(r.unit.received[1].substr(12, 2), '11');
    assert.deepEqual(r.last(), { type: 'renamed', slot: 4, name: 'Bright Cab' });
    assert.equal(r.parameter.get('IRDATA(5)%NAME%0').trimEnd(), 'Bright Cab');
    const s = r.setting;
    assert.equal(String.fromCharCode(...unitBytes(r.unit, slotStart(s, s.irDataNameAddr, 4), 10)), 'Bright Cab');

    // The scripted unit stays silent on commands: the link time-out ends it.
    let result = null;
    r.loader.initialize(4).then((v) => { result = v; });
    r.clock.advance(16000);
    await Promise.resolve();
    assert.equal(result, false);
    assert.ok(r.unit.received.at(-1).includes('7F000200' + '0004'));

    // An echo of the command address completes it.
    r.native.midi.peer = (hex) => {
        r.unit.receive(hex);
        if (hex.includes('7F000200')) r.unit.reply(r.unit.dt1(nibble(0x7f000200), '0005'));
    };
    result = null;
    r.loader.initialize(5).then((v) => { result = v; });
    r.clock.advance(200);
    await Promise.resolve();
    assert.equal(result, true);
});

test('the router hands shell words their text and ignores broken answers', () => {
    const r = rig();
    const seen = [];
    const router = new ControlRouter(r.native);
    router.listen('wakeup', (answer, raw) => seen.push(raw));
    r.native.app.events.command('wakeup', 'PBT_APMRESUMESUSPEND');
    assert.deepEqual(seen, ['PBT_APMRESUMESUSPEND']);
    r.loader.load(0, '/irs/a.wav');
    r.native.app.events.command('wavstat', '{broken');
    assert.ok(r.loader.busy, 'a broken answer is not taken as a refusal');
    assert.ok(r.settle());
    assert.equal(r.last().type, 'finished');
});

test('a cancelled write leaves the slot marked incomplete, says what went out, and can be finished', () => {
    const r = rig();
    r.loader.load(2, '/irs/Half Way.wav');
    assert.ok(r.clock.until(() => r.events.some((e) => e.phase === 'write' && e.percent >= 25)));
    assert.ok(r.marks.get(2), 'marked before the first message went out');
    r.loader.cancel();
    const cancelled = r.last();
    assert.equal(cancelled.type, 'cancelled');
    const sent = r.unit.received.filter((m) => m.substr(12, 2) === '12').length;
    assert.equal(cancelled.report.sent, sent);
    assert.match(cancelled.report.text, new RegExp(`^Sent: ${sent} of 116 messages. Not sent: slot 3 coefficients \\d+–3354.$`));
    assert.equal(r.parameter.get('IRDATA(3)%NAME%0').trimEnd(), 'Half Way', 'the screen shows the name the unit now holds');
    assert.ok(r.marks.get(2).detail.startsWith('Sent: '));
    assert.ok(JSON.parse(r.prefs.get('incompleteSlots'))['KX-5 Sim']['2'], 'kept for the next start');
    assert.ok(!r.unit.received.some((m) => m.includes('127F000300')), 'the unit is not told to take it');

    assert.ok(r.loader.resume());
    assert.ok(r.settle());
    assert.equal(r.last().type, 'finished');
    assert.equal(r.last().resent, 116 - sent, 'only what had not gone out');
    assert.equal(r.marks.get(2), null);
    assert.equal(r.prefs.get('incompleteSlots'), '{}');
});

test('a unit lost in the middle of a write stops it at once; a slot cleared afterwards is not incomplete', async () => {
    const r = rig();
    r.loader.load(5, '/irs/Gone.wav');
    assert.ok(r.clock.until(() => r.events.some((e) => e.phase === 'write' && e.percent >= 40)));
    r.loader.abort('gone');
    const stopped = r.last();
    assert.equal(stopped.type, 'stopped');
    assert.equal(stopped.report.reason, 'gone');
    assert.equal(stopped.report.phase, 'write');
    const sent = r.unit.received.length;
    r.clock.advance(5000);
    assert.equal(r.unit.received.length, sent, 'nothing more goes out');
    assert.ok(r.loader.interrupted);
    assert.ok(r.marks.get(5));

    // Cleared instead of finished: no mark, nothing to take up.
    r.native.midi.peer = (hex) => {
        r.unit.receive(hex);
        if (hex.includes('7F000200')) r.unit.reply(r.unit.dt1(nibble(0x7f000200), '0005'));
    };
    let ok = null;
    r.loader.initialize(5).then((v) => { ok = v; });
    r.clock.advance(100);
    await Promise.resolve();
    assert.equal(ok, true);
    assert.equal(r.marks.get(5), null);
    assert.equal(r.loader.interrupted, null);
});
