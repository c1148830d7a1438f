import { test } from 'node:test';
import assert from 'node:assert/strict';
import { AddressMap, loadAddressMapDefinition } from '../../resources/bundle/html/js/params/address-map.js';
import { Parameter } from '../../resources/bundle/html/js/params/parameter.js';
import {
    SizeCode, applyOfs, codeBytes, decodeValue, encodeValue,
} from '../../resources/bundle/html/js/params/size-codes.js';
import { MIDIController } from '../../resources/bundle/html/js/link/midi-controller.js';
import { createProductSetting } from '../../resources/bundle/html/js/link/product-setting.js';
import { _7bitize, checksum, nibble } from '../../resources/bundle/html/js/link/sysex.js';
import { FakeClock } from './helpers/fake-clock.mjs';
import { makeNative } from './helpers/scripted-unit.mjs';

const definition = await loadAddressMapDefinition();
const kx5 = new AddressMap(definition);

function rig(map = kx5) {
    const clock = new FakeClock();
    const native = makeNative();
    const setting = createProductSetting(definition);
    const controller = new MIDIController({ native, setting, clock });
    controller.start();
    const parameter = new Parameter({ map, controller });
    const notes = [];
    parameter.addObserver({ notify: (...a) => notes.push(a) });
    const dt1 = (packed, data) => {
        const body = _7bitize(nibble(packed)) + data;
        controller.receive('F07D10004B0512' + body + checksum(body) + 'F7');
    };
    const sentDT1 = () => {
        clock.advance(100);
        return native.midi.sent.splice(0).map((m) => ({ address: m.substr(14, 8), data: m.substring(22, m.length - 4) }));
    };
    return { clock, native, controller, parameter, notes, dt1, sentDT1 };
}

test('the KX-5 map: areas, slot layout and a few hundred named parameters', () => {
    assert.equal(definition.manufacturerId, '7D');
    for (let k = 0; k < 11; k++) {
        const slot = `IRDATA(${k + 1})`;
        const base = nibble(0x31000000) + k * nibble(0x01000000);
        assert.equal(kx5.block(`${slot}%NAME`).absolute, base);
        assert.equal(kx5.block(`${slot}%SIZE`).absolute, base + nibble(0x00100000));
        assert.equal(kx5.block(`${slot}%FILE`).size, 256);
        assert.equal(kx5.block(`${slot}%DATA`).absolute, base + nibble(0x00300000));
        assert.equal(kx5.block(`${slot}%DATA`).size, 3354 * 8);
        assert.equal(kx5.block(`${slot}%NAME`).size, 32);
        assert.equal(kx5.block(`${slot}%SIZE`).size, 4);
    }
    assert.equal(_7bitize(kx5.block('IRDATA(11)%NAME').absolute), '3B000000');
    for (const area of ['SETUP', 'SYSTEM', 'PATCH', 'PATCH(1)', 'PATCH(2)', 'IRDATA']) {
        assert.ok(kx5.areaBlocks(area).length > 0, area);
    }
    const named = [...kx5.params.values()].filter((p) => !/^(COEF|FILE NAME BYTE) \d+$/.test(p.name));
    assert.ok(named.length >= 200 && named.length <= 600, `${named.length} named parameters`);
    for (const p of kx5.params.values()) {
        assert.ok(p.name, p.id);
        if (typeof p.init === 'number') {
            assert.ok(p.min <= p.init && p.init <= p.max, `${p.id} init in range`);
            const capacity = { 1: 127, 2: p.code === SizeCode.S2x4 ? 255 : 16383, 4: 0xffff, 8: 0xffffffff }[codeBytes(p.code)];
            for (const v of [p.min, p.max]) {
                const stored = applyOfs(v, p.ofs);
                assert.ok(stored >= 0 && stored <= capacity, `${p.id} ${v} fits its size code`);
            }
        }
        if (p.values) assert.equal(p.values.length, p.max - p.min + 1, `${p.id} labels`);
    }
    // No two blocks overlap.
    const spans = [...kx5.blocks.values()].map((b) => [b.absolute, b.absolute + Math.abs(b.size), b.id])
        .sort((a, b) => a[0] - b[0]);
    for (let i = 1; i < spans.length; i++) assert.ok(spans[i][0] >= spans[i - 1][1], `${spans[i - 1][2]} / ${spans[i][2]}`);
});

test('initial images: 00, then each init plus ofs at its offset; variable blocks four 00', () => {
    const p = new Parameter({ map: kx5 });
    assert.deepEqual(p.paramSet['PATCH%MEMO'], ['00', '00', '00', '00']);
    assert.equal(p.get('SYSTEM%COMMON%5'), 440, 'tuner reference');
    assert.equal(p.paramSet['SYSTEM%COMMON'][5], '05');
    assert.equal(p.get('SYSTEM%MIDI%0'), 1, 'rx channel 1 stored as 0');
    assert.equal(p.paramSet['SYSTEM%MIDI'][0], '00');
    assert.equal(p.get('PATCH%COMMON%0'), 'INIT PATCH      ');
    assert.deepEqual(p.paramSet['IRDATA(1)%FILE'].slice(0, 4), ['02', '00', '02', '00']);
    assert.equal(p.get('PATCH(2)%REVERB%3'), 20, 'pre delay 20 ms stored in 2 ms steps');
    assert.deepEqual(p.paramSet['PATCH(2)%REVERB'].slice(3, 5), ['00', '0A']);
});

test('every size code round-trips through encode and decode', () => {
    const cases = [
        [SizeCode.S1x1, [1], [0x01]], [SizeCode.S1x4, [9], [0x09]], [SizeCode.S1x7, [127], [0x7f]],
        [SizeCode.S2x4, [0xab], [0x0a, 0x0b]], [SizeCode.S2x7, [16383], [0x7f, 0x7f]],
        [SizeCode.S2x7, [300], [0x02, 0x2c]], [SizeCode.S4x4, [0x1234], [1, 2, 3, 4]],
        [SizeCode.S8x4, [0xbf800000], [0xb, 0xf, 8, 0, 0, 0, 0, 0]],
        [SizeCode.S8x4, [0xffffffff], [15, 15, 15, 15, 15, 15, 15, 15]],
        [SizeCode.PAD + 3, [5], [5, 5, 5]], [5, ['AB'], [0x41, 0x42, 0x20, 0x20, 0x20]],
        [3, ['ABCDEF'], [0x41, 0x42, 0x43]],
    ];
    for (const [code, [v], bytes] of cases) {
        assert.deepEqual(encodeValue(code, v), bytes, `encode ${code.toString(16)} ${v}`);
        assert.equal(codeBytes(code), bytes.length);
        const back = decodeValue(code, bytes);
        assert.equal(back, typeof v === 'string' ? String.fromCharCode(...bytes) : v);
    }
    for (let code = SizeCode.S1x1; code <= SizeCode.S1x7; code++) {
        assert.deepEqual(encodeValue(code, 0x85), [0x05]);
    }
    assert.deepEqual(encodeValue(SizeCode.S4x4, -1), [15, 15, 15, 15]);
});

test('setValue: ofs and pair ofs applied, range clamped, exactly those bytes sent', () => {
    const r = rig();
    const p = r.parameter;
    p.setValue('PATCH%EQ%3', SizeCode.S1x7, 20, -6);
    assert.equal(p.paramSet['PATCH%EQ'][3], '0E');
    assert.equal(p.value('PATCH%EQ%3', SizeCode.S1x7, 20), -6);
    p.set('PATCH(1)%REVERB%3', 301);
    assert.deepEqual(p.paramSet['PATCH(1)%REVERB'].slice(3, 5), ['01', '16'], '150 steps of 2 ms');
    assert.equal(p.get('PATCH(1)%REVERB%3'), 300, 'truncated to the step');
    p.set('PATCH%AMP%2', 500);
    assert.equal(p.get('PATCH%AMP%2'), 120, 'clamped to max');
    p.setValue('PATCH%COMMON%0', 16, 0, 'Lead', false);
    assert.equal(p.get('PATCH%COMMON%0'), 'Lead            ');
    assert.deepEqual(r.sentDT1(), [
        { address: '20000303', data: '0E' },
        { address: '21000803', data: '0116' },
        { address: '20000202', data: '78' },
    ]);
    assert.deepEqual(r.notes.map((n) => n.join(' ')), [
        'PATCH%EQ 3 4', 'PATCH(1)%REVERB 3 5', 'PATCH%AMP 2 3', 'PATCH%COMMON 0 16',
    ]);
    assert.equal(p.value('NO%BLOCK%0', SizeCode.S1x7, 0), 0);
    assert.equal(p.setValue('NO%BLOCK%0', SizeCode.S1x7, 0, 1), false);
});

test('flush sends a stored range as one DT1, cut at the block end', () => {
    const r = rig();
    r.parameter.setValue('PATCH%COMMON%0', 16, 0, 'Crunch', false);
    r.parameter.flush('PATCH%COMMON%0', 16);
    r.parameter.flush('PATCH%NS%2', 100);
    const sent = r.sentDT1();
    assert.equal(sent[0].address, '20000000');
    assert.equal(sent[0].data, Buffer.from('Crunch          ').toString('hex').toUpperCase());
    assert.deepEqual(sent[1], { address: '20000502', data: '3200' });
});

test('a DT1 to the first slot size block updates only that block and notifies its range', () => {
    const r = rig();
    const before = JSON.stringify({ ...r.parameter.paramSet, 'IRDATA(1)%SIZE': null });
    r.dt1(0x31100000, '00000701');
    assert.deepEqual(r.parameter.paramSet['IRDATA(1)%SIZE'], ['00', '00', '07', '01']);
    assert.equal(r.parameter.get('IRDATA(1)%SIZE%0'), 0x71);
    assert.deepEqual(r.notes, [['IRDATA(1)%SIZE', 0, 4]]);
    assert.equal(JSON.stringify({ ...r.parameter.paramSet, 'IRDATA(1)%SIZE': null }), before);
    r.dt1(0x31100002, '0A');
    assert.deepEqual(r.notes[1], ['IRDATA(1)%SIZE', 2, 3]);
    assert.deepEqual(r.parameter.paramSet['IRDATA(1)%SIZE'], ['00', '00', '0A', '01']);
});

test('DT1 beyond a fixed block stores nothing; one running over its end is cut', () => {
    const r = rig();
    const snapshot = JSON.stringify(r.parameter.paramSet);
    r.dt1(0x31100004, '01'); // just past SIZE
    r.dt1(0x10000050, '01'); // gap after SYSTEM%COMMON
    r.dt1(0x7f000000, '00'); // command area
    r.dt1(0x05000000, '01'); // inside SETUP area, past its block
    assert.equal(JSON.stringify(r.parameter.paramSet), snapshot);
    assert.deepEqual(r.notes, []);
    r.dt1(0x31100002, '0102030405');
    assert.deepEqual(r.parameter.paramSet['IRDATA(1)%SIZE'], ['00', '00', '01', '02']);
    assert.deepEqual(r.notes, [['IRDATA(1)%SIZE', 2, 4]]);
});

test('DT1 into a variable block sets its end; nothing past its maximum', () => {
    const r = rig();
    r.dt1(0x20001000, '0300000041424344');
    assert.deepEqual(r.parameter.paramSet['PATCH%MEMO'], ['03', '00', '00', '00', '41', '42', '43', '44']);
    r.dt1(0x20001000, '02000000');
    assert.deepEqual(r.parameter.paramSet['PATCH%MEMO'], ['02', '00', '00', '00']);
    r.dt1(0x20001006, '45');
    assert.deepEqual(r.parameter.paramSet['PATCH%MEMO'], ['02', '00', '00', '00', '00', '00', '45']);
    r.dt1(0x20001000 + 0x0200 + 4, '46'); // offset 260 = past 4 + 256
    assert.equal(r.parameter.paramSet['PATCH%MEMO'].length, 7);
});

test('DT1 from another device or with a bad checksum is not stored', () => {
    const r = rig();
    const body = '31100000' + '00000701';
    r.controller.receive('F07D11004B0512' + body + checksum(body) + 'F7');
    r.controller.receive('F07D10004B0512' + body + '00F7');
    assert.deepEqual(r.parameter.paramSet['IRDATA(1)%SIZE'], ['00', '00', '00', '00']);
});

test('getblock splits a 300-byte block at parameter ends just past 128 bytes', () => {
    const def = {
        areas: [{ name: 'A', address: '00000000', blocks: [{ name: 'B', address: '00000000', params: [
            { name: 'T#', type: 'text', length: 30, count: 4 }, // ends 30, 60, 90, 120
            { name: 'W', type: '8x4' }, // 120..128
            { name: 'U', type: 'text', length: 50 }, // 128..178
            { name: 'V#', type: '2x7', count: 35 }, // 178..248
            { name: 'Y', type: 'text', length: 20 }, // 248..268, straddles 256
            { name: 'X', type: 'text', length: 32 }, // 268..300
        ] }] }],
    };
    const map = new AddressMap(def);
    assert.equal(map.block('A%B').size, 300);
    const p = new Parameter({ map });
    const { address, data, sizes } = p.getblock('A%B');
    assert.equal(address, 0);
    assert.equal(data.length, 300);
    assert.deepEqual(sizes, [128, 140, 32]);
    assert.equal(sizes.reduce((a, b) => a + b), 300);
    const k = new Parameter({ map: kx5 });
    assert.deepEqual(k.getblock('IRDATA(1)%FILE').sizes, [128, 128]);
    assert.deepEqual(k.getblock('SYSTEM%COMMON').sizes, [9]);
    assert.deepEqual(k.getblock('PATCH%MEMO').sizes, [-260]);
    assert.equal(k.getblock('NOPE'), null);
    const dataSizes = k.getblock('IRDATA(1)%DATA').sizes;
    assert.equal(dataSizes.length, Math.ceil(26832 / 128));
    assert.ok(dataSizes.every((s) => s <= 128));
});

test('setdata, initialize, copyblock and initblock', () => {
    const r = rig();
    const p = r.parameter;
    p.setdata('PATCH%NS', ['01', '02']);
    assert.deepEqual(p.paramSet['PATCH%NS'], ['01', '02', '32', '00'], 'short data completed from the initial image');
    p.setdata('PATCH%NS', ['1', '2', '3', '4', '5', '6']);
    assert.deepEqual(p.copyblock('PATCH%NS'), ['01', '02', '03', '04'], 'long data cut');
    const copy = p.copyblock('PATCH%NS');
    copy[0] = 'FF';
    assert.equal(p.paramSet['PATCH%NS'][0], '01', 'copies are independent');
    assert.deepEqual(p.initblock('PATCH%NS'), ['01', '1E', '32', '00']);
    p.initialize('PATCH%NS');
    assert.deepEqual(p.paramSet['PATCH%NS'], ['01', '1E', '32', '00']);
    assert.deepEqual(r.notes.map((n) => n.join(' ')), ['PATCH%NS 0 4', 'PATCH%NS 0 4', 'PATCH%NS 0 4']);
    assert.equal(p.setdata('NOPE', []), false);
    assert.equal(p.copyblock('NOPE'), null);
});
