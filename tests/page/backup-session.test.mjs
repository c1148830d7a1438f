import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { nibble } from '../../resources/bundle/html/js/link/sysex.js';
import { BackupSession } from '../../resources/bundle/html/js/backup/backup-session.js';
import { planBackup } from '../../resources/bundle/html/js/backup/backup-plan.js';
import { linkedUnit, map } from './helpers/linked-unit.mjs';

function rig() {
    const { clock, native, setting, controller, unit, parameter, readWrite } = linkedUnit();
    for (const [, block] of map.blocks) block.initial.forEach((h, i) => unit.memory.set(block.absolute + i, h));
    // The real file system; a reversible stand-in for the host's AES.
    native.fs = {
        writeString: (path, text) => writeFileSync(path, text, 'utf8'),
        readString: (path) => readFileSync(path, 'utf8'),
    };
    native.security = { aes: { encrypt: (h) => 'AE' + [...h].reverse().join(''), decrypt: (h) => [...h.substring(2)].reverse().join('') } };
    const events = [];
    const session = new BackupSession({
        native, map, parameter, readWrite, controller, setting, isConnected: () => true, onEvent: (e) => events.push(e),
    });
    const settle = () => clock.until(() => !session.busy, 600000);
    // What the user was offered: the slot states as the model has them.
    const offer = () => {
        parameter.store(map.block('IRDATA%STATUS').absolute, [...Array(11)].map((_, k) => unit.memory.get(map.block('IRDATA%STATUS').absolute + k)));
        return planBackup(parameter, setting);
    };
    return { clock, native, unit, parameter, session, events, settle, offer };
}

// Slot k (0-based) holds data: its state, a name and coefficient digits.
function loadSlot(unit, k, name, seed) {
    unit.memory.set(map.block('IRDATA%STATUS').absolute + k, '01');
    const coef = map.block(`IRDATA(${k + 1})%DATA`);
    for (let i = 0; i < coef.size; i++) unit.memory.set(coef.absolute + i, (((i + seed) * 11) % 16).toString(16).toUpperCase().padStart(2, '0'));
    const at = map.block(`IRDATA(${k + 1})%NAME`).absolute;
    [...name].forEach((c, i) => unit.memory.set(at + i, c.charCodeAt(0).toString(16).toUpperCase()));
}

const rq1s = (unit) => unit.received.filter((m) => m.substr(12, 2) === '11');

// The unit's parameter memory (commands written to the command area are
// no part of it).
const snapshot = (unit) => new Map([...unit.memory].filter(([a]) => a < nibble(0x7f000000)));

test('backup, change the unit, restore: the unit memory is as before', (t) => {
    const dir = mkdtempSync(join(tmpdir(), 'kx5-backup-'));
    t.after(() => rmSync(dir, { recursive: true, force: true }));
    const r = rig();
    const status = map.block('IRDATA%STATUS').absolute;
    r.unit.memory.set(status + 2, '01'); // slot 3 loaded
    const coef = map.block('IRDATA(3)%DATA');
    for (let i = 0; i < -(-coef.size); i++) r.unit.memory.set(coef.absolute + i, ((i * 11) % 16).toString(16).toUpperCase().padStart(2, '0'));
    const name = map.block('IRDATA(3)%NAME').absolute;
    [...'Room'].forEach((c, i) => r.unit.memory.set(name + i, c.charCodeAt(0).toString(16).toUpperCase()));
    const patch = map.block('PATCH(2)%AMP').absolute;
    r.unit.memory.set(patch + 2, '55');
    const before = snapshot(r.unit);

    const path = join(dir, 'KX-5.alb');
    assert.ok(r.session.save(path, r.offer()));
    assert.ok(r.settle());
    const saved = r.events.at(-1);
    assert.equal(saved.type, 'saved', JSON.stringify(saved));
    assert.deepEqual(saved.contents.slots, [3]);
    assert.equal(saved.contents.text, 'system settings, 2 user patches, IR slot 3 "Room"');
    const file = JSON.parse(readFileSync(path, 'utf8'));
    assert.equal(file.irData.filter(Boolean).length, 1);
    assert.ok(!JSON.stringify(file).includes('IRDATA%COEF'), 'coefficients only enciphered');
    assert.ok(r.events.some((e) => e.phase === 'read' && e.percent === 100));

    // Change the unit, then restore.
    r.unit.memory.set(patch + 2, '01');
    r.unit.memory.set(name, '58');
    r.unit.memory.set(coef.absolute + 100, '0F');
    const sent = r.unit.received.length;
    const inspected = r.session.inspect(path);
    assert.deepEqual(inspected.empty, [0, 1, 3, 4, 5, 6, 7, 8, 9, 10]);
    assert.ok(r.session.restore(inspected));
    assert.ok(r.settle());
    assert.equal(r.events.at(-1).type, 'restored');
    assert.ok(r.events.some((e) => e.phase === 'verify' && e.percent === 100), 'verified');
    assert.deepEqual(snapshot(r.unit), before);
    assert.equal(r.parameter.get('IRDATA(3)%NAME%0').trimEnd(), 'Room');
    // The restored slot (and only it) is handed over with the set-IR
    // command, after its data.
    const writes = r.unit.received.slice(sent).filter((m) => m.substr(12, 2) === '12');
    const setIr = writes.filter((m) => m.includes('127F000300'));
    assert.equal(setIr.length, 1);
    assert.ok(setIr[0].includes('127F00030002'), setIr[0]);
    assert.equal(writes.at(-1), setIr[0]);
});

test('unreadable and foreign files are refused before anything is sent', (t) => {
    const dir = mkdtempSync(join(tmpdir(), 'kx5-backup-'));
    t.after(() => rmSync(dir, { recursive: true, force: true }));
    const r = rig();
    const sent = r.unit.received.length;
    assert.equal(r.session.inspect(join(dir, 'missing.alb')), null);
    assert.equal(r.events.at(-1).reason, 'fileError');
    const other = join(dir, 'other.alb');
    writeFileSync(other, JSON.stringify({ formatRev: '0000', device: 'KX-7', system: {}, userPatch: [] }));
    assert.equal(r.session.inspect(other), null);
    assert.deepEqual([r.events.at(-1).reason, r.events.at(-1).message], ['unsupported', 'this file is unsupported']);
    r.clock.advance(1000);
    assert.equal(r.unit.received.length, sent);
});

test('a unit that stops answering ends the backup with a time-out and no file', (t) => {
    const dir = mkdtempSync(join(tmpdir(), 'kx5-backup-'));
    t.after(() => rmSync(dir, { recursive: true, force: true }));
    const r = rig();
    r.unit.silent.add(map.block('IRDATA%STATUS').absolute);
    const path = join(dir, 'b.alb');
    r.session.save(path, r.offer());
    assert.ok(r.settle());
    assert.deepEqual(r.events.at(-1), {
        type: 'stopped', kind: 'backup', report: { reason: 'timeout', text: 'Not read yet: everything. Nothing was saved.' },
    });
    assert.throws(() => readFileSync(path));
});

test('a backup the unit interrupted is finished from the same unit, holding exactly what was listed', (t) => {
    const dir = mkdtempSync(join(tmpdir(), 'kx5-backup-'));
    t.after(() => rmSync(dir, { recursive: true, force: true }));
    const r = rig();
    loadSlot(r.unit, 1, 'Zweite Box', 3);
    loadSlot(r.unit, 4, 'Fuenfte', 7);
    const plan = r.offer();
    assert.deepEqual(plan.slots, [1, 4]);
    // The unit stops answering in slot 2's coefficients.
    const first = 1 + r.session.areaTasks(['SYSTEM', 'PATCH(1)', 'PATCH(2)']).tasks.length;
    const answer = r.unit.reply.bind(r.unit);
    let answering = true;
    r.unit.reply = (hex) => { if (answering && rq1s(r.unit).length <= first + 100) answer(hex); };
    const path = join(dir, 'b.alb');
    r.session.save(path, plan);
    assert.ok(r.settle());
    const stopped = r.events.at(-1);
    assert.equal(stopped.type, 'stopped');
    assert.equal(stopped.report.text, 'Read: system settings, user patch 1 and user patch 2. Not read yet: slot 2 and slot 5. Nothing was saved.');
    assert.throws(() => readFileSync(path), 'no file');

    // Back: only what is missing is asked for (after the slot states).
    r.unit.reply = answer;
    const before = rq1s(r.unit).length;
    assert.ok(r.session.resume());
    assert.ok(r.settle());
    assert.equal(r.events.at(-1).type, 'saved', JSON.stringify(r.events.at(-1)));
    const asked = rq1s(r.unit).length - before;
    const slotTasks = r.session.areaTasks(['IRDATA(2)']).tasks.length;
    assert.equal(asked, 1 + 2 * slotTasks - 100, 'the slot states, then the rest of slot 2 and slot 5');
    const file = JSON.parse(readFileSync(path, 'utf8'));
    assert.deepEqual(file.irData.map((s) => !!s), [false, true, false, false, true, false, false, false, false, false, false]);
    assert.equal(r.events.at(-1).contents.text, 'system settings, 2 user patches, IR slots 2 "Zweite Box", 5 "Fuenfte"');
    const coef = file.irData[1]['IRDATA%ENCOEF'];
    assert.equal(r.native.security.aes.decrypt(coef).length, map.block('IRDATA(2)%DATA').size * 2);

    // Interrupted again, and meanwhile a listed slot was cleared: nothing is
    // saved, and the difference is named.
    rmSync(path);
    answering = false;
    r.unit.reply = (hex) => { if (answering) answer(hex); };
    r.session.save(path, plan);
    assert.ok(r.settle());
    answering = true;
    r.unit.reply = answer;
    r.unit.memory.set(map.block('IRDATA%STATUS').absolute + 4, '00');
    assert.ok(r.session.resume());
    assert.ok(r.settle());
    assert.deepEqual(r.events.at(-1), { type: 'changed', path, plan, difference: 'slot 5 is empty now' });
    assert.throws(() => readFileSync(path), 'still no file');
});

test('a restore can clear the slots the backup holds no data for, and resends what the unit lost', (t) => {
    const dir = mkdtempSync(join(tmpdir(), 'kx5-backup-'));
    t.after(() => rmSync(dir, { recursive: true, force: true }));
    const r = rig();
    loadSlot(r.unit, 0, 'Erste', 1);
    const path = join(dir, 'b.alb');
    r.session.save(path, r.offer());
    assert.ok(r.settle());
    assert.equal(r.events.at(-1).type, 'saved');
    // Afterwards slot 4 was loaded too and slot 1 renamed; the restore is
    // to be a snapshot. The first message with slot 1's name is lost.
    loadSlot(r.unit, 3, 'Vierte', 5);
    const slot1Name = map.block('IRDATA(1)%NAME').absolute;
    r.unit.memory.set(slot1Name, '58');
    const initialise = [];
    const peer = r.native.midi.peer;
    let lost = false;
    r.native.midi.peer = (hex) => {
        if (!lost && hex.substr(12, 2) === '12' && hex.substr(14, 8) === '31000000') {
            lost = true;
            return;
        }
        peer(hex);
        if (hex.includes('127F000200')) {
            const k = parseInt(hex.substr(24, 2), 16);
            initialise.push(k);
            for (const part of ['NAME', 'SIZE', 'FILE', 'DATA']) {
                const b = map.block(`IRDATA(${k + 1})%${part}`);
                b.initial.forEach((h, i) => r.unit.memory.set(b.absolute + i, h));
            }
            r.unit.memory.set(map.block('IRDATA%STATUS').absolute + k, '00');
            r.unit.reply(r.unit.dt1(nibble(0x7f000200), hex.substr(22, 4)));
        }
    };
    const inspected = r.session.inspect(path);
    assert.ok(r.session.restore(inspected, { clearEmpty: true }));
    assert.ok(r.settle());
    const done = r.events.at(-1);
    assert.equal(done.type, 'restored', JSON.stringify(done));
    assert.deepEqual(done.cleared, [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]);
    assert.deepEqual(initialise, [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]);
    assert.equal(r.unit.memory.get(map.block('IRDATA(4)%NAME').absolute), '20', 'slot 4 is empty again');
    assert.ok(lost);
    assert.ok(r.events.some((e) => e.phase === 'resend'), 'the lost message went again');
    assert.equal(r.unit.memory.get(slot1Name), '45');
    assert.equal(r.parameter.get('IRDATA(1)%NAME%0').trimEnd(), 'Erste');
});
