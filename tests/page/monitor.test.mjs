import { test } from 'node:test';
import assert from 'node:assert/strict';
import { AddressMap, loadAddressMapDefinition } from '../../resources/bundle/html/js/params/address-map.js';
import { createProductSetting } from '../../resources/bundle/html/js/link/product-setting.js';
import { dt1Message, nibble, rq1Message } from '../../resources/bundle/html/js/link/sysex.js';
import { describeMessage } from '../../resources/bundle/html/js/editor/monitor.js';

const definition = await loadAddressMapDefinition();
const map = new AddressMap(definition);
const setting = createProductSetting(definition);

test('the MIDI monitor names blocks, offsets and sizes of DT1 and RQ1', () => {
    const coef = map.block('IRDATA(3)%DATA').absolute;
    assert.equal(describeMessage(dt1Message(setting, coef + 240, '00'.repeat(240)), setting, map), 'DT1 IRDATA(3)%DATA+240 240 B');
    assert.equal(describeMessage(rq1Message(setting, map.block('SYSTEM%COMMON').absolute, 9), setting, map), 'RQ1 SYSTEM%COMMON+0 size 9');
    assert.equal(describeMessage('F07E7F0601F7', setting, map), 'identity request');
    assert.equal(describeMessage('F07E1006027D05020000F7', setting, map), 'identity reply');
    assert.equal(describeMessage('B00740', setting, map), 'short message');
    // Command addresses lie past every block: named, never a huge offset into one.
    assert.equal(describeMessage(dt1Message(setting, nibble(0x7f000300), '02'), setting, map), 'DT1 set IR data 1 B');
    assert.equal(describeMessage(rq1Message(setting, nibble(0x7f000000), 1), setting, map), 'RQ1 communication level size 1');
    const end = map.block('IRDATA(11)%DATA').absolute + Math.abs(map.block('IRDATA(11)%DATA').size);
    assert.equal(describeMessage(rq1Message(setting, end, 1), setting, map).split(' ')[1].length, 8, 'raw address past the last block');
});
