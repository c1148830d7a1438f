// Whether the connected unit is still there: a unit that stops answering
// (a transfer's time-out, or no answer to a quiet check while the link is
// idle) is "silent"; one whose port went away is "gone". While silent the
// identity request is repeated until the unit answers again; the editor
// then runs the connection sequence and compares the unit's identity with
// the one it lost, to take up what was interrupted.
import { systemClock } from './clock.js';
import { IDENTITY_REQUEST } from './midi-controller.js';
import { UnitAddress } from './product-setting.js';
import { isIdentityReply } from './unit-connection.js';
import { nibble } from './sysex.js';

export const WatchState = Object.freeze({
    offline: 'offline',
    connected: 'connected',
    silent: 'silent',
    gone: 'gone',
});

export class UnitWatch {
    // isBusy(): a transfer runs (it notices silence itself). checkMs: quiet
    // time before a check; answerMs: how long a check may take;
    // comebackMs: how often a silent unit is asked for its identity.
    constructor({
        controller, setting, clock = systemClock, isBusy = () => false,
        checkMs = 5000, answerMs = 5000, comebackMs = 2000,
    }) {
        Object.assign(this, { controller, setting, clock, isBusy, checkMs, answerMs, comebackMs });
        this.state = WatchState.offline;
        this.unit = null; // { identity, entity, name } of the unit connected (or lost)
        this.listeners = [];
        this.timer = null;
        this.check = null;
        this.identityReceiver = null;
    }

    addListener(fn) {
        this.listeners.push(fn);
    }

    emit(event) {
        for (const fn of [...this.listeners]) fn(event);
    }

    // The connection sequence succeeded with this unit. Returns true when
    // it is the unit that was lost (same port name and identity reply).
    attach(unit) {
        const same = !!this.unit && this.state !== WatchState.offline &&
            this.unit.entity === unit.entity && this.unit.identity === unit.identity;
        this.stopTimers();
        this.unit = { ...unit };
        this.state = WatchState.connected;
        this.timer = this.clock.setInterval(() => this.tick(), 1000);
        this.emit({ type: 'connected', same });
        return same;
    }

    // The user disconnected (or connected elsewhere): nothing is awaited.
    detach() {
        this.stopTimers();
        this.state = WatchState.offline;
        this.unit = null;
        this.emit({ type: 'offline' });
    }

    // The connected unit does not answer any more.
    silent() {
        if (this.state !== WatchState.connected) return;
        this.stopTimers();
        this.state = WatchState.silent;
        this.emit({ type: 'silent' });
        this.identityReceiver = (m) => {
            if (this.state !== WatchState.silent || !isIdentityReply(m, this.setting)) return;
            this.stopTimers();
            this.emit({ type: 'answering' });
        };
        this.controller.addReceiver(this.identityReceiver);
        const ask = () => this.controller.send(IDENTITY_REQUEST);
        ask();
        this.timer = this.clock.setInterval(ask, this.comebackMs);
    }

    // Its port went away.
    gone() {
        if (this.state !== WatchState.connected && this.state !== WatchState.silent) return;
        this.stopTimers();
        this.state = WatchState.gone;
        this.emit({ type: 'gone' });
    }

    // While connected and idle: a quiet link gets a one-byte question.
    tick() {
        if (this.state !== WatchState.connected || this.check || this.isBusy()) return;
        const c = this.controller;
        if (!c.isIdle() || c.pending.length > 0) return;
        const now = this.clock.now();
        if (now - c.lastReceiveTime < this.checkMs || now - (this.lastCheck ?? -Infinity) < this.checkMs) return;
        this.lastCheck = now;
        const entry = c.rq1(nibble(UnitAddress.runningMode), 1, () => {
            this.endCheck();
        });
        const timeout = this.clock.setTimeout(() => {
            if (this.check?.entry !== entry) return;
            this.endCheck();
            this.silent();
        }, this.answerMs);
        this.check = { entry, timeout };
    }

    endCheck() {
        if (!this.check) return;
        this.clock.clearTimeout(this.check.timeout);
        this.controller.removePending(this.check.entry);
        this.check = null;
    }

    stopTimers() {
        if (this.timer !== null) this.clock.clearInterval(this.timer);
        this.timer = null;
        this.endCheck();
        if (this.identityReceiver) this.controller.removeReceiver(this.identityReceiver);
        this.identityReceiver = null;
    }
}
