// The link to the unit over the host's "midi" service: a paced send queue,
// the receive filter, pending RQ1 requests and the awaited-reply helpers.
import { systemClock } from './clock.js';
import {
    CMD_DT1, SYSEX_START, _7bitize, dt1Message, dt1Payload, rq1Message,
} from './sysex.js';

export const TICK_MS = 10;
export const IDENTITY_REQUEST = 'F07E7F0601F7';

export class MIDIController {
    constructor({ native, setting, clock = systemClock }) {
        this.native = native;
        this.setting = setting;
        this.clock = clock;
        this.queue = [];
        this.pending = [];
        this.receivers = [];
        this.nextSendTime = 0;
        this.lastReceiveTime = -Infinity;
        this.timer = null;
    }

    // Starts the send timer and takes over the "midi" "message" events.
    start() {
        if (this.timer !== null) return;
        this.native.midi.events.message = (hex) => this.receive(hex);
        this.timer = this.clock.setInterval(() => this.tick(), TICK_MS);
    }

    stop() {
        if (this.timer !== null) this.clock.clearInterval(this.timer);
        this.timer = null;
        this.clear();
    }

    // Frame header length in hex digits: F0, maker, device, model, command.
    get headerLength() {
        return 2 + this.setting.manufacturerId.length + this.setting.deviceId.length +
            this.setting.modelId.length + 2;
    }

    // Queues a raw message (hex text). onSent runs when it goes out. A
    // message with nothing ahead of it leaves at once when the wire is free,
    // so that a request made on an answer does not wait for the next tick.
    send(message, onSent) {
        this.queue.push({ message: message.toUpperCase(), onSent });
        if (this.queue.length === 1 && this.timer !== null) this.tick();
    }

    dt1(address, data, onSent) {
        this.send(dt1Message(this.setting, address, data), onSent);
    }

    // Queues an RQ1 and registers handler(rest) for the DT1 that answers it;
    // the entry stays registered while the handler returns true.
    rq1(address, size, handler, onSent) {
        const entry = { address: _7bitize(address), handler };
        this.pending.push(entry);
        this.send(rq1Message(this.setting, address, size), onSent);
        return entry;
    }

    removePending(entry) {
        const i = this.pending.indexOf(entry);
        if (i >= 0) this.pending.splice(i, 1);
    }

    clear() {
        this.queue = [];
        this.pending = [];
    }

    isIdle() {
        return this.queue.length === 0;
    }

    // Sends at once, ahead of the queue (used when the link is closing).
    sendNow(message) {
        this.native.midi.send(message.toUpperCase());
    }

    // One timer step: at most one message, and only once the previous one
    // has had its time on the wire.
    tick() {
        if (this.queue.length === 0) return;
        const now = this.clock.now();
        if (now < this.nextSendTime) return;
        const { message, onSent } = this.queue.shift();
        this.native.midi.send(message);
        this.nextSendTime = now + ((message.length / 2) * 10000) / this.setting.baudrate +
            this.setting.interval;
        if (onSent) onSent(now);
    }

    addReceiver(receiver) {
        if (!this.receivers.includes(receiver)) this.receivers.push(receiver);
    }

    removeReceiver(receiver) {
        const i = this.receivers.indexOf(receiver);
        if (i >= 0) this.receivers.splice(i, 1);
    }

    // True for a maker message addressed to this unit (or to all units).
    isOwnMessage(message) {
        const { manufacturerId: m, modelId, deviceId } = this.setting;
        return message.startsWith(SYSEX_START + m + '7F' + modelId) ||
            message.startsWith(SYSEX_START + m + deviceId + modelId);
    }

    receive(hex) {
        const message = String(hex).toUpperCase();
        if (message === 'F8' || message === 'FE') return;
        if (message.startsWith(SYSEX_START) && !message.startsWith('F07E')) {
            if (!this.isOwnMessage(message)) return;
            this.lastReceiveTime = this.clock.now();
            const h = this.headerLength;
            if (message.substr(h - 2, 2) === CMD_DT1) {
                const address = message.substr(h, 8);
                const rest = message.substr(h + 8);
                // A corrupted reply is dropped rather than taken as data.
                if (!dt1Payload(address, rest).valid) return;
                this.notifyReceivers(message);
                const entry = this.pending.find((e) => e.address === address);
                if (entry && entry.handler(rest) !== true) this.removePending(entry);
                return;
            }
        }
        this.notifyReceivers(message);
    }

    notifyReceivers(message) {
        for (const r of [...this.receivers]) {
            if (!this.receivers.includes(r)) continue;
            if (typeof r === 'function') r(message);
            else r.receive(message);
        }
    }

    // Shared shape of the three waits: success as soon as the reply is in
    // (state.answer), the time limit checked every tick. The limit counts
    // from the send, or from the last message the unit sent when that is
    // later, so a unit still busy answering is not cut off.
    poll(state, observer) {
        const limit = this.setting.timeout * 1000;
        let timer = null;
        const finish = () => {
            if (timer !== null) this.clock.clearInterval(timer);
            timer = null;
            state.done = true;
            if (state.cleanup) state.cleanup();
        };
        state.answer = (reply) => {
            if (state.done) return;
            finish();
            observer.success?.(reply);
        };
        timer = this.clock.setInterval(() => {
            if (state.done) return finish();
            const since = Math.max(state.since, this.lastReceiveTime);
            if (this.clock.now() - since > limit) {
                finish();
                observer.error?.('timeout');
            }
        }, TICK_MS);
        return () => { if (!state.done) finish(); };
    }

    // Sends a prepared message and waits for the first received message that
    // observer.isReply accepts.
    waitMessage(message, observer) {
        const state = { since: this.clock.now(), done: false };
        const receiver = (m) => {
            if (!state.done && observer.isReply(m)) state.answer(m);
        };
        this.addReceiver(receiver);
        state.cleanup = () => this.removeReceiver(receiver);
        const cancel = this.poll(state, observer);
        this.send(message, (t) => { state.since = t; });
        return cancel;
    }

    // Sends a DT1 and waits like waitMessage.
    waitDT1(address, data, observer) {
        return this.waitMessage(dt1Message(this.setting, address, data), observer);
    }

    // Sends an RQ1 and succeeds with the data (hex, checksum removed) of the
    // DT1 that answers it.
    waitRQ1(address, size, observer) {
        const state = { since: this.clock.now(), done: false };
        const packed = _7bitize(address);
        const cancel = this.poll(state, observer);
        const entry = this.rq1(address, size, (rest) => {
            if (!state.done) state.answer(dt1Payload(packed, rest).data);
        }, (t) => { state.since = t; });
        state.cleanup = () => this.removePending(entry);
        return cancel;
    }
}
