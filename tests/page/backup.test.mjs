import { test } from 'node:test';
import assert from 'node:assert/strict';
import { AddressMap, loadAddressMapDefinition } from '../../resources/bundle/html/js/params/address-map.js';
import { Parameter } from '../../resources/bundle/html/js/params/parameter.js';
import { createProductSetting } from '../../resources/bundle/html/js/link/product-setting.js';
import {
    BackupError, ENCOEF_KEY, buildBackup, describeBackup, fileKey, parseBackup, restoreTasks,
} from '../../resources/bundle/html/js/backup/backup-format.js';
import { defaultBackupName, describeSlots, planDifference } from '../../resources/bundle/html/js/backup/backup-plan.js';

const definition = await loadAddressMapDefinition();
const map = new AddressMap(definition);
const setting = createProductSetting(definition);
// Stand-in for the host's AES with the default key: reversible, and the
// cipher text never equals the plain text.
const encrypt = (hex) => 'AE' + [...hex].reverse().join('');
const decrypt = (hex) => (hex.startsWith('AE') ? [...hex.substring(2)].reverse().join('') : '');

function filledParameter() {
    const p = new Parameter({ map });
    p.set('SYSTEM%COMMON%0', 3, false);
    p.set('PATCH(2)%COMMON%0', 'LEAD', false);
    p.set('IRDATA(1)%NAME%0', '[R]Room', false);
    p.setdata('IRDATA(1)%DATA', p.paramSet['IRDATA(1)%DATA'].map((_, i) => ((i * 5) % 16).toString(16).toUpperCase().padStart(2, '0')));
    return p;
}

test('a backup holds system, both user patches and the slots, coefficients enciphered', () => {
    const p = filledParameter();
    const present = (section, i) => section !== 'irData' || i === 0;
    const backup = buildBackup({ map, parameter: p, setting, encrypt, present });
    assert.equal(backup.formatRev, '0000');
    assert.equal(backup.device, 'KX-5');
    assert.equal(backup.userPatch.length, 2);
    assert.equal(backup.irData.length, 11);
    assert.deepEqual(backup.irData.slice(1), Array(10).fill(null));
    assert.deepEqual(Object.keys(backup.irData[0]).sort(), ['IRDATA%ENCOEF', 'IRDATA%FILE', 'IRDATA%NAME', 'IRDATA%SIZE']);
    assert.equal(backup.irData[0][ENCOEF_KEY], encrypt(p.paramSet['IRDATA(1)%DATA'].join('')));
    assert.deepEqual(backup.system['SYSTEM%COMMON'], p.paramSet['SYSTEM%COMMON']);
    assert.deepEqual(backup.userPatch[1]['PATCH%COMMON'], p.paramSet['PATCH(2)%COMMON']);
    assert.equal(fileKey('IRDATA(11)%DATA'), 'IRDATA%COEF');
    assert.match(describeBackup(backup).text, /system settings, 2 user patches, IR slot 1$/);
    assert.throws(() => buildBackup({ map, parameter: p, setting, encrypt: () => '' }), BackupError);
});

test('restore gives back every block, null slots write nothing', () => {
    const p = filledParameter();
    const present = (section, i) => section !== 'irData' || i === 0;
    const text = JSON.stringify(buildBackup({ map, parameter: p, setting, encrypt, present }));
    const areas = parseBackup(text, { map, setting, decrypt });
    assert.deepEqual(areas.map((a) => a.area), ['SYSTEM', 'PATCH(1)', 'PATCH(2)', 'IRDATA(1)']);
    for (const { blocks } of areas) {
        for (const [id, data] of blocks) assert.deepEqual(data, p.paramSet[id], id);
    }
    const tasks = restoreTasks(map, areas);
    assert.ok(tasks.every((t) => t.data.length <= 480));
    const slot2 = map.block('IRDATA(2)%NAME').absolute;
    assert.ok(!tasks.some((t) => t.address >= slot2), 'nothing goes to the null slots');
    const coef = tasks.filter((t) => t.address >= map.block('IRDATA(1)%DATA').absolute);
    assert.equal(coef.length, Math.ceil((3354 * 8) / 240));
});

test('format test: other products, missing keys and broken text are refused', () => {
    const good = buildBackup({ map, parameter: filledParameter(), setting, encrypt });
    const refuse = (text) => assert.throws(() => parseBackup(text, { map, setting, decrypt }), /this file is unsupported/);
    refuse('not json');
    refuse('[]');
    refuse('null');
    refuse(JSON.stringify({ ...good, device: 'KX-7' }));
    for (const key of ['formatRev', 'device', 'system', 'userPatch']) {
        const copy = { ...good };
        delete copy[key];
        refuse(JSON.stringify(copy));
    }
    refuse(JSON.stringify({ ...good, irData: [{ [ENCOEF_KEY]: 'garbage' }] }));
    refuse(JSON.stringify({ ...good, irData: 'x' }));
    // Any revision is accepted alike.
    assert.ok(parseBackup(JSON.stringify({ ...good, formatRev: '0107' }), { map, setting, decrypt }).length > 0);
    // A data byte that would break a message is refused, not sent.
    const bad = structuredClone(good);
    bad.system['SYSTEM%COMMON'][0] = '80';
    assert.throws(() => parseBackup(JSON.stringify(bad), { map, setting, decrypt }), /not data bytes/);
});

test('blocks are fitted: missing -> initial, short -> initial tail, long -> cut; absent sections skipped', () => {
    const p = new Parameter({ map });
    const backup = { formatRev: '0000', device: 'KX-5', system: {}, userPatch: [] };
    const common = map.block('SYSTEM%COMMON');
    const init = common.initial;
    backup.system['SYSTEM%COMMON'] = ['7F'];
    backup.system['SYSTEM%INPUT'] = Array(500).fill('01');
    backup.userPatch = [null, { 'PATCH%MEMO': ['00', '03', '00', '00', '41', '42', '43'] }];
    const areas = parseBackup(JSON.stringify(backup), { map, setting, decrypt });
    assert.deepEqual(areas.map((a) => a.area), ['SYSTEM', 'PATCH(2)']);
    const system = areas[0].blocks;
    assert.deepEqual(system.get('SYSTEM%COMMON'), ['7F', ...init.slice(1)]);
    assert.equal(system.get('SYSTEM%INPUT').length, map.block('SYSTEM%INPUT').size);
    assert.deepEqual(system.get('SYSTEM%OUTPUT'), p.paramSet['SYSTEM%OUTPUT']);
    const patch = areas[1].blocks;
    assert.deepEqual(patch.get('PATCH(2)%MEMO'), ['00', '03', '00', '00', '41', '42', '43']);
    assert.deepEqual(patch.get('PATCH(2)%COMMON'), map.block('PATCH(2)%COMMON').initial);
});

test('backup plans: the slots by name, what changed, a default name that carries date and time', () => {
    assert.equal(describeSlots([]), 'no IR slots');
    assert.equal(describeSlots([1], { 1: 'Zweite Box' }), 'IR slot 2 "Zweite Box"');
    assert.equal(describeSlots([0, 4], { 0: 'A' }), 'IR slots 1 "A", 5');
    assert.equal(planDifference({ slots: [1, 4] }, [1, 4]), '');
    assert.equal(planDifference({ slots: [1, 4] }, [4, 6, 7]), 'slot 2 is empty now, slots 7, 8 hold data now');
    const name = defaultBackupName('KX-5', new Date(2025, 0, 31, 9, 5, 7));
    assert.equal(name, 'KX-5 2025-01-31 09-05-07');
    assert.notEqual(defaultBackupName('KX-5', new Date(2025, 0, 31, 9, 5, 8)), name, 'a second later, another name');
    assert.ok(!/[:/\\]/.test(name), 'nothing a file name cannot hold');
});
