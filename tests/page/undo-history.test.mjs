import { test } from 'node:test';
import assert from 'node:assert/strict';
import { UndoHistory, applyChanges, imageChanges } from '../../resources/bundle/html/js/params/undo-history.js';
import { EditSource, SourceKind } from '../../resources/bundle/html/js/params/edit-source.js';
import { nibble } from '../../resources/bundle/html/js/link/sysex.js';
import { Parameter } from '../../resources/bundle/html/js/params/parameter.js';
import { linkedUnit, map } from './helpers/linked-unit.mjs';

const change = (before, after, offset = 2) => ({ blockId: 'PATCH%AMP', offset, before: [before], after: [after] });

test('steps undo and redo in order; a new edit drops what was undone; the oldest go past the limit', () => {
    const h = new UndoHistory({ limit: 3 });
    const applied = [];
    const apply = (changes, side) => { applied.push(changes.map((c) => c[side][0])); };
    for (const [a, b] of [['32', '33'], ['33', '34'], ['34', '35'], ['35', '36']]) h.record({ label: b, changes: [change(a, b)] });
    assert.equal(h.done.length, 3, 'limited to 3 steps');
    assert.equal(h.nextUndo().label, '36');
    assert.equal(h.undo(apply).label, '36');
    assert.equal(h.undo(apply).label, '35');
    assert.deepEqual(applied, [['35'], ['34']]);
    assert.equal(h.redo(apply).label, '35');
    assert.deepEqual(applied.at(-1), ['35']);
    h.record({ label: 'other', changes: [change('35', '40')] });
    assert.equal(h.canRedo, false, 'an edit after an undo starts a new branch');
    assert.equal(h.undo(apply).label, 'other');
    assert.equal(h.undo(apply).label, '35');
    assert.equal(h.undo(apply).label, '34');
    assert.equal(h.undo(apply), null);
    // An apply that cannot run keeps the step where it was.
    h.redo(apply);
    assert.equal(h.undo(() => false), null);
    assert.equal(h.canUndo, true);
});

test('the edits of one gesture are one step; a gesture back where it began leaves none; nothing changed is no step', () => {
    const h = new UndoHistory();
    h.record({ label: 'a', gesture: 1, changes: [change('32', '33')] });
    h.record({ label: 'b', gesture: 1, changes: [change('33', '3A')] });
    h.record({ label: 'c', gesture: 1, changes: [change('3A', '40')] });
    assert.equal(h.done.length, 1);
    assert.deepEqual(h.done[0].changes[0].before, ['32']);
    assert.deepEqual(h.done[0].changes[0].after, ['40']);
    h.record({ label: 'd', gesture: 2, changes: [change('40', '41')] });
    h.record({ label: 'e', gesture: 2, changes: [change('41', '40')] });
    assert.equal(h.done.length, 1, 'the second drag ended where it began');
    // Another parameter in the same gesture is a step of its own.
    h.record({ label: 'f', gesture: 3, changes: [change('40', '41')] });
    h.record({ label: 'g', gesture: 3, changes: [change('10', '11', 5)] });
    assert.equal(h.done.length, 3);
    assert.equal(h.record({ label: 'same', changes: [change('11', '11')] }), false);
    assert.equal(h.done.length, 3);
});

test('image changes undo exactly, variable blocks included', () => {
    const { parameter } = linkedUnit();
    const memo = 'PATCH%MEMO';
    const before = new Map([['PATCH%AMP', [...parameter.paramSet['PATCH%AMP']]], [memo, [...parameter.paramSet[memo]]]]);
    const after = new Map([['PATCH%AMP', before.get('PATCH%AMP').map((h, i) => (i % 3 === 0 ? '01' : h))],
        [memo, ['05', '00', '00', '00', '48', '65', '6C', '6C', '6F']]]);
    const changes = imageChanges(before, after, map);
    assert.ok(changes.length >= 2);
    applyChanges(parameter, changes, 'after', false);
    assert.deepEqual(parameter.paramSet['PATCH%AMP'], after.get('PATCH%AMP'));
    assert.deepEqual(parameter.paramSet[memo], after.get(memo));
    applyChanges(parameter, [...changes].reverse(), 'before', false);
    assert.deepEqual(parameter.paramSet['PATCH%AMP'], before.get('PATCH%AMP'));
    assert.deepEqual(parameter.paramSet[memo], before.get(memo), 'the memo is as short as before');
});

test('undo and redo over the unit: each step goes out as DT1 and the unit follows; the history is per patch', () => {
    const { clock, parameter, unit } = linkedUnit();
    let connected = true;
    const source = new EditSource({ kind: SourceKind.unit, label: 'unit', parameter, canEdit: () => connected });
    const gain = 'PATCH%AMP%2';
    const at = map.block('PATCH%AMP').absolute + 2;
    const settle = () => clock.advance(100);
    // One drag: three moves, one step.
    source.edit(gain, 60, 7);
    source.edit(gain, 70, 7);
    source.edit(gain, 80, 7);
    source.edit('PATCH%AMP%3', 20);
    settle();
    assert.equal(unit.memory.get(at), '50');
    assert.equal(source.historyOf('PATCH').done.length, 2);
    assert.match(source.historyOf('PATCH').nextUndo().label, /^PATCH AMP BASS 20$/);

    source.undo('PATCH');
    source.undo('PATCH');
    settle();
    assert.equal(parameter.get(gain), 50);
    assert.equal(unit.memory.get(at), '32', 'the unit holds the value before the drag');
    source.redo('PATCH');
    settle();
    assert.equal(unit.memory.get(at), '50');

    // Patch 2 is edited next: its own history; back on patch 1, its
    // history is still there.
    parameter.set('SETUP%COMMON%0', 1, false);
    assert.equal(source.historyOf('PATCH').canUndo, false);
    source.edit(gain, 10);
    parameter.set('SETUP%COMMON%0', 0, false);
    assert.equal(source.historyOf('PATCH').done.length, 1);
    assert.equal(source.historyOf('PATCH').undone.length, 1);
    assert.equal(source.history.get('PATCH@1').done.length, 1);

    // No unit, or a comparison running: nothing is edited or undone.
    connected = false;
    const sent = unit.received.length;
    assert.equal(source.edit(gain, 99), false);
    assert.equal(source.undo('PATCH'), null);
    connected = true;
    source.lockedBy = {};
    assert.equal(source.edit(gain, 99), false);
    settle();
    assert.equal(unit.received.length, sent);
    assert.equal(unit.memory.get(nibble(0x20000202)), '0A', 'the last edit sent');
});

test('the system area keeps a history of its own; a backup source sends nothing', () => {
    const { parameter, native } = linkedUnit();
    const source = new EditSource({ kind: SourceKind.unit, label: 'unit', parameter });
    source.edit('SYSTEM%COMMON%3', 2);
    assert.equal(source.historyOf('SYSTEM').done.length, 1);
    assert.equal(source.historyOf('PATCH').done.length, 0);

    const image = new Parameter({ map, controller: null, setting: parameter.setting });
    const offline = new EditSource({ kind: SourceKind.backup, label: 'file', parameter: image });
    offline.selectedPatch = 1;
    assert.equal(offline.patchArea(), 'PATCH(2)');
    const sentBefore = native.midi.sent.length;
    offline.edit('PATCH(2)%AMP%2', 90);
    offline.undo('PATCH(2)');
    offline.redo('PATCH(2)');
    assert.equal(image.get('PATCH(2)%AMP%2'), 90);
    assert.equal(offline.historyOf('PATCH(2)').done.length, 1);
    assert.equal(native.midi.sent.length, sentBefore);
});
