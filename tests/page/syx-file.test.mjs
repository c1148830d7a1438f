import { test } from 'node:test';
import assert from 'node:assert/strict';
import { MAX_SYX_BYTES, SyxError, areaMessages, parsePatchFile, patchImage, splitMessages, syxHex } from '../../resources/bundle/html/js/patch/syx-file.js';
import { PatchTransfer } from '../../resources/bundle/html/js/patch/patch-transfer.js';
import { checksum, dt1Message, hexToBytes, bytesToHex, rq1Message } from '../../resources/bundle/html/js/link/sysex.js';
import { linkedUnit, map } from './helpers/linked-unit.mjs';

// A patch as a user makes one: a name, a few values, a memo.
function tone(parameter, area = 'PATCH(2)') {
    parameter.set(`${area}%COMMON%0`, 'Crunch Lead'.padEnd(16, ' '), false);
    parameter.set(`${area}%AMP%1`, 9, false);
    parameter.set(`${area}%AMP%2`, 104, false);
    parameter.set(`${area}%DELAY%2`, 480, false);
    const memo = [...'for the gig'].map((c) => c.charCodeAt(0).toString(16).toUpperCase());
    const n = memo.length;
    parameter.setdata(`${area}%MEMO`, [(n & 0xf), (n >> 4) & 0xf, 0, 0].map((d) => `0${d.toString(16).toUpperCase()}`).concat(memo));
}

function patchFile(area = 'PATCH(2)') {
    const { parameter, setting } = linkedUnit();
    tone(parameter, area);
    return { hex: syxHex(setting, areaMessages(map, parameter, area)), parameter, setting };
}

// Runs the fake clock until an operation's promise has settled.
async function finished(clock, promise, limit = 120000) {
    let result = null;
    promise.then((r) => { result = r; });
    for (let t = 0; t < limit && result === null; t += 10) {
        clock.advance(10);
        await null;
    }
    return result;
}

// The messages of a file, as hex texts.
const frames = (hex) => splitMessages(hexToBytes(hex)).map((m) => bytesToHex(m.bytes));

const refused = (hex, setting, pattern) => {
    assert.throws(() => parsePatchFile(hex, { map, setting }), (e) => e instanceof SyxError && pattern.test(e.message), pattern.toString());
};

test('a patch file holds the DT1 messages of its patch and reads back to the same blocks', () => {
    const { hex, parameter, setting } = patchFile();
    const bytes = hexToBytes(hex);
    assert.equal(bytes.filter((b) => b === 0xf0).length, map.areaBlocks('PATCH(2)').length, 'one message per block');
    const parsed = parsePatchFile(hex, { map, setting });
    assert.equal(parsed.area, 'PATCH(2)');
    assert.equal(parsed.name, 'Crunch Lead');
    for (const [id, data] of patchImage(parsed, 'PATCH(2)')) assert.deepEqual(data, parameter.paramSet[id], id);
    // Relocated: the same patch as the patch being edited.
    const edited = patchImage(parsed, 'PATCH');
    assert.deepEqual(edited.get('PATCH%AMP'), parameter.paramSet['PATCH(2)%AMP']);
    // A file sent by any SysEx tool writes the unit's memory the same way.
    const { unit, native } = linkedUnit();
    for (const m of frames(hex)) native.midi.send(m);
    for (const id of map.areaBlocks('PATCH(2)')) {
        const block = map.block(id);
        const held = parameter.paramSet[id].map((_, i) => unit.memory.get(block.absolute + i));
        assert.deepEqual(held, parameter.paramSet[id], id);
    }
    // Messages may come in any order and split a block in two.
    const amp = map.block('PATCH(2)%AMP');
    const ampData = parameter.paramSet['PATCH(2)%AMP'];
    const split = [dt1Message(setting, amp.absolute + 5, ampData.slice(5).join('')), dt1Message(setting, amp.absolute, ampData.slice(0, 5).join(''))];
    const others = frames(hex).filter((m) => !m.startsWith(dt1Message(setting, amp.absolute, '').slice(0, 20)));
    assert.equal(parsePatchFile([...split, ...others.reverse()].join(''), { map, setting }).blocks.get('AMP').join(), ampData.join());
});

test('hostile and foreign files are refused with the reason, never half read', () => {
    const { hex, setting } = patchFile();
    const messages = frames(hex);
    const common = map.block('PATCH(2)%COMMON');
    refused('', setting, /empty/);
    refused('4D546864000000060001', setting, /outside any message: this is not a SysEx file/);
    refused(hex.slice(0, -2), setting, /cut short/);
    refused(hex.slice(0, 20) + '90' + hex.slice(22), setting, /no data byte/);
    refused(messages.map((m) => `F041${m.slice(4)}`).join(''), setting, /another maker \(41\)/);
    refused(messages.map((m) => `F07D10004B06${m.slice(12)}`).join(''), setting, /another model/);
    refused(rq1Message(setting, common.absolute, 16) + hex, setting, /not a data message \(DT1\) but command 11/);
    const flipped = messages[1].slice(0, 30) + (messages[1][30] === '0' ? '1' : '0') + messages[1].slice(31);
    refused([messages[0], flipped, ...messages.slice(2)].join(''), setting, /message 2 has a wrong checksum/);
    refused(hex + dt1Message(setting, map.block('SYSTEM%COMMON').absolute, '05'), setting, /outside the patch area \(SYSTEM%COMMON\)/);
    refused(hex + dt1Message(setting, map.block('PATCH(1)%AMP').absolute, '01'), setting, /into PATCH\(1\).*one patch/);
    refused(hex + dt1Message(setting, common.absolute + common.size - 1, '2020'), setting, /runs past the end of block COMMON/);
    refused(messages.filter((_, i) => i !== 2).join(''), setting, /AMP is missing or incomplete/);
    refused(hex + dt1Message(setting, map.block('PATCH(2)%AMP').absolute + 1, '7F'), setting, /AMP TYPE is 127, outside 0…23/);
    refused(hex + dt1Message(setting, common.absolute, '01'), setting, /COMMON NAME holds characters that are not text/);
    refused(hex + dt1Message(setting, map.block('PATCH(2)%MEMO').absolute, '0F000000'), setting, /MEMO does not say its own length/);
    refused('F0'.padEnd((MAX_SYX_BYTES + 1) * 2, '00'), setting, /larger than 64 KiB/);
    refused('F0 7D', setting, /could not be read as bytes/);
});

test('no mutation of a patch file ends in anything but its contents or a SyxError', () => {
    const { hex, setting } = patchFile();
    const bytes = hexToBytes(hex);
    let seed = 7;
    const random = (n) => {
        seed = (seed * 1103515245 + 12345) & 0x7fffffff;
        return seed % n;
    };
    let accepted = 0;
    for (let round = 0; round < 400; round++) {
        const copy = [...bytes];
        const kind = random(4);
        const at = random(copy.length);
        if (kind === 0) copy[at] = random(256);
        else if (kind === 1) copy.splice(at, 1 + random(8));
        else if (kind === 2) copy.splice(at, 0, ...Array.from({ length: 1 + random(8) }, () => random(256)));
        else copy.splice(at, copy.length);
        // A flipped data byte with its checksum mended reaches the value tests.
        let mutated = bytesToHex(copy);
        if (kind === 0 && round % 2 === 0) mutated = mutated.replace(/F07D10004B0512([0-9A-F]*?)([0-9A-F]{2})F7/g, (m, body) => `F07D10004B0512${body}${checksum(body)}F7`);
        try {
            const parsed = parsePatchFile(mutated, { map, setting });
            accepted++;
            assert.equal(parsed.blocks.size, map.areaBlocks(parsed.area).length);
        } catch (e) {
            assert.ok(e instanceof SyxError, `round ${round}: ${e.stack}`);
        }
    }
    assert.ok(accepted < 400);
});

test('a patch file loaded into a user patch is written, read back and proved; a lost message is sent again', async () => {
    const { hex, setting } = patchFile();
    const parsed = parsePatchFile(hex, { map, setting });
    const { clock, parameter, readWrite, controller, unit } = linkedUnit();
    for (const [, block] of map.blocks) block.initial.forEach((h, i) => unit.memory.set(block.absolute + i, h));
    // The unit loses the first DT1 into the amp block.
    const receive = unit.receive.bind(unit);
    const amp = map.block('PATCH(1)%AMP').absolute;
    let lost = 0;
    unit.receive = (m) => {
        if (!lost && m.startsWith(dt1Message(setting, amp, '').slice(0, 22))) {
            lost++;
            unit.received.push(m);
            return;
        }
        receive(m);
    };
    const transfer = new PatchTransfer({ map, parameter, readWrite, controller, isConnected: () => true });
    let result = await finished(clock, transfer.load(patchImage(parsed, 'PATCH(1)'), 'PATCH(1)'));
    assert.deepEqual(result, { ok: true, resent: 1 });
    assert.equal(lost, 1);
    for (const [name, data] of parsed.blocks) {
        const block = map.block(`PATCH(1)%${name}`);
        assert.deepEqual(data.map((_, i) => unit.memory.get(block.absolute + i)), data, name);
        assert.deepEqual(parameter.paramSet[block.id], data, `${name} in the model`);
    }
    // Swapped: each user patch holds what the other held.
    const before1 = map.areaBlocks('PATCH(1)').map((id) => parameter.paramSet[id].join(''));
    const before2 = map.areaBlocks('PATCH(2)').map((id) => parameter.paramSet[id].join(''));
    result = await finished(clock, transfer.swap('PATCH(1)', 'PATCH(2)'));
    assert.equal(result.ok, true);
    assert.deepEqual(map.areaBlocks('PATCH(2)').map((id) => parameter.paramSet[id].join('')), before1);
    assert.deepEqual(map.areaBlocks('PATCH(1)').map((id) => parameter.paramSet[id].join('')), before2);
});
