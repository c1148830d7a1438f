import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { nibble } from '../../resources/bundle/html/js/link/sysex.js';
import { BackupSession } from '../../resources/bundle/html/js/backup/backup-session.js';
import { linkedUnit, map } from './helpers/linked-unit.mjs';

function rig() {
    const { clock, native, setting, unit, parameter, readWrite } = linkedUnit();
    for (const [, block] of map.blocks) block.initial.forEach((h, i) => unit.memory.set(block.absolute + i, h));
    // The real file system; a reversible stand-in for the host's AES.
    native.fs = {
        writeString: (path, text) => writeFileSync(path, text, 'utf8'),
        readString: (path) => readFileSync(path, 'utf8'),
    };
    native.security = { aes: { encrypt: (h) => 'AE' + [...h].reverse().join(''), decrypt: (h) => [...h.substring(2)].reverse().join('') } };
    const events = [];
    const session = new BackupSession({
        native, map, parameter, readWrite, setting, isConnected: () => true, onEvent: (e) => events.push(e),
    });
    const settle = () => clock.until(() => !session.busy, 600000);
    return { clock, unit, parameter, session, events, settle };
}

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
    assert.ok(r.session.save(path));
    assert.ok(r.settle());
    const saved = r.events.at(-1);
    assert.equal(saved.type, 'saved', JSON.stringify(saved));
    assert.deepEqual(saved.contents.slots, [3]);
    const file = JSON.parse(readFileSync(path, 'utf8'));
    assert.equal(file.irData.filter(Boolean).length, 1);
    assert.ok(!JSON.stringify(file).includes('IRDATA%COEF'), 'coefficients only enciphered');
    assert.ok(r.events.some((e) => e.phase === 'read' && e.percent === 100));

    // Change the unit, then restore.
    r.unit.memory.set(patch + 2, '01');
    r.unit.memory.set(name, '58');
    r.unit.memory.set(coef.absolute + 100, '0F');
    const sent = r.unit.received.length;
    assert.ok(r.session.restore(path));
    assert.ok(r.settle());
    assert.equal(r.events.at(-1).type, 'restored');
    assert.deepEqual(snapshot(r.unit), before);
    assert.equal(r.parameter.get('IRDATA(3)%NAME%0').trimEnd(), 'Room');
    // The restored slot (and only it) is handed over with the set-IR
    // command, after its data.
    const writes = r.unit.received.slice(sent);
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
    assert.equal(r.session.restore(join(dir, 'missing.alb')), false);
    assert.equal(r.events.at(-1).reason, 'fileError');
    const other = join(dir, 'other.alb');
    writeFileSync(other, JSON.stringify({ formatRev: '0000', device: 'KX-7', system: {}, userPatch: [] }));
    assert.equal(r.session.restore(other), false);
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
    r.session.save(path);
    assert.ok(r.settle());
    assert.equal(r.events.at(-1).reason, 'timeout');
    assert.throws(() => readFileSync(path));
});
