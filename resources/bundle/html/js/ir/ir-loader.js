// Loading an audio file (or restoring a factory set) into an
// impulse-response slot: the host prepares the file the conversion is given
// (the file itself, or a plain decoded copy of an AIFF, FLAC or other WAV
// file; the two channels mixed when asked), checks and converts it, the page
// writes name, file name and coefficients into the unit, reads the whole
// slot back and compares it with what was sent (sending what differs once
// more), and only then tells the unit to take the new data.
//
// Events handed to onEvent:
//   { type: 'channel', stat }              stereo file: call chooseChannel(0|1|'mix')
//   { type: 'progress', phase, percent }   phase "convert", "write", "verify",
//                                          "resend" or "recheck"
//   { type: 'error', reason, detail }      before anything was written:
//                                          "unsupported", "fileError",
//                                          "readError", "sendError", "busy"
//   { type: 'cancelled', report }          report: see stopReport (null when
//                                          nothing reached the unit)
//   { type: 'stopped', report }            the write did not verify or the unit
//                                          went away; resume() takes it up again
//   { type: 'finished', slot, name, state, resent } only for a verified slot
//   { type: 'renamed', slot, name } / { type: 'renameFailed', slot, name, report }
import { systemClock } from '../link/clock.js';
import {
    COEFFICIENT_WORDS, buildWriteList, fileName, nameMessage, slotName, wordsFromHex,
} from './ir-messages.js';
import { unitName } from './slot-name.js';
import { prepareSource } from './ir-source.js';
import { initializeSlot, takeSlot } from './slot-commands.js';
import { factoryFolder as bundleFactoryFolder, readFactoryIndex, readFactoryWords } from './factory-sets.js';
import { VerifiedWrite } from '../transfer/verified-write.js';
import { describeMessages } from '../transfer/transfer-report.js';

export const PROGRESS_POLL_MS = 100;
export const MESSAGE_GAP_MS = 8;

export class IrDataLoader {
    constructor({
        native, router, controller, readWrite, parameter, setting, isConnected, clock = systemClock, onEvent = () => {},
        factoryFolder = bundleFactoryFolder(), marks = null,
    }) {
        Object.assign(this, { native, router, controller, readWrite, parameter, setting, isConnected, clock, onEvent, factoryFolder, marks });
        this.job = null;
        // A write that stopped before it verified, kept for resume().
        this.interrupted = null;
        this.writer = null;
        this.pollTimer = null;
        router.listen('wavstat', (a) => this.onWavstat(a));
        router.listen('convert', (a) => this.onConvert(a));
    }

    get busy() {
        return this.job !== null;
    }

    // Starts loading `path` into slot (0-based). channel: for a stereo file,
    // 0 (left), 1 (right) or 'mix', so that nothing is asked; a mono file
    // ignores it.
    load(slot, path, { channel } = {}) {
        if (this.job) return false;
        this.job = { slot, path, phase: 'wavstat', preset: channel };
        const prepared = prepareSource(this.native, path);
        if (!prepared.ok) {
            this.fail('unsupported', prepared.reason);
            return true;
        }
        this.job.source = prepared.path;
        this.router.request('wavstat', { path: prepared.path });
        return true;
    }

    onWavstat(answer) {
        const job = this.job;
        if (!('result' in answer)) return;
        if (!job || job.phase !== 'wavstat') return;
        if (!answer.result || (answer.channels !== 1 && answer.channels !== 2)) return this.fail('unsupported');
        job.stat = answer;
        if (answer.channels === 1) return this.convert(null);
        if (job.preset !== undefined) return this.chooseChannel(job.preset, true);
        job.phase = 'channel';
        this.onEvent({ type: 'channel', stat: answer });
    }

    // 0 left, 1 right, 'mix' both channels mixed.
    chooseChannel(channel, preset = false) {
        const job = this.job;
        if (job?.phase !== 'channel' && !(preset && job?.phase === 'wavstat')) return;
        if (channel !== 'mix') return this.convert(channel === 1 ? 1 : 0);
        const mixed = prepareSource(this.native, job.path, 'mix');
        if (!mixed.ok) return this.fail('unsupported', mixed.reason);
        job.source = mixed.path;
        this.convert('mix');
    }

    convert(channel) {
        const job = this.job;
        job.channel = channel;
        job.phase = 'convert';
        this.onEvent({ type: 'progress', phase: 'convert', percent: 0 });
        this.router.request('convert', { path: job.source ?? job.path, ch: channel === 1 ? 1 : 0 });
        this.pollTimer = this.clock.setInterval(() => {
            this.router.request('convert', { req: 'progress' });
        }, PROGRESS_POLL_MS);
    }

    stopPolling() {
        if (this.pollTimer !== null) this.clock.clearInterval(this.pollTimer);
        this.pollTimer = null;
    }

    // Answers are told apart by the first known key they hold.
    onConvert(answer) {
        const job = this.job;
        if (!job || job.phase !== 'convert') return;
        if ('load' in answer) {
            this.stopPolling();
            if (answer.load === 'finished' && answer.result && answer.path) return this.write(answer.path);
            if (answer.load === 'notfound') return this.fail('fileError');
            if (answer.load === 'busy') return this.fail('busy');
            return this.fail('unsupported');
        }
        if ('cancel' in answer) {
            this.stopPolling();
            this.job = null;
            this.onEvent({ type: 'cancelled' });
            return;
        }
        if ('progress' in answer) {
            this.onEvent({ type: 'progress', phase: 'convert', percent: Number(answer.progress) || 0 });
        }
    }

    // The user's cancel: stops the conversion, or the write where it is (the
    // cancelled event then says what reached the unit).
    cancel() {
        const job = this.job;
        if (!job) return;
        if (this.writer?.running) return this.writer.cancel();
        if (job.phase === 'convert') this.router.request('convert', { req: 'cancel' });
        this.stopPolling();
        this.job = null;
        this.onEvent({ type: 'cancelled', report: null });
    }

    // The unit went away ("gone") or stopped answering ("silent"): a running
    // write stops at once and is kept for resume().
    abort(reason) {
        if (this.writer?.running) this.writer.abort(reason);
    }

    fail(reason, detail) {
        this.stopPolling();
        this.job = null;
        this.onEvent(detail ? { type: 'error', reason, detail } : { type: 'error', reason });
    }

    readCoefficients(path) {
        let hex;
        try {
            hex = this.native.fs.readData(path);
        } catch {
            return null;
        }
        const words = wordsFromHex(hex);
        return words && words.length === COEFFICIENT_WORDS ? words : null;
    }

    write(coefficientPath) {
        const job = this.job;
        const words = this.readCoefficients(coefficientPath);
        if (!words) return this.fail('readError');
        this.writeSlot({ name: slotName(job.path, job.channel, this.setting.irDataNameLength), file: fileName(job.path), words });
    }

    // The factory sets carried in the bundle (entries for loadFactory).
    factorySets() {
        return readFactoryIndex(this.native, this.factoryFolder);
    }

    // Restores a factory set into slot (0-based) under its own name and file
    // name: the same write, verify and set-IR command as a file load.
    // false only while another load runs; a set that cannot be read ends in
    // a "readError" event.
    loadFactory(slot, set) {
        if (this.job) return false;
        this.job = { slot, path: set?.file ?? '', phase: 'factory', what: 'factory' };
        const words = readFactoryWords(this.native, set, this.factoryFolder);
        if (!words) {
            this.fail('readError');
            return true;
        }
        const name = [...set.name].slice(0, this.setting.irDataNameLength).join('');
        this.writeSlot({ name, file: set.file, words });
        return true;
    }

    // Writes a complete slot image (also used for the factory sets).
    writeSlot({ name, file, words }) {
        const job = this.job;
        // Reported as the unit will hold it.
        job.name = unitName(name, this.setting.irDataNameLength).name;
        job.file = file;
        if (!this.isConnected()) return this.fail('sendError');
        job.messages = buildWriteList(this.setting, job.slot, { name, file, words });
        job.what = job.what ?? 'load';
        this.transfer(job, { from: 0, write: true });
    }

    // Takes up a stopped write again: the slot is read back and what it
    // does not hold yet is sent (once) and checked. false when there is
    // nothing to take up or another job runs.
    resume() {
        const job = this.interrupted;
        if (!job || this.job || !this.isConnected()) return false;
        this.interrupted = null;
        this.job = job;
        this.transfer(job, { write: false });
        return true;
    }

    // Forgets a stopped write (its slot stays marked incomplete).
    forget() {
        this.interrupted = null;
    }

    transfer(job, options) {
        job.phase = 'write';
        this.marks?.mark(job.slot, { name: job.name, file: job.file, what: job.what });
        this.writer = new VerifiedWrite({
            readWrite: this.readWrite,
            gap: MESSAGE_GAP_MS,
            onProgress: ({ phase, percent }) => this.onEvent({ type: 'progress', phase, percent }),
            // What went out is what the unit now holds there (the screen
            // follows it, also when the write stops half way).
            onSent: (i) => {
                const m = job.messages[i];
                this.parameter?.store(m.address, m.data.match(/../g));
            },
        });
        this.writer.run(job.messages, options, (result) => this.settle(job, result));
    }

    settle(job, result) {
        this.writer = null;
        if (this.job !== job) return;
        if (result.ok) return this.take(job, result);
        this.job = null;
        const report = this.stopReport(job, result);
        if (result.reason === 'cancelled') {
            if (report.sent === 0) this.marks?.clear(job.slot);
            else this.marks?.note(job.slot, report.text);
            this.interrupted = report.sent === 0 ? null : job;
            return this.onEvent({ type: 'cancelled', report: report.sent === 0 ? null : report });
        }
        this.marks?.note(job.slot, report.text);
        this.interrupted = job;
        this.onEvent({ type: 'stopped', report });
    }

    // What a stopped write did and did not do. { slot, name, reason, phase,
    // sent, total, text }
    stopReport(job, result) {
        const total = job.messages.length;
        const map = this.parameter?.map;
        const describe = (indices) => (map ? describeMessages(map, job.messages, indices) : `${indices.length} messages`);
        const sent = result.phase === 'write' ? result.sent : total;
        let text;
        if (result.reason === 'differ') {
            text = `The unit does not hold what was sent, even after sending it again: ${describe(result.differing)}.`;
        } else if (result.phase === 'write') {
            const rest = Array.from({ length: total - sent }, (_, k) => sent + k);
            text = sent === 0
                ? 'Nothing was sent.'
                : `Sent: ${sent} of ${total} messages. Not sent: ${describe(rest)}.`;
        } else {
            text = `All ${total} messages were sent, but the slot was not verified.`;
        }
        return { slot: job.slot, name: job.name, what: job.what, reason: result.reason, phase: result.phase, sent, total, text };
    }

    // A verified slot: the set-IR command, then the unit's verdict on it.
    take(job, result) {
        this.marks?.clear(job.slot);
        this.interrupted = null;
        takeSlot(this.controller, this.parameter?.map, job.slot, (state) => {
            if (this.job !== job) return;
            this.job = null;
            this.onEvent({ type: 'finished', slot: job.slot, name: job.name, state, resent: result.resent.length });
        });
    }

    // Renames a slot: only its name is written, and read back.
    rename(slot, name) {
        if (!this.isConnected() || this.job) return false;
        const held = unitName(name, this.setting.irDataNameLength).name;
        const messages = [nameMessage(this.setting, slot, name)];
        const job = { slot, name: held, what: 'rename', messages };
        this.job = job;
        this.writer = new VerifiedWrite({
            readWrite: this.readWrite,
            onSent: () => this.parameter?.store(messages[0].address, messages[0].data.match(/../g)),
        });
        this.writer.run(messages, {}, (result) => {
            this.writer = null;
            if (this.job !== job) return;
            this.job = null;
            if (result.ok) return this.onEvent({ type: 'renamed', slot, name: held });
            this.onEvent({ type: 'renameFailed', slot, name: held, report: this.stopReport(job, result) });
        });
        return true;
    }

    // Initialises a slot; resolves true when the unit echoes the command.
    initialize(slot) {
        return new Promise((resolve) => {
            if (!this.isConnected()) return resolve(false);
            initializeSlot(this.controller, slot, (ok) => {
                if (ok) {
                    this.marks?.clear(slot);
                    if (this.interrupted?.slot === slot) this.interrupted = null;
                }
                resolve(ok);
            });
        });
    }
}
