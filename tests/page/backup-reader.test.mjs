// The backup reader against random and mutated files: whatever a file
// holds, reading it answers the areas to write or "unsupported", and
// nothing else escapes (no TypeError, no RangeError, no hang).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { BackupError, buildBackup, fileKey, parseBackup } from '../../resources/bundle/html/js/backup/backup-format.js';
import { BackupSession } from '../../resources/bundle/html/js/backup/backup-session.js';
import { Parameter } from '../../resources/bundle/html/js/params/parameter.js';
import { createProductSetting } from '../../resources/bundle/html/js/link/product-setting.js';
import { definition, map } from './helpers/linked-unit.mjs';

const setting = createProductSetting(definition);
const encrypt = (hex) => 'AE' + [...hex].reverse().join('');
const decrypt = (hex) => (hex.startsWith('AE') ? [...hex.substring(2)].reverse().join('') : '');

// A small seeded generator, so that a failure names the case that made it.
function random(seed) {
    let s = seed >>> 0;
    const next = () => {
        s = (s + 0x6d2b79f5) >>> 0;
        let t = s;
        t = Math.imul(t ^ (t >>> 15), t | 1);
        t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
        return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
    };
    const int = (n) => Math.floor(next() * n);
    return { next, int, pick: (list) => list[int(list.length)] };
}

// Sound files to start from: no slots, slot 1, every slot (a slot's
// coefficients take the reader ~10 ms, so the last is used sparingly).
const sound = [0, 1, setting.numOfIrData].map((slots) => {
    const p = new Parameter({ map });
    p.set('PATCH(2)%COMMON%0', 'LEAD', false);
    p.set('IRDATA(1)%NAME%0', '[R]Room', false);
    const present = (section, i) => section !== 'irData' || i < slots;
    return JSON.stringify(buildBackup({ map, parameter: p, setting, encrypt, present }));
});

// Keys a hostile file would use: the real ones, and some that are not.
const keys = ['formatRev', 'device', 'system', 'userPatch', 'irData', 'IRDATA%ENCOEF', 'IRDATA%COEF',
    'IRDATA%NAME', 'IRDATA%FILE', 'IRDATA%SIZE', 'PATCH%COMMON', 'PATCH%AMP', 'SYSTEM%COMMON',
    '__proto__', 'constructor', 'toString', 'length', ''];

function randomValue(r, depth = 0) {
    const kinds = depth > 4 ? 6 : 9;
    switch (r.int(kinds)) {
    case 0: return null;
    case 1: return r.next() < 0.5;
    case 2: return r.pick([0, -1, 1e308, -0, 0.5, 2 ** 53, 7]);
    case 3: return r.pick(['', 'KX-5', '0000', '41', '7F', '80', 'ZZ', 'AE4142', 'AE' + '0'.repeat(r.int(40)), '\u0000', '\uD800']);
    case 4: return Array.from({ length: r.int(4) }, () => r.pick(['00', '41', '7f', 'FF', 1, null, '']));
    case 5: return Array(r.next() < 0.05 ? 150000 : r.pick([0, 1, 17, 32, 33, 300])).fill(r.pick(['41', '00', 'G0']));
    case 6: return Array.from({ length: r.int(5) }, () => randomValue(r, depth + 1));
    default: {
        const o = {};
        for (let i = r.int(6); i > 0; i--) o[r.pick(keys)] = randomValue(r, depth + 1);
        return o;
    }
    }
}

// Replaces, deletes or adds one node somewhere in a parsed file.
function mutateTree(r, value) {
    if (value === null || typeof value !== 'object' || r.next() < 0.2) return randomValue(r);
    const container = Array.isArray(value) ? [...value] : { ...value };
    const names = Object.keys(container);
    if (names.length === 0 || r.next() < 0.15) {
        container[Array.isArray(container) ? r.int(30) : r.pick(keys)] = randomValue(r);
        return container;
    }
    const name = r.pick(names);
    if (r.next() < 0.2) delete container[name];
    else container[name] = mutateTree(r, container[name]);
    return container;
}

// Flips, cuts, repeats and inserts characters of the text itself.
function mutateText(r, text) {
    let t = text;
    for (let n = 1 + r.int(4); n > 0; n--) {
        const at = r.int(t.length + 1);
        switch (r.int(5)) {
        case 0: t = t.slice(0, at); break;
        case 1: t = t.slice(0, at) + t.slice(at + 1 + r.int(50)); break;
        case 2: t = t.slice(0, at) + String.fromCharCode(r.int(0x10000)) + t.slice(at + 1); break;
        case 3: t = t.slice(0, at) + t.slice(r.int(t.length), r.int(t.length)) + t.slice(at); break;
        default: t = t.slice(0, at) + r.pick(['{', '}', '[', ']', ',', '"', ':', 'null', '1e999', '\\u0000']) + t.slice(at);
        }
    }
    return t;
}

function* hostileFiles(count) {
    for (let seed = 1; seed <= count; seed++) {
        const r = random(seed);
        const base = sound[seed % 20 < 10 ? 0 : seed % 20 < 19 ? 1 : 2];
        switch (seed % 4) {
        case 0: yield { seed, text: JSON.stringify(mutateTree(r, JSON.parse(base))) }; break;
        case 1: yield { seed, text: mutateText(r, base) }; break;
        case 2: yield { seed, text: JSON.stringify(randomValue(r)) }; break;
        default: yield { seed, text: Array.from({ length: r.int(200) }, () => String.fromCharCode(r.int(256))).join('') };
        }
    }
}

// An answer of the reader is sound: every block of every area at its size,
// data bytes only.
function assertSoundAreas(areas, seed) {
    assert.ok(Array.isArray(areas), `seed ${seed}`);
    for (const { blocks } of areas) {
        for (const [id, data] of blocks) {
            const block = map.block(id);
            if (block.size >= 0) assert.equal(data.length, block.size, `seed ${seed} ${fileKey(id)}`);
            else assert.ok(data.length <= -block.size, `seed ${seed} ${fileKey(id)}`);
            assert.ok(data.every((h) => /^[0-7][0-9A-F]$/.test(h)), `seed ${seed} ${fileKey(id)}`);
        }
    }
}

test('random and mutated files are read or refused with a BackupError, never anything else', () => {
    let refused = 0;
    let read = 0;
    for (const { seed, text } of hostileFiles(800)) {
        let areas;
        try {
            areas = parseBackup(text, { map, setting, decrypt });
        } catch (e) {
            assert.ok(e instanceof BackupError, `seed ${seed}: ${e?.constructor?.name}: ${e?.message}`);
            refused++;
            continue;
        }
        assertSoundAreas(areas, seed);
        read++;
    }
    // Both kinds of answer were exercised.
    assert.ok(refused > 50 && read > 50, `refused ${refused}, read ${read}`);
});

test('a restore offered a hostile file answers its contents or one "unsupported" event', () => {
    let text = '';
    const events = [];
    const session = new BackupSession({
        native: { fs: { readString: () => text }, security: { aes: { encrypt, decrypt } } },
        map, parameter: new Parameter({ map }), setting,
        isConnected: () => true, onEvent: (e) => events.push(e),
    });
    // Two that the random files rarely make: more slots than the unit has,
    // and a slot name far longer than a name.
    const extraSlots = JSON.parse(sound[1]);
    extraSlots.irData.push(...extraSlots.irData.slice(0, 2));
    const longName = JSON.parse(sound[1]);
    longName.irData[0]['IRDATA%NAME'] = Array(200000).fill('41');
    const made = [JSON.stringify(extraSlots), JSON.stringify(longName)].map((t, i) => ({ seed: -i, text: t }));
    for (const { seed, text: t } of [...made, ...hostileFiles(300)]) {
        text = t;
        events.length = 0;
        let inspected;
        assert.doesNotThrow(() => { inspected = session.inspect('/backups/hostile.alb'); }, `seed ${seed}`);
        if (inspected) {
            assert.equal(events.length, 0, `seed ${seed}`);
            assert.equal(typeof inspected.contents.text, 'string', `seed ${seed}`);
            assert.ok(inspected.contents.slots.every((n) => n >= 1 && n <= setting.numOfIrData), `seed ${seed}`);
        } else {
            assert.deepEqual(events.map((e) => [e.type, e.reason]), [['error', 'unsupported']], `seed ${seed}`);
        }
    }
});
