// The page's link and parameter code against the standalone simulated unit
// over a private JACK server: both ends must agree on framing, pacing,
// addressing and the stored bytes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { MIDIController } from '../../../resources/bundle/html/js/link/midi-controller.js';
import { createProductSetting } from '../../../resources/bundle/html/js/link/product-setting.js';
import { Outcome, UnitConnection } from '../../../resources/bundle/html/js/link/unit-connection.js';
import { dt1Message, hex8, nibble } from '../../../resources/bundle/html/js/link/sysex.js';
import { AddressMap, loadAddressMapDefinition } from '../../../resources/bundle/html/js/params/address-map.js';
import { Parameter } from '../../../resources/bundle/html/js/params/parameter.js';
import { ReadWriteLogic } from '../../../resources/bundle/html/js/params/read-write-logic.js';
import { pipeNative, startJackRig } from './jack-rig.mjs';

const { KX5_SIM: sim, KX5_MIDI_PIPE: pipe } = process.env;
const skip = !(sim && pipe) && 'KX5_SIM and KX5_MIDI_PIPE not set';

const definition = await loadAddressMapDefinition();
const map = new AddressMap(definition);

function run(logic, start) {
    return new Promise((resolve, reject) => {
        const o = (s) => {
            if (s === 'end') { logic.removeObserver(o); resolve(); }
            if (s === 'timeout') { logic.removeObserver(o); reject(new Error('timeout')); }
        };
        logic.addObserver(o);
        start();
    });
}

function readTasks(parameter, ids) {
    const tasks = [];
    for (const id of ids) {
        const { address, sizes } = parameter.getblock(id);
        let at = address;
        for (const size of sizes) { tasks.push({ address: at, size }); at += Math.abs(size); }
    }
    return tasks;
}

// Name, file-name size, file name and coefficients of one slot as DT1 tasks
// of at most 240 data bytes, the way the slot loader writes them.
function slotWrite(slot, name, fileName, words) {
    const base = nibble(0x31000000) + slot * nibble(0x01000000);
    const digits = (v, n) => v.toString(16).toUpperCase().padStart(n, '0').split('').map((d) => '0' + d).join('');
    const tasks = [];
    let nameHex = '';
    for (let i = 0; i < 32; i++) nameHex += hex8(i < name.length ? name.charCodeAt(i) & 0x7f : 0x20);
    tasks.push({ address: base, data: nameHex });
    const fileBytes = [...Buffer.from(fileName, 'utf8')];
    tasks.push({ address: base + nibble(0x00100000), data: digits(fileBytes.length, 4) });
    const entries = (list, per, width, area) => {
        for (let i = 0; i < list.length; i += per) {
            const data = list.slice(i, i + per).map((v) => digits(v, width)).join('');
            tasks.push({ address: base + nibble(area) + i * width, data });
        }
    };
    while (fileBytes.length < 128) fileBytes.push(0x20);
    entries(fileBytes, 120, 2, 0x00200000);
    entries(words, 30, 8, 0x00300000);
    return tasks;
}

test('connect, write a slot, read it back, and no message lost on the way', { skip, timeout: 180000 }, async () => {
    const rig = await startJackRig({ sim, pipe, simArgs: ['--verbose'] });
    let controller = null;
    try {
        const native = pipeNative(rig.pipe);
        const setting = createProductSetting(definition);
        controller = new MIDIController({ native, setting });
        controller.start();
        const parameter = new Parameter({ map, controller });
        const logic = new ReadWriteLogic({ controller });
        let ports = 0;
        const connection = new UnitConnection({
            controller, setting, ports: { disconnect: () => { ports++; } },
            synchronize: () => run(logic, () => logic.readStart(readTasks(parameter, [
                ...map.areaBlocks('SETUP'), ...map.areaBlocks('SYSTEM'), ...map.areaBlocks('IRDATA')]))),
        });
        const result = await connection.connect();
        assert.equal(result.outcome, Outcome.connected);
        assert.equal(setting.deviceId, '10');
        assert.equal(parameter.get('SYSTEM%COMMON%5'), 440);

        // An edit goes out as one DT1 and lands in the unit.
        parameter.set('SYSTEM%MIDI%0', 10);

        const slot = 2;
        const words = Array.from({ length: 3354 }, (_, i) => {
            const f = new Float32Array([Math.sin(i / 7) * Math.exp(-i / 800)]);
            return new Uint32Array(f.buffer)[0];
        });
        const tasks = slotWrite(slot, '[R]Greenback 4x12', 'Greenback 4x12 é.wav', words);
        assert.equal(tasks.length, 2 + 2 + 112);
        await run(logic, () => logic.writeStart(tasks, {
            endWait: 300,
            closing: (c) => c.dt1(nibble(0x7f000300), hex8(slot)),
        }));
        // The unit reports the slot state with a DT1 of its own.
        assert.equal(parameter.get(`IRDATA%STATUS%${slot}`), 1);

        const id = `IRDATA(${slot + 1})`;
        await run(logic, () => logic.readStart(readTasks(parameter, [`${id}%NAME`, `${id}%SIZE`, `${id}%FILE`, `${id}%DATA`])));
        assert.equal(parameter.get(`${id}%NAME%0`), '[R]Greenback 4x12               ');
        assert.equal(parameter.get(`${id}%SIZE%0`), 21);
        for (const i of [0, 1, 1000, 3353]) assert.equal(parameter.get(`${id}%DATA%${i * 8}`), words[i], `word ${i}`);

        rig.sim.proc.kill('SIGUSR1');
        await rig.sim.waitFor(/^dump /);
        const dump = JSON.parse(readFileSync(rig.dump, 'utf8'));
        assert.equal(dump.stats.overruns, 0, 'paced traffic is never lost');
        assert.equal(dump.stats.badChecksums, 0);
        assert.equal(dump.communicationMode, true);
        assert.equal(dump.blocks[`${id}%DATA`], parameter.paramSet[`${id}%DATA`].join(''));
        assert.equal(dump.blocks[`${id}%FILE`], parameter.paramSet[`${id}%FILE`].join(''));
        assert.equal(dump.blocks['SYSTEM%MIDI'].substr(0, 2), '09');
        assert.equal(dump.blocks['IRDATA(1)%DATA'], map.block('IRDATA(1)%DATA').initial.join(''));

        // The same messages without pacing overrun the unit's input.
        const burst = dt1Message(setting, nibble(0x3b300000), '01'.repeat(240));
        for (let i = 0; i < 40; i++) native.midi.send(burst);
        controller.sendNow(dt1Message(setting, nibble(0x7f000001), '00'));
        await new Promise((r) => setTimeout(r, 500));
        controller.stop();
        await rig.sim.stop();
        const after = JSON.parse(readFileSync(rig.dump, 'utf8'));
        assert.ok(after.stats.overruns > 0, `overruns ${after.stats.overruns}`);
        assert.equal(after.communicationMode, false);
    } catch (e) {
        // What each end saw last, for the log.
        console.error('unit:', rig.sim.lines.slice(-12).join('\n'));
        console.error('pipe:', rig.pipe.lines.slice(-4).map((l) => l.slice(0, 60)).join('\n'));
        console.error('jackd:', rig.jackd.lines.slice(-6).join('\n'), rig.jackd.stderr.slice(-400));
        console.error('pending:', JSON.stringify(controller?.pending.map((p) => p.address)));
        throw e;
    } finally {
        controller?.stop();
        await rig.stop();
    }
});

test('a unit that answers as another model, or at a newer level, is refused', { skip, timeout: 120000 }, async () => {
    for (const [args, outcome] of [[['--wrong-device'], Outcome.wrongDevice], [['--level', '1'], Outcome.applicationTooOld]]) {
        const rig = await startJackRig({ sim, pipe, simArgs: args });
        const native = pipeNative(rig.pipe);
        const setting = createProductSetting(definition);
        setting.timeout = 2; // keeps the refused case short
        const controller = new MIDIController({ native, setting });
        try {
            controller.start();
            const result = await new UnitConnection({ controller, setting, ports: { disconnect() {} } }).connect();
            assert.equal(result.outcome, outcome, args.join(' '));
        } finally {
            controller.stop();
            await rig.stop();
        }
    }
});
