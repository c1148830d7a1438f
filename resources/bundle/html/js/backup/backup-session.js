// Saving the unit's memory to a backup file and writing one back, over the
// batch reader and writer.
//
// A backup reads exactly what it was offered with (its plan: the system
// area, the user patches and the slots then loaded); a backup interrupted by
// the unit is not written, and resume() reads what is missing from the same
// unit, or reports that the unit's slots changed. A restore clears the
// slots the file holds no data for (when asked to), writes and verifies
// every area of the file (sending once more what the unit did not take),
// and only then has the unit take the restored slots.
//
// Events handed to onEvent:
//   { type: 'progress', phase, percent }   "read"; "clear", "write", "verify",
//                                          "resend", "recheck"
//   { type: 'error', reason: 'fileError' | 'unsupported' | 'sendError', message }
//   { type: 'changed', path, plan, difference }  the unit's slots are not the
//                                          ones listed: nothing was saved
//   { type: 'stopped', kind, report }      report: { reason, text }; resume()
//   { type: 'cancelled', kind, report }    report null when nothing was written
//   { type: 'saved', path, contents } / { type: 'restored', path, contents, cleared }
import { BackupError, buildBackup, describeBackup, parseBackup, restoreTasks } from './backup-format.js';
import { areaWords, describeSlots, loadedSlots, planAreas, planDifference } from './backup-plan.js';
import { initializeSlot, takeSlot } from '../ir/slot-commands.js';
import { VerifiedWrite } from '../transfer/verified-write.js';
import { describeMessages } from '../transfer/transfer-report.js';
import { ObserverSlot } from '../params/read-write-logic.js';

const WRITE_GAP_MS = 8;
const list = (words) => (words.length <= 1 ? words.join('') : `${words.slice(0, -1).join(', ')} and ${words.at(-1)}`);

export class BackupSession {
    constructor({ native, map, parameter, readWrite, controller, setting, isConnected, marks = null, onEvent = () => {} }) {
        Object.assign(this, { native, map, parameter, readWrite, controller, setting, isConnected, marks, onEvent });
        this.job = null;
        this.interrupted = null;
        this.writer = null;
        this.observing = new ObserverSlot(readWrite);
    }

    get busy() {
        return this.job !== null;
    }

    // The read tasks of areas, and the area each task belongs to.
    areaTasks(areas) {
        const tasks = [];
        const owners = [];
        for (const area of areas) {
            const own = this.parameter.readTasks(this.map.areaBlocks(area));
            tasks.push(...own);
            owners.push(...own.map(() => area));
        }
        return { tasks, owners };
    }

    // Runs a batch read; each() after every task; done() at its end.
    read(job, tasks, each, done) {
        this.observing.attach((state) => {
            if (this.job !== job) return;
            if (typeof state === 'number') {
                each?.();
                const percent = job.tasks ? Math.floor((job.done * 100) / job.tasks.length) : 0;
                return this.onEvent({ type: 'progress', phase: 'read', percent });
            }
            this.observing.detach();
            if (state === 'end') return done();
            this.stop(job, { ok: false, reason: 'timeout' });
        });
        this.readWrite.readStart(tasks);
    }

    // --- backing up ---

    // plan: from planBackup(), as the user was shown it.
    save(path, plan) {
        if (this.job || !path || !plan) return false;
        if (!this.isConnected()) return this.fail('sendError', 'No unit is connected.', true);
        this.interrupted = null;
        this.job = { kind: 'backup', path, plan, tasks: null, owners: null, done: 0 };
        this.readBackup(this.job);
        return true;
    }

    // The slot states first: the file must hold the slots that were listed.
    readBackup(job) {
        this.onEvent({ type: 'progress', phase: 'read', percent: job.tasks ? Math.floor((job.done * 100) / job.tasks.length) : 0 });
        this.read(job, this.areaTasks(['IRDATA']).tasks, null, () => {
            const difference = planDifference(job.plan, loadedSlots(this.parameter, this.setting));
            if (difference) {
                this.job = null;
                this.interrupted = null;
                return this.onEvent({ type: 'changed', path: job.path, plan: job.plan, difference });
            }
            if (!job.tasks) Object.assign(job, this.areaTasks(planAreas(job.plan, this.setting)));
            this.read(job, job.tasks.slice(job.done), () => { job.done++; }, () => this.writeFile(job));
        });
    }

    writeFile(job) {
        const { path, plan } = job;
        let backup;
        try {
            backup = buildBackup({
                map: this.map, parameter: this.parameter, setting: this.setting,
                encrypt: (hex) => this.native.security.aes.encrypt(hex),
                present: (section, i) => section !== 'irData' || plan.slots.includes(i),
            });
            const contents = describeBackup(backup);
            if (contents.slots.join() !== plan.slots.map((k) => k + 1).join()) throw new BackupError('the backup does not hold the slots listed');
            this.native.fs.writeString(path, JSON.stringify(backup));
        } catch (e) {
            return this.fail('fileError', e.message);
        }
        this.job = null;
        this.interrupted = null;
        this.onEvent({ type: 'saved', path, contents: this.contents(backup) });
    }

    // describeBackup with the slots' names. Only the patches and slots the
    // unit has count: a file may list more, which a restore never writes.
    contents(backup) {
        const shown = {
            ...backup,
            userPatch: (backup.userPatch ?? []).slice(0, this.setting.numOfUserPatch),
            irData: (backup.irData ?? []).slice(0, this.setting.numOfIrData),
        };
        const c = describeBackup(shown);
        const names = {};
        const nameLength = this.map.block('IRDATA(1)%NAME').size;
        shown.irData.forEach((slot, i) => {
            const name = slot?.['IRDATA%NAME'];
            if (Array.isArray(name)) {
                names[i] = name.slice(0, nameLength).map((h) => String.fromCharCode(parseInt(h, 16) & 0x7f)).join('').trimEnd();
            }
        });
        const slots = c.slots.map((n) => n - 1);
        const patches = c.patches === 1 ? '1 user patch' : `${c.patches} user patches`;
        return { ...c, names, text: `system settings, ${patches}, ${describeSlots(slots, names)}` };
    }

    // --- restoring ---

    // Reads and checks a backup file: { path, areas, backup, contents, empty }
    // (empty: the slots, 0-based, the file holds no data for), or null after
    // an error event.
    inspect(path) {
        let text;
        try {
            text = this.native.fs.readString(path);
            if (typeof text !== 'string') throw new Error('the file could not be read');
        } catch (e) {
            return this.fail('fileError', e.message, true) || null;
        }
        let areas;
        try {
            areas = parseBackup(text, {
                map: this.map, setting: this.setting,
                decrypt: (hex) => this.native.security.aes.decrypt(hex),
            });
        } catch (e) {
            return this.fail('unsupported', e instanceof BackupError ? e.message : 'this file is unsupported', true) || null;
        }
        const backup = JSON.parse(text);
        const held = areas.filter((a) => a.section === 'irData').map((a) => a.index);
        const empty = [];
        for (let k = 0; k < this.setting.numOfIrData; k++) if (!held.includes(k)) empty.push(k);
        return { path, areas, backup, contents: this.contents(backup), empty };
    }

    // Writes an inspected backup; clearEmpty also clears the slots it holds
    // no data for, so that the unit matches the file.
    restore(inspected, { clearEmpty = false } = {}) {
        if (this.job || !inspected) return false;
        if (!this.isConnected()) return this.fail('sendError', 'No unit is connected.', true);
        const slots = inspected.areas.filter((a) => a.section === 'irData').map((a) => a.index);
        const job = {
            kind: 'restore', path: inspected.path, contents: inspected.contents, slots,
            clear: clearEmpty ? [...inspected.empty] : [], cleared: [],
            messages: restoreTasks(this.map, inspected.areas),
        };
        this.interrupted = null;
        this.job = job;
        this.runRestore(job, { write: true });
        return true;
    }

    runRestore(job, options) {
        const next = job.clear.find((k) => !job.cleared.includes(k));
        if (next !== undefined) {
            this.onEvent({ type: 'progress', phase: 'clear', percent: Math.floor((job.cleared.length * 100) / job.clear.length) });
            job.cancelWait = initializeSlot(this.controller, next, (ok) => {
                job.cancelWait = null;
                if (this.job !== job) return;
                if (!ok) return this.stop(job, { ok: false, reason: 'timeout', phase: 'clear' });
                job.cleared.push(next);
                this.marks?.clear(next);
                for (const part of ['NAME', 'SIZE', 'FILE', 'DATA']) this.parameter.initialize(`IRDATA(${next + 1})%${part}`);
                this.runRestore(job, options);
            });
            return;
        }
        for (const k of job.slots) this.marks?.mark(k, { name: job.contents.names[k] ?? '', what: 'restore' });
        this.writer = new VerifiedWrite({
            readWrite: this.readWrite, gap: WRITE_GAP_MS,
            onProgress: ({ phase, percent }) => this.onEvent({ type: 'progress', phase, percent }),
            onSent: (i) => {
                const m = job.messages[i];
                this.parameter.store(m.address, m.data.match(/../g));
            },
        });
        this.writer.run(job.messages, options, (result) => {
            this.writer = null;
            if (this.job !== job) return;
            if (!result.ok) return this.stop(job, result);
            this.takeSlots(job, [...job.slots]);
        });
    }

    // The verified slots are taken by the unit one after the other.
    takeSlots(job, rest) {
        if (this.job !== job) return;
        const k = rest.shift();
        if (k === undefined) {
            this.job = null;
            this.interrupted = null;
            return this.onEvent({ type: 'restored', path: job.path, contents: job.contents, cleared: job.cleared });
        }
        this.marks?.clear(k);
        takeSlot(this.controller, this.map, k, () => this.takeSlots(job, rest));
    }

    // --- both ---

    // Takes an interrupted job up again (the editor calls it for the same
    // unit only): a backup reads what it is missing, a restore checks and
    // completes what the unit holds.
    resume() {
        const job = this.interrupted;
        if (!job || this.job || !this.isConnected()) return false;
        this.interrupted = null;
        this.job = job;
        if (job.kind === 'backup') this.readBackup(job);
        else this.runRestore(job, { write: false });
        return true;
    }

    forget() {
        this.interrupted = null;
    }

    // The unit went away or stopped answering.
    abort(reason) {
        const job = this.job;
        if (!job) return;
        if (this.writer?.running) return this.writer.abort(reason);
        this.halt(job);
        this.stop(job, { ok: false, reason });
    }

    cancel() {
        const job = this.job;
        if (!job) return;
        if (this.writer?.running) {
            this.writer.cancel();
            return;
        }
        this.halt(job);
        this.job = null;
        if (job.kind === 'restore' && job.cleared.length) {
            this.interrupted = job;
            return this.onEvent({ type: 'cancelled', kind: job.kind, report: this.report(job, { reason: 'cancelled', phase: 'clear' }) });
        }
        this.onEvent({ type: 'cancelled', kind: job.kind, report: null });
    }

    halt(job) {
        this.observing.detach();
        if (job.cancelWait) job.cancelWait();
        job.cancelWait = null;
        this.readWrite.cancel();
    }

    stop(job, result) {
        this.job = null;
        const report = this.report(job, result);
        if (job.kind === 'restore') {
            for (const k of job.slots) this.marks?.note(k, report.text);
            if (result.reason === 'cancelled') {
                const wrote = job.cleared.length > 0 || result.phase !== 'write' || result.sent > 0;
                this.interrupted = wrote ? job : null;
                return this.onEvent({ type: 'cancelled', kind: job.kind, report: wrote ? report : null });
            }
        }
        this.interrupted = job;
        this.onEvent({ type: 'stopped', kind: job.kind, report });
    }

    // What was done and what was not, in words.
    report(job, result) {
        const { reason } = result;
        if (job.kind === 'backup') {
            const done = new Set();
            const missing = new Set();
            (job.owners ?? []).forEach((area, i) => (i < job.done ? done : missing).add(area));
            for (const a of missing) done.delete(a);
            const read = [...done].map(areaWords);
            const rest = job.owners ? [...missing].map(areaWords) : ['everything'];
            const text = `${read.length ? `Read: ${list(read)}. ` : ''}Not read yet: ${list(rest)}. Nothing was saved.`;
            return { reason, text };
        }
        const parts = [];
        if (job.cleared.length) parts.push(`Cleared: slot${job.cleared.length === 1 ? '' : 's'} ${job.cleared.map((k) => k + 1).join(', ')}.`);
        const pendingClear = job.clear.filter((k) => !job.cleared.includes(k));
        if (pendingClear.length) parts.push(`Not cleared yet: slot${pendingClear.length === 1 ? '' : 's'} ${pendingClear.map((k) => k + 1).join(', ')}.`);
        const total = job.messages.length;
        const describe = (indices) => describeMessages(this.map, job.messages, indices);
        if (reason === 'differ') {
            parts.push(`The unit does not hold what was sent, even after sending it again: ${describe(result.differing)}.`);
        } else if (result.phase === 'write' && result.sent < total) {
            const rest = Array.from({ length: total - result.sent }, (_, k) => result.sent + k);
            parts.push(result.sent === 0 ? 'Nothing of the backup was sent yet.' : `Sent: ${result.sent} of ${total} messages. Not sent: ${describe(rest)}.`);
        } else if (result.phase !== 'clear') {
            parts.push('Everything was sent, but not yet verified.');
        } else {
            parts.push('Nothing of the backup was sent yet.');
        }
        if (job.slots.length) parts.push(`Slot${job.slots.length === 1 ? '' : 's'} ${job.slots.map((k) => k + 1).join(', ')} ${job.slots.length === 1 ? 'is' : 'are'} marked incomplete until ${job.slots.length === 1 ? 'it is' : 'they are'} restored or loaded again.`);
        return { reason, text: parts.join(' ') };
    }

    fail(reason, message, early = false) {
        this.observing.detach();
        this.job = null;
        this.onEvent({ type: 'error', reason, message });
        return early ? false : undefined;
    }
}
