import { test } from 'node:test';
import assert from 'node:assert/strict';
import { nameNotice, unitName, unitNameBytes } from '../../resources/bundle/html/js/ir/slot-name.js';

test('accented Latin letters keep their base letter, anything else the unit cannot show is "?"', () => {
    assert.equal(unitName('Brücke').name, 'Brucke');
    assert.equal(unitName('Kabinett Ü').name, 'Kabinett U');
    assert.equal(unitName('[R]Raum Ä rechts').name, '[R]Raum A rechts');
    assert.equal(unitName('Łódź Ørsted Ångström').name, 'Lodz Orsted Angstrom');
    assert.equal(unitName('Grüße').name, 'Gru?e', 'ß is no accented letter');
    assert.equal(unitName('Box 日本').name, 'Box ??');
    assert.equal(unitName('a\tb').name, 'a?b', 'control characters too');
    assert.equal(unitName('e\u0301te\u0301').name, 'ete', 'decomposed accents as well');
    assert.equal(unitName('x\u0308y').name, 'xy', 'an accent without a composed letter is dropped');
    assert.equal(unitName('What? Why!').name, 'What? Why!');
    assert.deepEqual(unitName('What?'), { name: 'What?', cut: false, replaced: 0, folded: false });
});

test('names are cut at 32 characters of the unit name, and say so', () => {
    const long = 'Ü' + 'x'.repeat(40);
    const r = unitName(long);
    assert.equal(r.name, 'U' + 'x'.repeat(31));
    assert.equal(r.cut, true);
    assert.equal(unitName('a'.repeat(32)).cut, false);
    assert.equal(unitName('a'.repeat(32) + '   ').cut, false, 'trailing spaces are padding anyway');
    assert.equal(unitName('a'.repeat(32) + '日').cut, true);
    assert.equal(unitName('a'.repeat(32) + '日').replaced, 0, 'what is cut off is not counted');
    assert.equal(nameNotice('Brücke'), 'accents dropped');
    assert.equal(nameNotice('Cab 4x12'), '');
    assert.match(nameNotice('日本' + 'z'.repeat(40)), /2 characters .* "\?", cut to 32 characters/);
});

test('name bytes: 32 printable ASCII bytes padded with spaces', () => {
    const bytes = unitNameBytes('Brücke 日本');
    assert.equal(bytes.length, 32);
    assert.ok(bytes.every((b) => b >= 0x20 && b < 0x7f));
    assert.equal(String.fromCharCode(...bytes), 'Brucke ??'.padEnd(32, ' '));
    assert.equal(unitNameBytes('x'.repeat(50)).length, 32);
    assert.equal(unitNameBytes('').length, 32);
});
