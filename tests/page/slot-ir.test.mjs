// A click on a loaded slot shows its IR: the coefficients the editor holds
// from the last load, otherwise read back from the unit (once), never while
// a transfer runs, and what the unit holds after someone else wrote it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { SlotIr } from '../../resources/bundle/html/js/ir/slot-ir.js';
import { COEFFICIENT_WORDS, slotStart } from '../../resources/bundle/html/js/ir/ir-messages.js';
import { impulseFromWords } from '../../resources/bundle/html/js/ir/coefficient-response.js';
import { linkedUnit } from './helpers/linked-unit.mjs';

// Words that decode to taps: value (float bits), then the tap positions.
function slotWords(seed) {
    const f = new Float32Array(1);
    const u = new Uint32Array(f.buffer);
    const words = new Array(COEFFICIENT_WORDS).fill(0);
    for (let i = 0; i < 40; i++) {
        f[0] = ((seed * 31 + i * 17) % 97) / 200 - 0.2;
        words[i] = u[0];
        f[0] = (i * 3) / 16384;
        words[1640 + i] = u[0];
    }
    return words;
}

const digitsOf = (words) => words.flatMap((w) => w.toString(16).padStart(8, '0').split('').map((d) => `0${d}`));

function rig() {
    const r = linkedUnit();
    let free = true;
    const slotIr = new SlotIr({ parameter: r.parameter, readWrite: r.readWrite, isConnected: () => true, isFree: () => free });
    const putInUnit = (k, words) => {
        const at = slotStart(r.setting, r.setting.irDataCoefAddr, k);
        digitsOf(words).forEach((b, i) => r.unit.memory.set(at + i, b));
    };
    const drive = async (promise) => {
        let done = false;
        promise.then(() => { done = true; });
        for (let t = 0; t < 120000 && !done; t += 10) {
            r.clock.advance(10);
            await new Promise((res) => setImmediate(res));
        }
        return promise;
    };
    return { ...r, slotIr, putInUnit, drive, setFree: (f) => { free = f; } };
}

test('a loaded slot is read back from the unit once; the words the editor holds come first', async () => {
    const r = rig();
    assert.equal(impulseFromWords(slotWords(1))?.length > 0, true, 'the test words decode');
    assert.equal(await r.slotIr.get(2), null, 'an empty slot holds nothing to show');

    r.parameter.set('IRDATA%STATUS%2', 1, false);
    r.putInUnit(2, slotWords(1));
    const read = await r.drive(r.slotIr.get(2));
    assert.equal(read.origin, 'unit');
    assert.deepEqual(read.words, slotWords(1));
    const sent = r.unit.received?.length;
    const again = await r.slotIr.get(2);
    assert.equal(again.origin, 'unit', 'kept, not read again');
    assert.equal(r.unit.received?.length, sent);

    // What a load writes is the editor's own: shown as the load wrote it.
    r.parameter.set('IRDATA%STATUS%4', 1, false);
    r.parameter.paramSet['IRDATA(5)%DATA'] = digitsOf(slotWords(2));
    const loaded = await r.slotIr.get(4);
    assert.equal(loaded.origin, 'load');
    assert.deepEqual(loaded.words, slotWords(2));
});

test('nothing is read while a transfer runs or without a unit', async () => {
    const r = rig();
    r.parameter.set('IRDATA%STATUS%0', 1, false);
    r.putInUnit(0, slotWords(3));
    r.setFree(false);
    assert.equal(await r.slotIr.get(0), null);
    r.setFree(true);
    const off = new SlotIr({ parameter: r.parameter, readWrite: r.readWrite, isConnected: () => false, isFree: () => true });
    assert.equal(await off.get(0), null);
    // Two clicks during one read share it.
    const a = r.slotIr.get(0);
    const b = r.slotIr.get(0);
    assert.equal(a, b);
    assert.deepEqual((await r.drive(a)).words, slotWords(3));
});
