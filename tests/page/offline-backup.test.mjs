import { test } from 'node:test';
import assert from 'node:assert/strict';
import { BackupImage } from '../../resources/bundle/html/js/backup/offline-image.js';
import { BackupError, buildBackup, parseBackup } from '../../resources/bundle/html/js/backup/backup-format.js';
import { BackupSession } from '../../resources/bundle/html/js/backup/backup-session.js';
import { EditSource, SourceKind } from '../../resources/bundle/html/js/params/edit-source.js';
import { nibble } from '../../resources/bundle/html/js/link/sysex.js';
import { linkedUnit, map } from './helpers/linked-unit.mjs';

// A reversible stand-in for the host's AES.
const encrypt = (h) => 'AE' + [...h].reverse().join('');
const decrypt = (h) => (h.startsWith('AE') ? [...h.substring(2)].reverse().join('') : '');

// A backup file as the unit's backup writes it: slot 2 loaded ("Box"),
// user patch 1 named, a system setting changed; slot 3 has no data.
function backupText() {
    const { parameter, setting } = linkedUnit();
    parameter.set('SYSTEM%COMMON%3', 2, false);
    parameter.set('PATCH(1)%COMMON%0', 'Clean'.padEnd(16, ' '), false);
    parameter.set('IRDATA(2)%NAME%0', 'Box'.padEnd(32, ' '), false);
    const coef = map.block('IRDATA(2)%DATA');
    parameter.setdata(coef.id, Array.from({ length: coef.size }, (_, i) => ((i * 7) % 16).toString(16).toUpperCase().padStart(2, '0')));
    const backup = buildBackup({ map, parameter, setting, encrypt, present: (section, i) => section !== 'irData' || i === 1 });
    return { text: JSON.stringify(backup), setting };
}

test('a backup opened without the unit is edited with the same editors and saved as a backup again', () => {
    const { text, setting } = backupText();
    const image = BackupImage.fromText(text, { map, setting, decrypt, path: '/music/gig.alb' });
    assert.equal(image.changed, false);
    assert.equal(image.parameter.get('IRDATA%STATUS%1'), 1, 'slot 2 shows as holding data');
    assert.equal(image.parameter.get('IRDATA%STATUS%2'), 0);
    assert.equal(image.slotName(1), 'Box');

    const source = new EditSource({ kind: SourceKind.backup, label: 'gig.alb', parameter: image.parameter, savedImage: (a) => image.savedImage(a) });
    source.selectedPatch = 0;
    assert.ok(source.edit('PATCH(1)%AMP%2', 90));
    assert.ok(source.edit('SYSTEM%COMMON%3', 1));
    assert.equal(image.changed, true);
    source.undo('SYSTEM');
    assert.equal(image.parameter.get('SYSTEM%COMMON%3'), 2);
    assert.ok(image.renameSlot(1, 'Box 2'));
    assert.equal(image.renameSlot(2, 'nothing there'), false, 'a slot without data has nothing to rename');
    assert.deepEqual(image.savedImage('PATCH(1)').get('PATCH(1)%AMP')[2], '32', 'the file as opened');

    const saved = image.toBackup(encrypt);
    assert.equal(saved.irData.filter(Boolean).length, 1);
    assert.ok(!JSON.stringify(saved).includes('IRDATA%COEF"'), 'coefficients enciphered again');
    const again = BackupImage.fromText(JSON.stringify(saved), { map, setting, decrypt });
    assert.equal(again.parameter.get('PATCH(1)%AMP%2'), 90);
    assert.equal(again.parameter.get('SYSTEM%COMMON%3'), 2);
    assert.equal(again.slotName(1), 'Box 2');
    assert.equal(String(again.parameter.get('PATCH(1)%COMMON%0')).trimEnd(), 'Clean');
    assert.deepEqual(again.parameter.paramSet['IRDATA(2)%DATA'], image.parameter.paramSet['IRDATA(2)%DATA']);
    image.markSaved('/music/gig edited.alb');
    assert.equal(image.changed, false);

    // A slot cleared leaves the file.
    image.clearSlot(1);
    assert.equal(image.changed, true);
    assert.equal(image.toBackup(encrypt).irData.filter(Boolean).length, 0);
    assert.throws(() => BackupImage.fromText('{"device":"KX-7"}', { map, setting, decrypt }), BackupError);
});

test('an edited backup written into a unit is verified there, and can clear the slots it holds no data for', () => {
    const { text, setting } = backupText();
    const image = BackupImage.fromText(text, { map, setting, decrypt, path: '/music/gig.alb' });
    image.parameter.set('PATCH(2)%DELAY%2', 700, false);
    image.renameSlot(1, 'Renamed');

    const { clock, native, controller, parameter, readWrite, unit } = linkedUnit();
    for (const [, block] of map.blocks) block.initial.forEach((h, i) => unit.memory.set(block.absolute + i, h));
    // The unit echoes the slot commands; slot 5 held something before.
    const receive = unit.receive.bind(unit);
    unit.receive = (m) => {
        receive(m);
        if (m.substr(12, 2) === '12' && ['7F000200', '7F000300'].includes(m.substr(14, 8))) unit.reply(m);
    };
    const events = [];
    const session = new BackupSession({ native, map, parameter, readWrite, controller, setting, isConnected: () => true, onEvent: (e) => events.push(e) });
    const plan = image.restorePlan();
    const inspected = { ...plan, contents: session.contents(plan.backup) };
    assert.equal(inspected.contents.text, 'system settings, 2 user patches, IR slot 2 "Renamed"');
    assert.deepEqual(inspected.empty, [0, 2, 3, 4, 5, 6, 7, 8, 9, 10]);
    assert.ok(session.restore(inspected, { clearEmpty: true }));
    assert.ok(clock.until(() => !session.busy, 600000));
    assert.equal(events.at(-1).type, 'restored', JSON.stringify(events.at(-1)));
    assert.equal(events.at(-1).cleared.length, 10);

    // The unit's memory holds the edited file, block for block.
    for (const { area } of image.heldAreas()) {
        for (const id of map.areaBlocks(area)) {
            const block = map.block(id);
            const want = image.parameter.paramSet[id];
            assert.deepEqual(want.map((_, i) => unit.memory.get(block.absolute + i)), want, id);
        }
    }
    const delay = map.block('PATCH(2)%DELAY').absolute + 2;
    assert.equal(parseInt(unit.memory.get(delay), 16) * 128 + parseInt(unit.memory.get(delay + 1), 16), 700);
    assert.ok(unit.received.some((m) => m.includes('7F000300') && m.substr(22, 2) === '01'), 'slot 2 taken by the unit');
    const slot1 = nibble(0x31000000);
    const into = (m) => nibble(parseInt(m.substr(14, 8), 16));
    assert.ok(!unit.received.some((m) => m.substr(12, 2) === '12' && into(m) >= slot1 && into(m) < slot1 + nibble(0x01000000)),
        'nothing written into slot 1, which the file holds no data for');
    assert.ok(unit.received.some((m) => m.includes('7F000200') && m.substr(22, 4) === '0000'), 'slot 1 cleared');
    // Parsing the file again gives the areas the restore wrote.
    const reparsed = parseBackup(JSON.stringify(image.toBackup(encrypt)), { map, setting, decrypt });
    assert.deepEqual(reparsed.map((a) => a.area), plan.areas.map((a) => a.area));
});
