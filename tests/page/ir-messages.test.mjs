import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createProductSetting } from '../../resources/bundle/html/js/link/product-setting.js';
import { nibble } from '../../resources/bundle/html/js/link/sysex.js';
import {
    COEFFICIENT_WORDS, MAX_DATA_BYTES, buildWriteList, fileNameBytes, nameBytes, slotName, slotStart,
    wordsFromHex,
} from '../../resources/bundle/html/js/ir/ir-messages.js';

const setting = createProductSetting();
const bytesOf = (hex) => hex.match(/../g).map((h) => parseInt(h, 16));
const words = Array.from({ length: COEFFICIENT_WORDS }, (_, i) => (i * 0x9e3779b1) >>> 0);

test('slot names: base name cut to 32 characters, then the channel prefix', () => {
    assert.equal(slotName('/home/u/irs/Cab 4x12.wav', null), 'Cab 4x12');
    assert.equal(slotName('/home/u/irs/Cab 4x12.wav', 0), '[L]Cab 4x12');
    assert.equal(slotName('/home/u/irs/Cab 4x12.wav', 1), '[R]Cab 4x12');
    assert.equal(slotName('/a/' + 'x'.repeat(40) + '.wav', null), 'x'.repeat(32));
    assert.equal(slotName('/a.b/noext', null), 'noext');
    const bytes = nameBytes('[R]Cab');
    assert.equal(bytes.length, 32);
    assert.deepEqual(bytes.slice(0, 7), [0x5b, 0x52, 0x5d, 0x43, 0x61, 0x62, 0x20]);
    assert.ok(nameBytes('Grüße ' + 'y'.repeat(40)).every((b) => b < 0x80), 'no byte ends the message early');
    assert.equal(String.fromCharCode(...nameBytes('Grüße')).trimEnd(), 'Gru?e', 'ü keeps its base letter, ß has none');
});

test('file names are UTF-8 below 128 bytes, shortened by whole characters', () => {
    assert.equal(fileNameBytes('x'.repeat(200)).length, 127);
    assert.equal(fileNameBytes('a'.repeat(127)).length, 127);
    assert.equal(fileNameBytes('a.wav').length, 5);
    // 'é' is two bytes: 64 of them would be 128, so 63 remain.
    const accented = fileNameBytes('é'.repeat(100));
    assert.equal(accented.length, 126);
    assert.equal(new TextDecoder().decode(Uint8Array.from(accented)), 'é'.repeat(63));
    assert.equal(fileNameBytes('😀'.repeat(40)).length, 124);
});

test('coefficient hex is read as little-endian 32-bit words; malformed text is refused', () => {
    assert.deepEqual(wordsFromHex('0000803F' + 'FFFFFFFF' + '01020304'), [0x3f800000, 0xffffffff, 0x04030201]);
    assert.equal(wordsFromHex(''), null);
    assert.equal(wordsFromHex('0000803'), null);
    assert.equal(wordsFromHex('0000803G'), null);
    assert.equal(wordsFromHex(undefined), null);
});

test('the write list of slot 3: name, size, file name, 112 coefficient messages', () => {
    const file = 'x'.repeat(200) + '.wav';
    const list = buildWriteList(setting, 2, { name: '[R]Cab', file, words });
    const step = nibble(0x01000000);
    assert.equal(slotStart(setting, 0x31300000, 2), nibble(0x31300000) + 2 * step);

    const [name, size, ...rest] = list;
    assert.equal(name.address, nibble(0x31000000) + 2 * step);
    assert.equal(bytesOf(name.data).length, 32);
    assert.equal(size.address, nibble(0x31100000) + 2 * step);
    assert.equal(size.data, '0000070F', '127 bytes, one hex digit per data byte');

    const fileMessages = rest.filter((m) => m.address < slotStart(setting, 0x31300000, 2));
    assert.deepEqual(fileMessages.map((m) => bytesOf(m.data).length), [240, 16]);
    assert.equal(fileMessages[1].address, nibble(0x31200000) + 2 * step + 240);
    const fileDigits = fileMessages.flatMap((m) => bytesOf(m.data));
    assert.ok(fileDigits.every((d) => d < 16));
    const fileBytes = [];
    for (let i = 0; i < fileDigits.length; i += 2) fileBytes.push(fileDigits[i] * 16 + fileDigits[i + 1]);
    assert.equal(fileBytes.length, 128);
    assert.deepEqual(fileBytes.slice(0, 127), Array(127).fill(0x78));
    assert.equal(fileBytes[127], 0x20, 'padded with spaces');

    const coef = rest.filter((m) => m.address >= slotStart(setting, 0x31300000, 2));
    assert.equal(coef.length, 112);
    assert.ok(coef.slice(0, 111).every((m) => bytesOf(m.data).length === MAX_DATA_BYTES));
    assert.equal(bytesOf(coef[111].data).length, 24 * 8);
    coef.forEach((m, i) => assert.equal(m.address, slotStart(setting, 0x31300000, 2) + i * 240));
    // The words come back digit by digit, most significant first.
    const digits = coef.flatMap((m) => bytesOf(m.data));
    const back = [];
    for (let i = 0; i < digits.length; i += 8) back.push(parseInt(digits.slice(i, i + 8).map((d) => d.toString(16)).join(''), 16));
    assert.deepEqual(back, words);
});

test('a short file name is padded to 128 entries and its size is its UTF-8 count', () => {
    const list = buildWriteList(setting, 0, { name: 'A', file: 'Grüße.wav', words });
    assert.equal(list[1].data, '0000000B', 'eleven UTF-8 bytes');
    const digits = list.slice(2, 4).flatMap((m) => bytesOf(m.data));
    const bytes = [];
    for (let i = 0; i < digits.length; i += 2) bytes.push(digits[i] * 16 + digits[i + 1]);
    assert.equal(new TextDecoder().decode(Uint8Array.from(bytes.slice(0, 11))), 'Grüße.wav');
    assert.ok(bytes.slice(11).every((b) => b === 0x20));
});
