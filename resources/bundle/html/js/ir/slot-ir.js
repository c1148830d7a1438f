// A slot's coefficients as the editor knows them: from the parameter model
// when it holds them (what the last load, restore or backup wrote or read),
// otherwise read back from the unit, when the link is free.
import { ObserverSlot } from '../params/read-write-logic.js';
import { wordsOfDigits } from './coefficient-response.js';

const LOADED = 1;

export class SlotIr {
    // isFree(): no transfer runs (the reader is the transfers' own).
    constructor({ parameter, readWrite, isConnected, isFree }) {
        Object.assign(this, { parameter, readWrite, isConnected, isFree });
        // Slots whose words came from reading the unit here.
        this.readBack = new Set();
        this.reading = null;
        this.observing = new ObserverSlot(readWrite);
        parameter.addObserver((blockId) => {
            const m = /^IRDATA\((\d+)\)%DATA$/.exec(blockId);
            if (m && this.reading?.slot !== Number(m[1]) - 1) this.readBack.delete(Number(m[1]) - 1);
        });
    }

    block(slot) {
        return `IRDATA(${slot + 1})%DATA`;
    }

    loaded(slot) {
        return this.parameter.get(`IRDATA%STATUS%${slot}`) === LOADED;
    }

    // { words, origin: 'load' | 'unit' } from the model, or null.
    known(slot) {
        const words = wordsOfDigits(this.parameter.paramSet[this.block(slot)]);
        return words ? { words, origin: this.readBack.has(slot) ? 'unit' : 'load' } : null;
    }

    // Resolves with what the slot holds, or null (empty, not connected, a
    // transfer runs, or the unit did not answer).
    get(slot) {
        if (!this.loaded(slot)) return Promise.resolve(null);
        const known = this.known(slot);
        if (known) return Promise.resolve(known);
        if (this.reading?.slot === slot) return this.reading.promise;
        if (this.reading || !this.isConnected() || !this.isFree()) return Promise.resolve(null);
        const reading = { slot };
        reading.promise = new Promise((resolve) => {
            const tasks = this.parameter.readTasks([this.block(slot)]);
            const wanted = tasks.reduce((n, t) => n + Math.abs(t.size), 0);
            let got = 0;
            const end = (ok) => {
                this.observing.detach();
                this.reading = null;
                if (ok) this.readBack.add(slot);
                resolve(ok ? this.known(slot) : null);
            };
            // A transfer started meanwhile takes the reader over without a
            // word: only an end with every byte read is this read's own.
            this.observing.attach((state) => {
                if (state === 'end') end(got >= wanted);
                else if (state === 'timeout') end(false);
            });
            this.readWrite.readStart(tasks, { onData: (_, hex) => { got += String(hex).length >> 1; } });
        });
        this.reading = reading;
        return reading.promise;
    }
}
