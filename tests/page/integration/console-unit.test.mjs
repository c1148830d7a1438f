// The simulated unit as the program's MIDI layer sees it, through the bridge
// console: in-process on the simulated bus, and standalone on JACK.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { Child, startJackRig } from './jack-rig.mjs';

const { KX5_EDITOR: editor, KX5_SIM: sim, KX5_MIDI_PIPE: pipe } = process.env;
const skip = !(editor && sim && pipe) && 'KX5_EDITOR, KX5_SIM and KX5_MIDI_PIPE not set';

const IDENTITY_REPLY = 'F07E1006027D0502000000010000F7';

// The console with a private home; calls answer one {"r"} line each.
function startConsole(args, env = {}) {
    const home = mkdtempSync(join(tmpdir(), 'kx5-console-'));
    const child = new Child(editor, ['--console', ...args], {
        ...process.env, HOME: home, XDG_CONFIG_HOME: join(home, 'config'),
        XDG_DATA_HOME: join(home, 'data'), XDG_CACHE_HOME: join(home, 'cache'),
        JACK_DEFAULT_SERVER: `kx5-none-${process.pid}`, ...env,
    });
    const results = [];
    let seen = 0;
    const call = async (...line) => {
        child.proc.stdin.write(JSON.stringify(line) + '\n');
        // "wait" answers nothing: the console runs its loop and prints events.
        if (line[0] === 'wait') return new Promise((res) => setTimeout(res, line[1] + 50));
        for (let waited = 0; ; waited += 5) {
            if (waited > 20000 || !child.running()) throw new Error(`no answer to ${line[0]}: ${child.stderr}`);
            const r = child.lines.slice(seen).findIndex((l) => l.startsWith('{"r":'));
            if (r >= 0) {
                seen += r + 1;
                const v = JSON.parse(child.lines[seen - 1]).r;
                results.push(v);
                return v;
            }
            await new Promise((res) => setTimeout(res, 5));
        }
    };
    const events = () => child.lines.filter((l) => l.startsWith('{"e":')).map((l) => JSON.parse(l).e.split('\f'));
    const stop = async () => {
        await child.stop({ closeInput: true, graceMs: 10000 });
        rmSync(home, { recursive: true, force: true });
    };
    return { child, call, events, stop, home };
}

const records = (result) => JSON.parse(result.substring(1));

test('an identity request sent with $$midi_send to the in-process unit is answered', { skip, timeout: 60000 }, async () => {
    const dumpDir = mkdtempSync(join(tmpdir(), 'kx5-dump-'));
    const dump = join(dumpDir, 'unit.json');
    const c = startConsole(['--midi-api=jack', '--simulated-unit-dump', dump]);
    try {
        const ins = records(await c.call('$$midi_inendpoints'));
        const outs = records(await c.call('$$midi_outendpoints'));
        const input = ins.find((r) => r.MIDIDeviceNameKey === 'KX-5 (simulated)');
        const output = outs.find((r) => r.MIDIEntityNameKey === input?.MIDIEntityNameKey);
        assert.ok(input && output, JSON.stringify({ ins, outs }));
        assert.equal(await c.call('$$midi_inconnect', JSON.stringify(input)), 'v');
        assert.equal(await c.call('$$midi_outconnect', JSON.stringify(output)), 'v');
        await c.call('$$midi_send', 'F07E7F0601F7');
        // Name of slot 1 set to "A", then read back.
        await c.call('$$midi_send', 'F07D10004B051231000000410EF7');
        await c.call('$$midi_send', 'F07D10004B05113100000000000001' + '4E' + 'F7');
        await c.call('wait', 500);
        const messages = c.events().filter((e) => e[0] === 'midi' && e[1] === 'message').map((e) => e[2]);
        assert.deepEqual(messages, [IDENTITY_REPLY, 'F07D10004B051231000000410EF7']);
    } finally {
        await c.stop();
    }
    const unit = JSON.parse(readFileSync(dump, 'utf8'));
    assert.ok(unit.blocks['IRDATA(1)%NAME'].startsWith('41202020'));
    rmSync(dumpDir, { recursive: true, force: true });

    const off = startConsole(['--midi-api=jack', '--no-simulated-unit']);
    try {
        assert.equal(await off.call('$$midi_inendpoints'), 's[]');
    } finally {
        await off.stop();
    }
});

test('the standalone unit on JACK is listed as a pair and answers through the program', { skip, timeout: 60000 }, async () => {
    const rig = await startJackRig({ sim, pipe });
    const c = startConsole(['--midi-api=jack', '--no-simulated-unit'], { JACK_DEFAULT_SERVER: rig.server });
    try {
        const ins = records(await c.call('$$midi_inendpoints'));
        const outs = records(await c.call('$$midi_outendpoints'));
        const input = ins.find((r) => r.MIDIDeviceNameKey === 'KX-5 Sim');
        const output = outs.find((r) => r.MIDIEntityNameKey === input?.MIDIEntityNameKey);
        assert.ok(input && output, JSON.stringify({ ins, outs }));
        await c.call('$$midi_inconnect', JSON.stringify(input));
        await c.call('$$midi_outconnect', JSON.stringify(output));
        await c.call('$$midi_send', 'F07E7F0601F7');
        for (let i = 0; i < 40 && !c.events().some((e) => e[2] === IDENTITY_REPLY); i++) await c.call('wait', 100);
        assert.ok(c.events().some((e) => e[0] === 'midi' && e[1] === 'message' && e[2] === IDENTITY_REPLY),
            JSON.stringify(c.events()));
    } finally {
        await c.stop();
        await rig.stop();
    }
});
