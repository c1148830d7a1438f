import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
    _7bitize, checksum, dt1Message, dt1Payload, nibble, rq1Message, sevenBitize,
} from '../../resources/bundle/html/js/link/sysex.js';
import { MIDIController } from '../../resources/bundle/html/js/link/midi-controller.js';
import { createProductSetting } from '../../resources/bundle/html/js/link/product-setting.js';
import { FakeClock } from './helpers/fake-clock.mjs';
import { makeNative } from './helpers/scripted-unit.mjs';

const setting = () => createProductSetting({ manufacturerId: '7D', modelId: '004B05', deviceId: '10' });

function setup() {
    const clock = new FakeClock();
    const native = makeNative();
    const s = setting();
    const c = new MIDIController({ native, setting: s, clock });
    c.start();
    return { clock, native, setting: s, c };
}

// A DT1 as the unit sends it (header of this setting).
const unitDT1 = (s, addressHex, data) =>
    'F0' + s.manufacturerId + s.deviceId + s.modelId + '12' + addressHex + data + checksum(addressHex + data) + 'F7';

test('address packing: nibble and _7bitize are inverse on 7-bit groups', () => {
    assert.equal(nibble(0x7f7f7f7f), 0x0fffffff);
    assert.equal(nibble(0x31100000), (0x31 << 21) | (0x10 << 14));
    assert.equal(_7bitize(0x0fffffff), '7F7F7F7F');
    assert.equal(_7bitize(nibble(0x31300000) + 240 * 1), '31300170');
    for (const x of [0, 0x7f, 0x80, 0x3fff, 0x4000, 0x1234567, 0x0fffffff]) {
        assert.equal(nibble(sevenBitize(x)), x);
    }
    // An offset that carries across a group.
    assert.equal(_7bitize(nibble(0x2000007f) + 1), '20000100');
});

test('checksum and frames', () => {
    assert.equal(checksum('40007F00'), '41');
    assert.equal(checksum(''), '00');
    assert.equal(checksum('7F000001' + '01'), '7F');
    const s = setting();
    assert.equal(dt1Message(s, nibble(0x7f000001), '01'), 'F07D10004B05127F000001017FF7');
    assert.equal(rq1Message(s, nibble(0x7f000000), 1), 'F07D10004B05117F0000000000000100F7');
    assert.equal(rq1Message(s, 0, 300), 'F07D10004B051100000000' + '0000022C' + checksum('000000000000022C') + 'F7');
    assert.deepEqual(dt1Payload('7F000001', '017FF7'), { data: '01', valid: true });
    assert.equal(dt1Payload('7F000001', '0100F7').valid, false);
    assert.equal(dt1Payload('7F000001', '017F').valid, false);
});

test('the send queue paces by message length: 250 bytes hold the next send 8 ms', () => {
    const { clock, native, c } = setup();
    const big = 'F0' + '00'.repeat(248) + 'F7';
    c.send(big);
    assert.deepEqual(native.midi.sent, [big], 'nothing ahead and the wire free: it leaves at once');
    assert.equal(c.nextSendTime, 8);
    c.send('F07E7F0601F7');
    c.send('F8');
    assert.equal(native.midi.sent.length, 1, 'the others wait for a tick');
    clock.advance(10);
    assert.equal(native.midi.sent.length, 2, 'one message per tick');
    assert.ok(Math.abs(c.nextSendTime - 10 - 0.192) < 1e-9);
    clock.advance(10);
    assert.deepEqual(native.midi.sent.slice(1), ['F07E7F0601F7', 'F8']);
});

test('a message waits while the previous is still on the wire', () => {
    const { clock, native, c } = setup();
    c.setting.interval = 25;
    c.send('F0' + '00'.repeat(248) + 'F7'); // 8 ms + 25 ms
    clock.advance(5);
    c.send('F7'); // nothing ahead of it, but the wire is busy
    assert.equal(native.midi.sent.length, 1);
    clock.advance(25);
    assert.equal(native.midi.sent.length, 1, 'not yet at t=30 (due 33)');
    clock.advance(10);
    assert.equal(native.midi.sent.length, 2);
});

test('receive filter: clock and active sensing dropped, foreign and corrupt messages ignored', () => {
    const { c, setting: s } = setup();
    const got = [];
    c.addReceiver((m) => got.push(m));
    c.receive('F8');
    c.receive('FE');
    c.receive('903C40');
    c.receive('F07E100602F7');
    c.receive('F07D7F004B0512' + '00000000' + '00' + checksum('0000000000') + 'F7'); // to all units
    c.receive(unitDT1(s, '10000000', '05'));
    c.receive(unitDT1({ ...s, deviceId: '11' }, '10000000', '05')); // other device
    c.receive(unitDT1({ ...s, modelId: '004B06' }, '10000000', '05')); // other model
    c.receive(unitDT1({ ...s, manufacturerId: '41' }, '10000000', '05')); // other maker
    c.receive(unitDT1(s, '10000000', '05').replace(/..F7$/, '00F7')); // bad checksum
    assert.deepEqual(got, [
        '903C40', 'F07E100602F7', 'F07D7F004B0512000000000000F7', unitDT1(s, '10000000', '05'),
    ]);
});

test('a DT1 answering two pending RQ1 at one address satisfies only the first', () => {
    const { c, setting: s } = setup();
    const calls = [];
    c.rq1(nibble(0x10000000), 1, (rest) => calls.push(['first', rest]));
    c.rq1(nibble(0x10000000), 1, (rest) => calls.push(['second', rest]));
    c.rq1(nibble(0x10000100), 1, (rest) => calls.push(['other', rest]));
    c.receive(unitDT1(s, '10000000', '05'));
    assert.deepEqual(calls, [['first', '05' + checksum('1000000005') + 'F7']]);
    assert.equal(c.pending.length, 2);
    c.receive(unitDT1(s, '10000000', '06'));
    assert.equal(calls[1][0], 'second');
    assert.equal(c.pending.length, 1);
});

test('a pending RQ1 whose handler returns true stays registered; clear drops all', () => {
    const { clock, native, c, setting: s } = setup();
    let n = 0;
    c.rq1(0, 1, () => { n++; return true; });
    c.receive(unitDT1(s, '00000000', '00'));
    c.receive(unitDT1(s, '00000000', '01'));
    assert.equal(n, 2);
    c.send('F0' + '00'.repeat(248) + 'F7');
    c.send('F7');
    c.clear();
    assert.equal(c.pending.length, 0);
    clock.advance(100);
    assert.equal(native.midi.sent.length, 1, 'only the message already on the wire');
});

test('receivers removed during a notification pass are skipped', () => {
    const { c } = setup();
    const seen = [];
    const b = (m) => seen.push('b' + m);
    const a = (m) => { seen.push('a' + m); c.removeReceiver(b); };
    c.addReceiver(a);
    c.addReceiver(b);
    c.addReceiver({ receive: (m) => seen.push('o' + m) });
    c.receive('90');
    assert.deepEqual(seen, ['a90', 'o90']);
});

test('waits: success on the matching reply, error 15 s after the send, cancel stops both', () => {
    const { clock, native, c, setting: s } = setup();
    const events = [];
    c.waitMessage('F07E7F0601F7', {
        isReply: (m) => m.startsWith('F07E'),
        success: (m) => events.push(['identity', m]),
        error: () => events.push(['identity-timeout']),
    });
    c.waitRQ1(nibble(0x7f000000), 1, {
        success: (d) => events.push(['level', d]),
        error: () => events.push(['level-timeout']),
    });
    clock.advance(30);
    assert.equal(native.midi.sent.length, 2);
    c.receive('F07E100602F7');
    c.receive(unitDT1(s, '7F000000', '00'));
    clock.advance(10);
    assert.deepEqual(events, [['identity', 'F07E100602F7'], ['level', '00']]);

    const sentAt = clock.now(); // the link is idle: the DT1 leaves at once
    c.waitDT1(nibble(0x7f000200), '0003', {
        isReply: () => false,
        error: () => events.push(['dt1-timeout', clock.now() - sentAt]),
    });
    clock.advance(14990);
    assert.equal(events.length, 2);
    clock.advance(30);
    assert.deepEqual(events[2][0], 'dt1-timeout');
    assert.ok(events[2][1] > 15000 && events[2][1] <= 15020);

    const cancel = c.waitRQ1(0, 1, { success: () => events.push('x'), error: () => events.push('y') });
    clock.advance(20);
    cancel();
    c.receive(unitDT1(s, '00000000', '00'));
    clock.advance(20000);
    assert.equal(events.length, 3);
    assert.equal(c.pending.length, 0);
});

test('a unit still sending keeps a wait alive; silence then ends it', () => {
    const { clock, c, setting: s } = setup();
    const events = [];
    c.waitRQ1(nibble(0x31300000), 128, { error: () => events.push(clock.now()) });
    clock.advance(10000);
    c.receive(unitDT1(s, '20000000', '00')); // other traffic from the unit at t=10000
    clock.advance(10000);
    assert.deepEqual(events, []);
    clock.advance(6000);
    assert.equal(events.length, 1);
    assert.ok(events[0] > 25000 && events[0] <= 25020);
});
