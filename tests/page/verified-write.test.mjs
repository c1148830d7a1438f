import { test } from 'node:test';
import assert from 'node:assert/strict';
import { VerifiedWrite, differingMessages, readTasksFor } from '../../resources/bundle/html/js/transfer/verified-write.js';
import { describeMessages } from '../../resources/bundle/html/js/transfer/transfer-report.js';
import { COEFFICIENT_WORDS, buildWriteList } from '../../resources/bundle/html/js/ir/ir-messages.js';
import { linkedUnit, map } from './helpers/linked-unit.mjs';

const words = Array.from({ length: COEFFICIENT_WORDS }, (_, i) => (i * 2246822519) >>> 0);

// A slot write list against the scripted unit; lose(message) decides which
// DT1s the unit does not take in.
function rig({ lose = () => false } = {}) {
    const r = linkedUnit();
    const messages = buildWriteList(r.setting, 0, { name: 'Test Cab', file: 'test cab.wav', words });
    // A unit always holds something there: earlier data, here 7F bytes.
    for (const m of messages) for (let k = 0; k < m.data.length / 2; k++) r.unit.memory.set(m.address + k, '7F');
    const dt1s = [];
    r.native.midi.peer = (hex) => {
        if (hex.substr(12, 2) === '12') {
            dt1s.push(hex);
            if (lose(hex, dt1s.length)) return;
        }
        r.unit.receive(hex);
    };
    const progress = [];
    const sent = [];
    const writer = new VerifiedWrite({
        readWrite: r.readWrite, gap: 8,
        onProgress: (p) => progress.push(p), onSent: (i) => sent.push(i),
    });
    let result = null;
    const run = (options) => {
        result = null;
        writer.run(messages, options, (res) => { result = res; });
        assert.ok(r.clock.until(() => result !== null, 600000), 'the write ended');
        return result;
    };
    return { ...r, messages, dt1s, progress, sent, writer, run, result: () => result };
}

const addressOf = (hex) => hex.substr(14, 8);

test('read-back tasks: touching ranges merged, then pieces of at most 128 bytes', () => {
    const tasks = readTasksFor([
        { address: 1000, data: '00'.repeat(240) },
        { address: 1240, data: '00'.repeat(16) },
        { address: 5000, data: '00'.repeat(4) },
        { address: 1100, data: '00'.repeat(10) },
    ]);
    assert.deepEqual(tasks, [
        { address: 1000, size: 128 }, { address: 1128, size: 128 }, { address: 5000, size: 4 },
    ]);
    const image = new Map([[1000, '01'], [1001, '02'], [5000, '7F']]);
    const list = [{ address: 1000, data: '0102' }, { address: 1000, data: '0103' }, { address: 5000, data: '7F00' }];
    assert.deepEqual(differingMessages(list, image), [1, 2], 'a wrong byte and a missing one');
});

test('a verified write reads the whole list back and sends nothing twice when all is there', () => {
    const r = rig();
    const result = r.run();
    assert.equal(result.ok, true);
    assert.deepEqual(result.resent, []);
    assert.equal(r.dt1s.length, r.messages.length);
    assert.deepEqual(r.sent, r.messages.map((_, i) => i));
    const phases = [...new Set(r.progress.map((p) => p.phase))];
    assert.deepEqual(phases, ['write', 'verify']);
    const rq1 = r.unit.received.filter((m) => m.substr(12, 2) === '11');
    assert.equal(rq1.length, 1 + 1 + 2 + 210, 'name, size, file name, coefficients in pieces of 128');
});

test('a DT1 the unit lost is found, sent once more and checked again', () => {
    const r = rig({ lose: (_, n) => n === 50 });
    const result = r.run();
    assert.equal(result.ok, true);
    assert.deepEqual(result.resent, [49]);
    assert.equal(r.dt1s.length, r.messages.length + 1);
    assert.equal(addressOf(r.dt1s.at(-1)), addressOf(r.dt1s[49]), 'the lost one, again');
    const phases = [...new Set(r.progress.map((p) => p.phase))];
    assert.deepEqual(phases, ['write', 'verify', 'resend', 'recheck']);
    const recheck = r.unit.received.filter((m) => m.substr(12, 2) === '11').slice(214);
    assert.equal(recheck.length, 2, 'only that message\'s bytes are read again');
});

test('data the unit keeps getting wrong ends in "differ", named by what it is', () => {
    let lost = new Set();
    const r = rig({ lose: (hex) => lost.has(parseAddress(hex)) });
    // Every copy of the name and of message 5 (coefficients 31-60) is lost.
    lost = new Set([0, 5].map((i) => r.messages[i].address));
    const result = r.run();
    assert.equal(result.ok, false);
    assert.equal(result.reason, 'differ');
    assert.deepEqual(result.differing, [0, 5]);
    assert.equal(describeMessages(map, r.messages, result.differing), 'slot 1 name, coefficients 31–60');
    assert.equal(r.dt1s.filter((h) => parseAddress(h) === r.messages[5].address).length, 2, 'sent twice, no more');
});

test('a unit that stops answering ends the verify in a time-out; taken up again, only what is missing goes out', () => {
    let silent = false;
    const r = rig({ lose: (_, n) => n > 60 && n <= 80 });
    const answer = r.unit.reply.bind(r.unit);
    r.unit.reply = (hex) => { if (!silent) answer(hex); };
    let stopAt = 0;
    r.writer.onProgress = (p) => {
        if (p.phase === 'verify' && !stopAt) {
            silent = true;
            stopAt = r.clock.now();
        }
    };
    const first = r.run();
    assert.equal(first.ok, false);
    assert.equal(first.reason, 'timeout');
    assert.equal(first.phase, 'verify');
    assert.equal(first.sent, r.messages.length, 'the write list itself was out');
    assert.ok(r.clock.now() - stopAt >= 15000);

    silent = false;
    const before = r.dt1s.length;
    const again = r.run({ write: false });
    assert.equal(again.ok, true);
    assert.deepEqual(again.resent, Array.from({ length: 20 }, (_, k) => 60 + k), 'the twenty the unit lost');
    assert.equal(r.dt1s.length - before, 20);
});

test('cancel during the write stops it and says how far it got', () => {
    const r = rig();
    r.writer.run(r.messages, {}, (res) => { r.cancelled = res; });
    assert.ok(r.clock.until(() => r.sent.length >= 30));
    r.writer.cancel();
    assert.equal(r.cancelled.ok, false);
    assert.equal(r.cancelled.reason, 'cancelled');
    assert.equal(r.cancelled.phase, 'write');
    assert.equal(r.cancelled.sent, r.sent.length);
    const out = r.dt1s.length;
    r.clock.advance(5000);
    assert.equal(r.dt1s.length, out, 'nothing more goes out');
    assert.equal(out, r.cancelled.sent, 'what it says went out, went out');
    assert.equal(r.writer.running, false);
});

function parseAddress(hex) {
    const x = parseInt(hex.substr(14, 8), 16);
    return ((x & 0x7f000000) >>> 3) | ((x & 0x007f0000) >>> 2) | ((x & 0x00007f00) >>> 1) | (x & 0x7f);
}
