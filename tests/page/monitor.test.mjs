import { test } from 'node:test';
import assert from 'node:assert/strict';
import { AddressMap, loadAddressMapDefinition } from '../../resources/bundle/html/js/params/address-map.js';
import { createProductSetting } from '../../resources/bundle/html/js/link/product-setting.js';
import { dt1Message, nibble, rq1Message } from '../../resources/bundle/html/js/link/sysex.js';
import { MonitorLog, clockTime, describe } from '../../resources/bundle/html/js/editor/monitor-log.js';
import { shortcutFor } from '../../resources/bundle/html/js/editor/shortcuts.js';
import { Parameter } from '../../resources/bundle/html/js/params/parameter.js';
import { formatValue, paramLabel, valueStep } from '../../resources/bundle/html/js/params/display.js';

const definition = await loadAddressMapDefinition();
const map = new AddressMap(definition);
const setting = createProductSetting(definition);
const text = (hex) => describe(hex, setting, map).text;

test('the MIDI monitor says block and parameter names with values in their units', () => {
    const amp = map.block('PATCH%AMP').absolute;
    assert.equal(text(dt1Message(setting, amp + 2, '68')), 'PATCH AMP GAIN = 104');
    assert.equal(text(dt1Message(setting, amp + 1, '08')), 'PATCH AMP TYPE = CRUNCH');
    assert.equal(text(dt1Message(setting, map.block('SYSTEM%INPUT').absolute, '11')), 'SYSTEM INPUT INPUT LEVEL = \u22123 dB');
    assert.equal(text(dt1Message(setting, map.block('PATCH(2)%REVERB').absolute + 2, '14')), 'user patch 2 REVERB TIME = 2.0 s');
    assert.equal(text(dt1Message(setting, map.block('PATCH%AMP').absolute, '0101320A')), 'PATCH AMP: SW = ON, TYPE = BRIGHT CLEAN, GAIN = 50 … (4 values)');
    assert.equal(text(dt1Message(setting, map.block('IRDATA(3)%DATA').absolute + 240, '00'.repeat(240))), 'slot 3 coefficients 31–60');
    assert.equal(text(dt1Message(setting, map.block('IRDATA(3)%NAME').absolute, '526F6F6D'.padEnd(64, '20'))), 'slot 3 NAME = "Room"');
    assert.equal(text(rq1Message(setting, map.block('SYSTEM%COMMON').absolute, 9)), 'RQ1 SYSTEM COMMON, 9 bytes');
    assert.equal(text(rq1Message(setting, map.block('IRDATA(3)%DATA').absolute, 128)), 'RQ1 slot 3 coefficients 1–16');
    // Command addresses lie past every block: named, never a huge offset into one.
    assert.equal(text(dt1Message(setting, nibble(0x7f000104), '01')), 'patch write: user patch 2');
    assert.equal(text(dt1Message(setting, nibble(0x7f000200), '0002')), 'IR slot initialise: slot 3');
    assert.equal(text(rq1Message(setting, nibble(0x7f000000), 1)), 'RQ1 communication level');
    assert.equal(text('F07E7F0601F7'), 'identity request');
    assert.equal(text('B00740'), 'MIDI B00740');
    const end = map.block('IRDATA(11)%DATA').absolute + Math.abs(map.block('IRDATA(11)%DATA').size);
    assert.match(text(rq1Message(setting, end, 1)), /^RQ1 [0-9A-F]{8}, 1 bytes$/, 'raw address past the last block');
});

test('entries keep the wall-clock time, filter by direction, type and area, and export as .syx and text', () => {
    const log = new MonitorLog({ setting, map, max: 4 });
    const at = new Date(2024, 4, 1, 20, 15, 7, 250).getTime();
    const gain = dt1Message(setting, map.block('PATCH%AMP').absolute + 2, '68');
    const ask = rq1Message(setting, map.block('SYSTEM%COMMON').absolute, 9);
    log.add('out', 'B00740', at - 2);
    log.add('out', gain, at);
    log.add('out', ask, at + 1);
    log.add('in', dt1Message(setting, map.block('SYSTEM%COMMON').absolute, '050801000000000001'), at + 5);
    log.add('in', 'F07E1006027D05020000F7', at + 9);
    assert.equal(log.entries.length, 4, 'the oldest goes past the limit');
    assert.equal(clockTime(at), '20:15:07.250');
    assert.deepEqual(log.select({ dir: 'out' }).map((e) => e.hex), [gain, ask]);
    assert.deepEqual(log.select({ types: new Set(['DT1']) }).map((e) => e.area), ['patch', 'system']);
    assert.deepEqual(log.select({ areas: new Set(['system']), dir: 'in' }).length, 1);
    assert.equal(MonitorLog.syxHex(log.select({ dir: 'out' })), gain + ask);
    const lines = MonitorLog.text(log.select({ dir: 'out' })).split('\n');
    assert.equal(lines[0], `2024-05-01 20:15:07.250  out  PATCH AMP GAIN = 104  ${gain.match(/../g).join(' ')}`);
    assert.equal(lines.length, 3);
});

test('shortcuts leave a text field its own undo and the question mark', () => {
    const key = (k, mods = {}) => ({ key: k, ctrlKey: false, shiftKey: false, altKey: false, metaKey: false, ...mods });
    assert.equal(shortcutFor(key('z', { ctrlKey: true })), 'undo');
    assert.equal(shortcutFor(key('Z', { ctrlKey: true, shiftKey: true })), 'redo');
    assert.equal(shortcutFor(key('y', { ctrlKey: true })), 'redo');
    assert.equal(shortcutFor(key('z', { ctrlKey: true }), true), null);
    assert.equal(shortcutFor(key('?')), 'help');
    assert.equal(shortcutFor(key('?'), true), null);
    assert.equal(shortcutFor(key('F1'), true), 'help');
    assert.equal(shortcutFor(key('o', { ctrlKey: true }), true), 'openWav');
    assert.equal(shortcutFor(key('3', { ctrlKey: true })), 'tab3');
    assert.equal(shortcutFor(key('o', { ctrlKey: true, altKey: true })), null);
});

test('values in words: slot numbers by the slot\'s name, signed levels, units, steps of half-stored values', () => {
    const parameter = new Parameter({ map, controller: null, setting });
    parameter.set('IRDATA(3)%NAME%0', 'Room'.padEnd(32, ' '), false);
    const slot = map.param('PATCH%CAB%3');
    assert.equal(formatValue(slot, 3, parameter), '3: Room');
    assert.equal(formatValue(slot, 2, parameter), '2: (no name)');
    assert.equal(formatValue(slot, 3), '3');
    assert.equal(formatValue(map.param('PATCH%BOOSTER%3'), 5), '+5');
    assert.equal(formatValue(map.param('SYSTEM%OUTPUT%9'), 40), '40 %');
    assert.equal(formatValue(map.param('SYSTEM%COMMON%5'), 440), '440 Hz');
    assert.equal(formatValue(map.param('PATCH%COMMON%0'), 'Lead  '), '"Lead"');
    const preDelay = map.params.get('PATCH%REVERB%3');
    assert.equal(preDelay.name, 'PRE DELAY');
    assert.equal(valueStep(preDelay), 2);
    assert.equal(valueStep(slot), 1);
    assert.equal(paramLabel(map.param('PATCH(2)%AMP%2')), 'user patch 2 AMP GAIN');
    assert.equal(paramLabel(map.param('IRDATA(3)%NAME%0')), 'slot 3 NAME');
});
