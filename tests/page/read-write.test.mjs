import { test } from 'node:test';
import assert from 'node:assert/strict';
import { variableLength } from '../../resources/bundle/html/js/params/read-write-logic.js';
import { nibble } from '../../resources/bundle/html/js/link/sysex.js';
import { linkedUnit, map } from './helpers/linked-unit.mjs';

function rig() {
    const { clock, native, controller, unit, parameter, readWrite: logic } = linkedUnit();
    const states = [];
    logic.addObserver({ notify: (s) => states.push(s) });
    const runUntilDone = (limit = 120000) => clock.until(() => states.includes('end') || states.includes('timeout'), limit);
    return { clock, native, controller, unit, parameter, logic, states, runUntilDone };
}

function fill(unit, address, hexBytes) {
    hexBytes.forEach((b, i) => unit.memory.set(address + i, b));
}

test('variable-block length: four 4-bit digits, least significant first', () => {
    assert.equal(variableLength('0F000000'), 15);
    assert.equal(variableLength('00010000'), 16);
    assert.equal(variableLength('04000100'), 4 + (1 << 8));
    assert.equal(variableLength('0F0F0F0F'), 0xffff);
});

test('batch read of blocks fills the store piece by piece and reports progress', () => {
    const r = rig();
    const block = r.parameter.getblock('IRDATA(2)%FILE');
    const bytes = Array.from({ length: 256 }, (_, i) => ((i * 7) & 0x0f).toString(16).toUpperCase().padStart(2, '0'));
    fill(r.unit, block.address, bytes);
    const ns = r.parameter.getblock('PATCH(1)%NS');
    fill(r.unit, ns.address, ['00', '11', '22', '01']);
    let start = block.address;
    const tasks = block.sizes.map((size) => { const t = { address: start, size }; start += size; return t; });
    tasks.push({ address: ns.address, size: 4 });
    r.logic.readStart(tasks);
    assert.ok(r.runUntilDone());
    assert.deepEqual(r.states, [33, 66, 100, 'end']);
    assert.deepEqual(r.parameter.paramSet['IRDATA(2)%FILE'], bytes);
    assert.deepEqual(r.parameter.paramSet['PATCH(1)%NS'], ['00', '11', '22', '01']);
    const rq1 = r.unit.received.filter((m) => m.substr(12, 2) === '11');
    assert.equal(rq1.length, 3, 'one request per task');
    assert.ok(rq1[0].includes('32200000' + '00000100'), 'first piece 128 bytes');
});

test('a short answer advances by its length and the rest is asked for', () => {
    const r = rig();
    const ns = r.parameter.getblock('PATCH%DELAY');
    fill(r.unit, ns.address, ['01', '02', '03', '04', '05']); // the unit knows only 5 of 12 bytes
    r.logic.readStart([{ address: ns.address, size: 12 }]);
    assert.ok(r.runUntilDone());
    assert.deepEqual(r.states, [100, 'end']);
    const rq1 = r.unit.received.filter((m) => m.substr(12, 2) === '11');
    assert.equal(rq1.length, 2, 'first asks 12, then the 7 left; an empty answer ends the task');
    assert.deepEqual(r.parameter.paramSet['PATCH%DELAY'].slice(0, 5), ['01', '02', '03', '04', '05']);
});

test('a variable block is read as length first, then the rest in pieces of at most 128', () => {
    const r = rig();
    const memo = r.parameter.getblock('PATCH%MEMO');
    const text = Array.from({ length: 200 }, (_, i) => (0x41 + (i % 26)).toString(16).toUpperCase());
    fill(r.unit, memo.address, ['08', '0C', '00', '00', ...text]); // 0xC8 = 200
    r.logic.readStart([{ address: memo.address, size: -260 }]);
    assert.ok(r.runUntilDone());
    assert.deepEqual(r.states, [100, 'end']);
    assert.deepEqual(r.parameter.paramSet['PATCH%MEMO'], ['08', '0C', '00', '00', ...text]);
    const sizes = r.unit.received.filter((m) => m.substr(12, 2) === '11').map((m) => nibble(parseInt(m.substr(22, 8), 16)));
    assert.deepEqual(sizes, [4, 128, 72]);
});

test('an unanswered request aborts the batch after 15 s with timeout', () => {
    const r = rig();
    const sys = r.parameter.getblock('SYSTEM%COMMON');
    fill(r.unit, sys.address, Array(9).fill('01'));
    const usb = r.parameter.getblock('SYSTEM%USB');
    r.unit.silent.add(usb.address);
    r.logic.readStart([{ address: sys.address, size: 9 }, { address: usb.address, size: 7 },
        { address: sys.address, size: 9 }]);
    const t0 = r.clock.now();
    assert.ok(r.runUntilDone());
    assert.deepEqual(r.states, [33, 'timeout']);
    assert.ok(r.clock.now() - t0 > 15000);
    assert.equal(r.logic.busy, false);
    assert.equal(r.controller.pending.length, 0, 'link cleared');
    const count = r.unit.received.length;
    r.clock.advance(1000);
    assert.equal(r.unit.received.length, count, 'nothing further is sent');
});

test('batch write: paced DT1s, per-task and start waits, closing command, end wait', () => {
    const r = rig();
    const sent = [];
    const orig = r.native.midi.send.bind(r.native.midi);
    r.native.midi.send = (hex) => { sent.push([r.clock.now(), hex]); orig(hex); };
    const base = nibble(0x21000100);
    const tasks = [
        { address: base, data: '01' },
        { address: base + 1, data: '02', wait: 1500 },
        { address: base + 2, data: '03' },
    ];
    let closedAt = null;
    r.logic.writeStart(tasks, {
        startWait: 200, endWait: 5000,
        closing: (c) => { closedAt = r.clock.now(); c.dt1(nibble(0x7f000300), '00'); },
    });
    assert.ok(r.runUntilDone());
    assert.deepEqual(r.states, [33, 66, 100, 'end']);
    assert.equal(sent.length, 4);
    assert.ok(sent[0][0] >= 200, 'start wait');
    assert.ok(sent[2][0] - sent[1][0] >= 1500, 'wait after the second task');
    assert.ok(sent[3][1].includes('7F000300'), 'closing command last');
    assert.ok(closedAt >= sent[2][0]);
    const endAt = r.clock.now();
    assert.ok(endAt - closedAt >= 5000, 'end reported after the end wait');
    assert.equal(r.unit.memory.get(base + 2), '03');
});

test('a write waits for the link queue to drain before each task', () => {
    const r = rig();
    const order = [];
    const orig = r.native.midi.send.bind(r.native.midi);
    r.native.midi.send = (hex) => { order.push(hex.length); orig(hex); };
    r.controller.send('F0' + '00'.repeat(300) + 'F7');
    r.controller.send('F0' + '00'.repeat(300) + 'F7');
    r.logic.writeStart([{ address: 0, data: '01' }]);
    assert.ok(r.runUntilDone());
    assert.deepEqual(order.slice(0, 2), [604, 604]);
    assert.ok(order[2] < 40);
});

test('cancel stops a batch at once and drops what is queued', () => {
    const r = rig();
    const tasks = Array.from({ length: 20 }, (_, i) => ({ address: nibble(0x31000000) + i, data: '41' }));
    r.logic.writeStart(tasks);
    r.clock.advance(45);
    const sent = r.unit.received.length;
    assert.ok(sent > 0 && sent < 20);
    r.logic.cancel();
    assert.equal(r.logic.busy, false);
    r.clock.advance(2000);
    assert.ok(r.unit.received.length <= sent + 1, 'at most the message already queued');
    assert.equal(r.states.includes('end'), false);
    assert.equal(r.controller.isIdle(), true);
});

test('the next request leaves as soon as the answer is in, one outstanding at a time', () => {
    const r = rig();
    const sys = r.parameter.getblock('SYSTEM%COMMON');
    fill(r.unit, sys.address, Array(10).fill('01'));
    const sent = [];
    let outstanding = 0;
    let most = 0;
    const orig = r.native.midi.send.bind(r.native.midi);
    r.native.midi.send = (hex) => {
        sent.push(r.clock.now());
        most = Math.max(most, ++outstanding);
        orig(hex);
    };
    const receive = r.native.midi.events.message;
    r.native.midi.events.message = (...a) => { outstanding--; receive(...a); };
    r.logic.readStart(Array.from({ length: 50 }, () => ({ address: sys.address, size: 10 })));
    assert.ok(r.runUntilDone());
    assert.equal(r.states.at(-1), 'end');
    assert.equal(sent.length, 50);
    assert.equal(most, 1, 'never two requests out');
    // The unit here answers 1 ms after a request: the gaps are that, not ticks.
    const gaps = sent.slice(1).map((t, i) => t - sent[i]);
    assert.ok(Math.max(...gaps) <= 2, `gaps ${gaps.join(' ')}`);
});
