// Batch reading and writing of whole areas over the link: one RQ1 or DT1 at
// a time, with progress, time-out and closing command.
import { systemClock } from '../link/clock.js';
import { TICK_MS } from '../link/midi-controller.js';

export const READ_PIECE = 128;

// Length of a variable block from its four digits, least significant first.
export function variableLength(dataHex) {
    let len = 0;
    for (let i = 0; i < 4; i++) len |= (parseInt(dataHex.substr(i * 2, 2), 16) & 0xf) << (4 * i);
    return len;
}

// One observer at a time on a batch reader and writer, for a job that runs
// its batches one after the other.
export class ObserverSlot {
    constructor(readWrite) {
        this.readWrite = readWrite;
        this.observer = null;
    }

    attach(observer) {
        this.detach();
        this.observer = observer;
        this.readWrite.addObserver(observer);
    }

    detach() {
        if (this.observer) this.readWrite.removeObserver(this.observer);
        this.observer = null;
    }
}

export class ReadWriteLogic {
    constructor({ controller, clock = systemClock }) {
        this.controller = controller;
        this.clock = clock;
        this.observers = [];
        this.timer = null;
        this.cancelWait = null;
        this.job = null;
    }

    addObserver(o) {
        if (!this.observers.includes(o)) this.observers.push(o);
    }

    removeObserver(o) {
        const i = this.observers.indexOf(o);
        if (i >= 0) this.observers.splice(i, 1);
    }

    // state: a percentage, "timeout" or "end".
    notify(state) {
        for (const o of [...this.observers]) {
            if (!this.observers.includes(o)) continue;
            if (typeof o === 'function') o(state);
            else o.notify(state);
        }
    }

    get busy() {
        return this.job !== null;
    }

    percent(done, total) {
        return total === 0 ? 100 : Math.floor((done * 100) / total);
    }

    // tasks: [{ address (linear), size }]; a negative size reads a variable
    // block (4 length digits first, then the rest in pieces). onData(address,
    // hex), when given, sees every answer with the address it was asked for.
    readStart(tasks, { onData } = {}) {
        this.stop();
        this.job = {
            kind: 'read', tasks, index: 0, waiting: false, cursor: null, remaining: 0,
            phase: 'start', onData,
        };
        this.timer = this.clock.setInterval(() => this.readTick(), TICK_MS);
    }

    // One step of the batch per call: a request, a finished task or the end.
    // The timer starts the batch; afterwards each answer takes the next step
    // at once, so one request is out at a time and none waits for a tick.
    readTick() {
        const job = this.job;
        while (this.job === job && job && !job.waiting) {
            if (job.index >= job.tasks.length) return this.finish();
            this.readStep(job);
        }
    }

    readStep(job) {
        const task = job.tasks[job.index];
        if (job.phase === 'start') {
            job.cursor = task.address;
            if (task.size < 0) {
                job.phase = 'length';
                return this.request(4, (data) => {
                    job.remaining = variableLength(data);
                    job.cursor += 4;
                    job.phase = 'body';
                });
            }
            job.remaining = task.size;
            job.phase = 'body';
        }
        if (job.remaining <= 0) return this.taskDone();
        const size = task.size < 0 ? Math.min(job.remaining, READ_PIECE) : job.remaining;
        this.request(size, (data) => {
            const got = data.length >> 1;
            // A unit that has nothing more to give ends the task.
            if (got === 0) job.remaining = 0;
            job.cursor += got;
            job.remaining -= got;
        });
    }

    request(size, onData) {
        const job = this.job;
        const at = job.cursor;
        job.waiting = true;
        this.cancelWait = this.controller.waitRQ1(at, size, {
            success: (data) => {
                if (this.job !== job) return;
                job.waiting = false;
                job.onData?.(at, data);
                onData(data);
                this.readTick();
            },
            error: () => {
                if (this.job !== job) return;
                this.controller.clear();
                this.stop();
                this.notify('timeout');
            },
        });
    }

    taskDone() {
        const job = this.job;
        job.index++;
        job.phase = 'start';
        this.notify(this.percent(job.index, job.tasks.length));
    }

    // tasks: [{ address (linear), data (hex), wait (ms after it) }].
    // options: startWait, endWait (ms), closing (function run after the last
    // task).
    writeStart(tasks, { startWait = 0, endWait = 0, closing } = {}) {
        this.stop();
        this.job = {
            kind: 'write', tasks, index: 0, waitUntil: this.clock.now() + startWait, endWait,
            closing, closed: false,
        };
        this.timer = this.clock.setInterval(() => this.writeTick(), TICK_MS);
    }

    writeTick() {
        const job = this.job;
        if (!job) return;
        if (!this.controller.isIdle()) return;
        const now = this.clock.now();
        if (now < job.waitUntil) return;
        if (job.index < job.tasks.length) {
            const task = job.tasks[job.index++];
            this.controller.dt1(task.address, task.data);
            job.waitUntil = now + (task.wait ?? 0);
            this.notify(this.percent(job.index, job.tasks.length));
            return;
        }
        if (!job.closed) {
            job.closed = true;
            if (job.closing) job.closing(this.controller);
            job.waitUntil = now + job.endWait;
            return;
        }
        this.finish();
    }

    finish() {
        this.stop();
        this.notify('end');
    }

    // The user's cancel: the batch stops and what is queued on the link is
    // dropped; no report follows.
    cancel() {
        if (!this.job) return;
        this.stop();
        this.controller.clear();
    }

    // Stops the running batch without a report.
    stop() {
        if (this.timer !== null) this.clock.clearInterval(this.timer);
        this.timer = null;
        if (this.cancelWait) this.cancelWait();
        this.cancelWait = null;
        this.job = null;
    }
}
