import { test } from 'node:test';
import assert from 'node:assert/strict';
import { MIDIController } from '../../resources/bundle/html/js/link/midi-controller.js';
import { createProductSetting } from '../../resources/bundle/html/js/link/product-setting.js';
import {
    Outcome, UnitConnection, identityFamily, isIdentityReply,
} from '../../resources/bundle/html/js/link/unit-connection.js';
import {
    PortOutcome, PortPairing, entityKey, firstStartCandidate, pairedOutput,
} from '../../resources/bundle/html/js/link/port-pairing.js';
import { FakeClock } from './helpers/fake-clock.mjs';
import { ScriptedUnit, makeNative } from './helpers/scripted-unit.mjs';

test('identity replies match on maker and family bytes, never on the device byte', () => {
    const s = createProductSetting({ manufacturerId: '7D', modelId: '004B05' });
    assert.equal(identityFamily('004B05'), '0502');
    assert.equal(identityFamily('014B05'), '054B');
    assert.ok(isIdentityReply('F07E1006027D05020000' + '00010000F7', s));
    assert.ok(isIdentityReply('F07E7F06027D0502' + 'F7', s));
    assert.ok(!isIdentityReply('F07E1006027D054B0000F7', s), 'plain rule does not apply to 00 models');
    assert.ok(!isIdentityReply('F07E1006027E05020000F7', s), 'other maker');
    assert.ok(!isIdentityReply('F07E1006017D05020000F7', s), 'not a reply');
    assert.ok(!isIdentityReply('F07F1006027D05020000F7', s));
    const plain = createProductSetting({ manufacturerId: '7D', modelId: '014B05' });
    assert.ok(isIdentityReply('F07E1006027D054B0000F7', plain));
    assert.ok(!isIdentityReply('F07E1006027D4B050000F7', plain), 'family bytes are reversed');
});

function rig(configure = () => {}) {
    const clock = new FakeClock();
    const native = makeNative();
    const setting = createProductSetting({ manufacturerId: '7D', modelId: '004B05', deviceId: '10' });
    const controller = new MIDIController({ native, setting, clock });
    controller.start();
    const unit = new ScriptedUnit({ native, clock, setting });
    configure(unit);
    const ports = { closed: 0, disconnect() { this.closed++; } };
    let synced = 0;
    const connection = new UnitConnection({ controller, setting, ports, synchronize: () => { synced++; } });
    const run = () => {
        let result = null;
        connection.connect().then((r) => { result = r; });
        // The promise settles on a microtask after the timer step that decided it.
        const settle = async () => {
            for (let i = 0; i < 2000 && result === null; i++) {
                clock.advance(10);
                await Promise.resolve();
                await Promise.resolve();
            }
            return result;
        };
        return settle();
    };
    return { clock, native, setting, controller, unit, ports, connection, run, synced: () => synced };
}

const modeOff = 'F07D10004B05127F000001007FF7'.replace(/..F7$/, '00F7');

test('connected: identity, level, mode on, running mode 01, then synchronisation', async () => {
    const r = rig((u) => { u.deviceId = '13'; });
    const result = await r.run();
    assert.equal(result.outcome, Outcome.connected);
    assert.equal(r.synced(), 1);
    assert.equal(r.setting.deviceId, '13', 'device id taken from the identity reply');
    const sent = r.native.midi.sent;
    assert.equal(sent[0], 'F07E7F0601F7');
    assert.ok(sent[1].startsWith('F07D13004B05117F000000'));
    assert.ok(sent[2].startsWith('F07D13004B05127F00000101'));
    assert.ok(sent[3].startsWith('F07D13004B05117F000002'));
    assert.equal(r.ports.closed, 0);
});

test('no identity reply within 15 s: wrong device, ports closed', async () => {
    const r = rig((u) => { u.silent.add('identity'); });
    const t0 = r.clock.now();
    const result = await r.run();
    assert.equal(result.outcome, Outcome.wrongDevice);
    assert.ok(r.clock.now() - t0 >= 15000);
    assert.equal(r.ports.closed, 1);
    assert.equal(r.native.midi.sent.at(-1), modeOff);
});

test('an identity reply of another model is no reply at all', async () => {
    const r = rig((u) => { u.identityFamily = '4B00'; });
    assert.equal((await r.run()).outcome, Outcome.wrongDevice);
});

test('communication level decides firmware or application too old', async () => {
    const low = rig((u) => { u.level = '00'; });
    low.setting.communicationLevel = 1;
    assert.equal((await low.run()).outcome, Outcome.firmwareTooOld);
    assert.equal(low.ports.closed, 1);
    const high = rig((u) => { u.level = '02'; });
    assert.equal((await high.run()).outcome, Outcome.applicationTooOld);
    assert.equal(high.ports.closed, 1);
});

test('no level reply: communication error with retry that starts again', async () => {
    const r = rig((u) => { u.silent.add('level'); });
    const result = await r.run();
    assert.equal(result.outcome, Outcome.communicationError);
    assert.equal(r.ports.closed, 0, 'the user chooses');
    r.unit.silent.delete('level');
    const identityRequests = () => r.native.midi.sent.filter((m) => m === 'F07E7F0601F7').length;
    let again = null;
    result.retry().then((x) => { again = x; });
    for (let i = 0; i < 100 && again === null; i++) {
        r.clock.advance(10);
        await Promise.resolve();
        await Promise.resolve();
    }
    assert.equal(again?.outcome, Outcome.connected);
    assert.equal(identityRequests(), 2);
    result.disconnect();
    assert.equal(r.ports.closed, 1);
});

test('running mode: 00 and 04 factory reset, others refused', async () => {
    for (const [mode, outcome] of [['00', Outcome.factoryResetMode], ['04', Outcome.factoryResetMode],
        ['02', Outcome.runningMode], ['7F', Outcome.runningMode]]) {
        const r = rig((u) => { u.runningMode = mode; });
        const result = await r.run();
        assert.equal(result.outcome, outcome, mode);
        assert.equal(result.mode, mode);
        assert.equal(r.ports.closed, 1);
        assert.equal(r.synced(), 0);
    }
});

test('disconnect sends editing mode off at once, ahead of queued traffic', () => {
    const r = rig();
    const onTheWire = 'F0' + '11'.repeat(200) + 'F7';
    r.controller.send(onTheWire);
    r.controller.send('F0' + '11'.repeat(10) + 'F7');
    r.connection.disconnect();
    assert.deepEqual(r.native.midi.sent, [onTheWire, modeOff]);
    r.clock.advance(100);
    assert.equal(r.native.midi.sent.length, 2, 'the queue was dropped');
    assert.equal(r.ports.closed, 1);
});

// Endpoint records as the "midi" service lists them.
const rec = (name, entity, uid) => ({
    MIDIDeviceNameKey: name, MIDIEntityNameKey: entity, MIDIEndpointUIDKey: uid, MIDIEndpointIndexKey: '0',
});

function pairingNative(ins, outs) {
    const log = [];
    const native = makeNative();
    native.midi.inendpoints = () => ins;
    native.midi.outendpoints = () => outs;
    for (const fn of ['inconnect', 'outconnect', 'indisconnect', 'outdisconnect']) {
        native.midi[fn] = (r) => log.push(`${fn} ${r?.MIDIEndpointUIDKey}`);
    }
    return { native, log };
}

test('pairing by entity name; numbered placeholder names pair only with each other', () => {
    assert.equal(entityKey(rec('x', '(2)', 'u')), '');
    assert.equal(entityKey(rec('x', '(2) KX-5', 'u')), '(2) KX-5');
    assert.equal(entityKey({}), '');
    const outs = [rec('Synth', 'Synth', 'o1'), rec('KX-5', 'KX-5', 'o2'), rec('Port', '(3)', 'o3')];
    assert.equal(pairedOutput(rec('KX-5', 'KX-5', 'i1'), outs).MIDIEndpointUIDKey, 'o2');
    assert.equal(pairedOutput(rec('Other', '(7)', 'i2'), outs).MIDIEndpointUIDKey, 'o3');
    assert.equal(pairedOutput(rec('Gone', 'Gone', 'i3'), outs), null);
});

test('choose connects the pair and stores it; autoConnect finds it again by UID', () => {
    const ins = [rec('KX-5 MIDI 1', 'KX-5', 'in-a')];
    const outs = [rec('KX-5 MIDI 1', 'KX-5', 'out-a')];
    const { native, log } = pairingNative(ins, outs);
    native.app.stored = '{"theme":"dark"}';
    const p = new PortPairing(native);
    assert.equal(p.choose(ins[0]), true);
    assert.deepEqual(log, ['inconnect in-a', 'outconnect out-a']);
    const prefs = JSON.parse(native.app.stored);
    assert.equal(prefs.theme, 'dark', 'other preferences are kept');
    assert.equal(prefs.input.MIDIEndpointUIDKey, 'in-a');

    const again = new PortPairing(native);
    assert.equal(again.autoConnect(), PortOutcome.connected);
    assert.equal(again.output.MIDIEndpointUIDKey, 'out-a');

    again.disconnect();
    const cleared = JSON.parse(native.app.stored);
    assert.equal(cleared.input, null);
    assert.equal(cleared.output, null);
    assert.equal(new PortPairing(native).autoConnect(), PortOutcome.chooseDevice);
});

test('first start takes a lone unit, and a real unit over the simulated one', () => {
    const sim = rec('KX-5 (simulated)', 'KX-5 (simulated)', 'sim');
    const real = rec('KX-5 MIDI 1', 'KX-5', 'usb');
    const keys = rec('Keys', 'Keys', 'k');
    assert.equal(firstStartCandidate([keys, sim]), sim);
    assert.equal(firstStartCandidate([sim, real, keys]), real);
    assert.equal(firstStartCandidate([real, rec('KX-5 MIDI 1', 'KX-5 #2', 'usb2'), sim]), null, 'two units: the user picks');
    assert.equal(firstStartCandidate([keys]), null);
});

test('autoConnect: empty lists mean no device; unreadable preferences mean choose', () => {
    assert.equal(new PortPairing(pairingNative([], [rec('a', 'a', 'o')]).native).autoConnect(), PortOutcome.deviceNotFound);
    assert.equal(new PortPairing(pairingNative([rec('a', 'a', 'i')], []).native).autoConnect(), PortOutcome.deviceNotFound);
    const { native } = pairingNative([rec('a', 'a', 'i')], [rec('a', 'a', 'o')]);
    native.app.stored = 'not json';
    assert.equal(new PortPairing(native).autoConnect(), PortOutcome.chooseDevice);
});

test('an endpoint change without the connected entity disconnects', () => {
    const ins = [rec('KX-5', 'KX-5', 'i'), rec('Keys', 'Keys', 'k')];
    const outs = [rec('KX-5', 'KX-5', 'o')];
    const { native, log } = pairingNative(ins, outs);
    const p = new PortPairing(native);
    p.choose(ins[0]);
    assert.equal(p.endpointsChanged(), PortOutcome.unchanged);
    ins.splice(0, 1);
    assert.equal(p.endpointsChanged(), PortOutcome.disconnected);
    assert.deepEqual(log.slice(2), ['indisconnect i', 'outdisconnect o']);
    assert.equal(p.endpointsChanged(), PortOutcome.unchanged);
});
