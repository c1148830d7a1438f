import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Comparison, Side, describeDifferences, differingParams } from '../../resources/bundle/html/js/editor/compare.js';
import { EditSource, SourceKind } from '../../resources/bundle/html/js/params/edit-source.js';
import { relocate } from '../../resources/bundle/html/js/patch/patch-transfer.js';
import { linkedUnit, map } from './helpers/linked-unit.mjs';

const image = (parameter, area) => new Map(map.areaBlocks(area).map((id) => [id, [...parameter.paramSet[id]]]));
const dt1s = (unit, from) => unit.received.slice(from).filter((m) => m.substr(12, 2) === '12');

test('compare: the unit hears the stored patch and the edited one again, and only what differs is sent', () => {
    const { clock, parameter, unit } = linkedUnit();
    for (const [, block] of map.blocks) block.initial.forEach((h, i) => unit.memory.set(block.absolute + i, h));
    const source = new EditSource({ kind: SourceKind.unit, label: 'unit', parameter, canEdit: () => true });
    // Stored: user patch 1 as the unit holds it; edited: two values and the memo.
    const stored = relocate(image(parameter, 'PATCH(1)'), 'PATCH');
    source.edit('PATCH%AMP%2', 104);
    source.edit('PATCH%DELAY%2', 480);
    parameter.setdata('PATCH%MEMO', ['02', '00', '00', '00', '48', '69']);
    clock.advance(100);
    const edited = image(parameter, 'PATCH');

    const diffs = differingParams(map, 'PATCH', edited, stored);
    assert.deepEqual(describeDifferences(diffs, parameter), ['AMP GAIN: 104 edited, 50 stored', 'DELAY TIME: 480 ms edited, 350 ms stored', 'MEMO: differs']);

    const c = new Comparison({ source, area: 'PATCH', stored });
    assert.equal(source.edit('PATCH%AMP%3', 1), false, 'no edits while comparing');
    let from = unit.received.length;
    assert.equal(c.toggle(), Side.stored);
    clock.advance(100);
    // GAIN (one byte), the two bytes of TIME, the memo from its first byte.
    assert.equal(dt1s(unit, from).length, 3);
    assert.deepEqual(image(parameter, 'PATCH'), stored);
    assert.equal(unit.memory.get(map.block('PATCH%AMP').absolute + 2), '32');
    from = unit.received.length;
    c.toggle();
    clock.advance(100);
    assert.equal(dt1s(unit, from).length, 3);
    assert.deepEqual(image(parameter, 'PATCH'), edited);
    assert.equal(unit.memory.get(map.block('PATCH%AMP').absolute + 2), '68');

    // Ended on the stored side: the edited patch comes back, edits go on.
    c.show(Side.stored);
    c.end();
    clock.advance(100);
    assert.deepEqual(image(parameter, 'PATCH'), edited);
    assert.equal(source.lockedBy, null);
    assert.equal(source.edit('PATCH%AMP%3', 1), true);
    assert.equal(new Comparison({ source, area: 'PATCH', stored: image(parameter, 'PATCH') }).differs, false);
});
