import { test } from 'node:test';
import assert from 'node:assert/strict';
import { UnitWatch, WatchState } from '../../resources/bundle/html/js/link/unit-watch.js';
import { linkedUnit } from './helpers/linked-unit.mjs';

function rig({ busy = false } = {}) {
    const r = linkedUnit();
    const events = [];
    const watch = new UnitWatch({ controller: r.controller, setting: r.setting, clock: r.clock, isBusy: () => busy });
    watch.addListener((e) => events.push(e.type + (e.same === undefined ? '' : `:${e.same}`)));
    const unit = { identity: 'F07E1006027D0502000000010000F7', entity: 'KX-5 Sim', name: 'KX-5 Sim' };
    return { ...r, watch, events, unit };
}

test('a quiet link is checked; a unit that answers stays connected', () => {
    const r = rig();
    r.watch.attach(r.unit);
    r.clock.advance(30000);
    assert.equal(r.watch.state, WatchState.connected);
    const checks = r.native.midi.sent.filter((m) => m.includes('117F000002')).length;
    assert.ok(checks >= 4 && checks <= 6, `one check per quiet 5 s (${checks})`);
    assert.deepEqual(r.events, ['connected:false']);
});

test('a unit that stops answering is silent, asked for its identity until it answers, and the same unit is told apart', () => {
    const r = rig();
    r.watch.attach(r.unit);
    r.unit.silent = new Set(['mode', 'identity']);
    const scripted = r.native.midi.peer;
    let quiet = true;
    r.native.midi.peer = (hex) => { if (!quiet) scripted(hex); };
    assert.ok(r.clock.until(() => r.watch.state === WatchState.silent, 20000));
    assert.deepEqual(r.events, ['connected:false', 'silent']);
    r.clock.advance(10000);
    const asked = r.native.midi.sent.filter((m) => m === 'F07E7F0601F7').length;
    assert.ok(asked >= 5, `identity asked every 2 s (${asked})`);
    quiet = false;
    r.unit.silent.clear();
    assert.ok(r.clock.until(() => r.events.includes('answering'), 5000));
    // The editor connects again: the same unit, and another one.
    assert.equal(r.watch.attach({ ...r.unit }), true);
    r.watch.gone();
    assert.equal(r.watch.state, WatchState.gone);
    assert.equal(r.watch.attach({ ...r.unit, identity: 'F07E1006027D0502000000020000F7' }), false, 'another firmware, another unit');
    r.watch.detach();
    assert.equal(r.watch.attach({ ...r.unit }), false, 'after a disconnect nothing is awaited');
});

test('no check while a transfer runs: the transfer notices silence itself', () => {
    const r = rig({ busy: true });
    r.watch.attach(r.unit);
    r.clock.advance(30000);
    assert.equal(r.native.midi.sent.filter((m) => m.includes('117F000002')).length, 0);
    assert.equal(r.watch.state, WatchState.connected);
});
