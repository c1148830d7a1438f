// Loading a WAV file (or restoring a factory set) into an impulse-response
// slot: the host checks and converts the file, the page writes name, file
// name and coefficients into the unit, reads the slot back and tells the unit
// to take the new data.
//
// Events handed to onEvent:
//   { type: 'channel', stat }              stereo file: call chooseChannel(0|1)
//   { type: 'progress', phase, percent }   phase "convert" or "write"
//   { type: 'error', reason }              "unsupported", "extensible", "fileError",
//                                          "readError", "sendError", "busy"
//   { type: 'cancelled' }
//   { type: 'finished', slot, name }
import { systemClock } from '../link/clock.js';
import { _7bitize, hex8, nibble } from '../link/sysex.js';
import { UnitAddress } from '../link/product-setting.js';
import {
    COEFFICIENT_WORDS, buildWriteList, fileName, nameBytes, nameMessage, slotName, wordsFromHex,
} from './ir-messages.js';
import { factoryFolder as bundleFactoryFolder, readFactoryIndex, readFactoryWords } from './factory-sets.js';

export const PROGRESS_POLL_MS = 100;
export const MESSAGE_GAP_MS = 8;
const WAVE_FORMAT_EXTENSIBLE = 0xfffe;

export class IrDataLoader {
    constructor({
        native, router, controller, readWrite, parameter, setting, isConnected, clock = systemClock, onEvent = () => {},
        factoryFolder = bundleFactoryFolder(),
    }) {
        Object.assign(this, { native, router, controller, readWrite, parameter, setting, isConnected, clock, onEvent, factoryFolder });
        this.job = null;
        this.pollTimer = null;
        router.listen('wavstat', (a) => this.onWavstat(a));
        router.listen('convert', (a) => this.onConvert(a));
    }

    get busy() {
        return this.job !== null;
    }

    // Starts loading `path` into slot (0-based).
    load(slot, path) {
        if (this.job) return false;
        this.job = { slot, path, phase: 'wavstat' };
        this.router.request('wavstat', { path });
        return true;
    }

    onWavstat(answer) {
        const job = this.job;
        if (!('result' in answer)) return;
        if (!job || job.phase !== 'wavstat') return;
        if (!answer.result || (answer.channels !== 1 && answer.channels !== 2)) return this.fail('unsupported');
        // The conversion refuses the extensible header; say so before trying.
        if (answer.format === WAVE_FORMAT_EXTENSIBLE) return this.fail('extensible');
        job.stat = answer;
        if (answer.channels === 1) return this.convert(null);
        job.phase = 'channel';
        this.onEvent({ type: 'channel', stat: answer });
    }

    chooseChannel(channel) {
        if (this.job?.phase !== 'channel') return;
        this.convert(channel === 1 ? 1 : 0);
    }

    convert(channel) {
        const job = this.job;
        job.channel = channel;
        job.phase = 'convert';
        this.onEvent({ type: 'progress', phase: 'convert', percent: 0 });
        this.router.request('convert', { path: job.path, ch: channel ?? 0 });
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

    // The user's cancel: stops the conversion or the write and forgets the slot.
    cancel() {
        const job = this.job;
        if (!job) return;
        if (job.phase === 'convert') {
            this.router.request('convert', { req: 'cancel' });
        } else if (job.phase === 'write' || job.phase === 'readback') {
            this.readWrite.cancel();
            this.detach();
        }
        this.stopPolling();
        this.job = null;
        this.onEvent({ type: 'cancelled' });
    }

    fail(reason) {
        this.stopPolling();
        this.detach();
        this.job = null;
        this.onEvent({ type: 'error', reason });
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
        job.name = slotName(job.path, job.channel, this.setting.irDataNameLength);
        this.writeSlot({ name: job.name, file: fileName(job.path), words });
    }

    // The factory sets carried in the bundle (entries for loadFactory).
    factorySets() {
        return readFactoryIndex(this.native, this.factoryFolder);
    }

    // Restores a factory set into slot (0-based) under its own name and file
    // name: the same write, read-back and set-IR command as a file load.
    // false only while another load runs; a set that cannot be read ends in
    // a "readError" event.
    loadFactory(slot, set) {
        if (this.job) return false;
        this.job = { slot, path: set?.file ?? '', phase: 'factory' };
        const words = readFactoryWords(this.native, set, this.factoryFolder);
        if (!words) {
            this.fail('readError');
            return true;
        }
        this.onEvent({ type: 'progress', phase: 'write', percent: 0 });
        const name = [...set.name].slice(0, this.setting.irDataNameLength).join('');
        this.writeSlot({ name, file: set.file, words });
        return true;
    }

    // Writes a complete slot image (also used for the factory sets).
    writeSlot({ name, file, words }) {
        const job = this.job;
        // Reported as the unit will hold it (printable ASCII, "?" for the rest).
        job.name = String.fromCharCode(...nameBytes(name, this.setting.irDataNameLength)).trimEnd();
        if (!this.isConnected()) return this.fail('sendError');
        const tasks = buildWriteList(this.setting, job.slot, { name, file, words })
            .map((m) => ({ ...m, wait: MESSAGE_GAP_MS }));
        job.phase = 'write';
        this.attach((state) => {
            if (typeof state === 'number') return this.onEvent({ type: 'progress', phase: 'write', percent: state });
            this.detach();
            if (state === 'end') this.readBack();
            else this.close('sendError');
        });
        this.readWrite.writeStart(tasks);
    }

    // Reads the slot's size, name and file name back into the parameter model.
    readBack() {
        const job = this.job;
        job.phase = 'readback';
        const tasks = [];
        for (const part of ['SIZE', 'NAME', 'FILE']) {
            const block = this.parameter.getblock(`IRDATA(${job.slot + 1})%${part}`);
            if (!block) continue;
            let at = block.address;
            for (const size of block.sizes) {
                tasks.push({ address: at, size });
                at += size;
            }
        }
        this.attach((state) => {
            if (typeof state === 'number') return;
            this.detach();
            this.close(state === 'end' ? null : 'sendError');
        });
        this.readWrite.readStart(tasks);
    }

    // Set-IR command and "finished", after a failure too.
    close(error) {
        const job = this.job;
        if (error) this.onEvent({ type: 'error', reason: error });
        this.controller.dt1(nibble(UnitAddress.setIrData), hex8(job.slot));
        this.job = null;
        this.onEvent({ type: 'finished', slot: job.slot, name: job.name, error });
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

    // Renames a slot: only its name is written.
    rename(slot, name) {
        if (!this.isConnected()) return false;
        const m = nameMessage(this.setting, slot, name);
        this.controller.dt1(m.address, m.data);
        this.parameter?.store(m.address, m.data.match(/../g));
        return true;
    }

    // Initialises a slot; resolves true when the unit echoes the command.
    initialize(slot) {
        return new Promise((resolve) => {
            if (!this.isConnected()) return resolve(false);
            const address = nibble(UnitAddress.irSlotInitialize);
            const data = hex8((slot >> 7) & 0x7f) + hex8(slot & 0x7f);
            const h = this.controller.headerLength;
            this.controller.waitDT1(address, data, {
                isReply: (m) => m.substr(h - 2, 2) === '12' && m.substr(h, 8) === _7bitize(address),
                success: () => resolve(true),
                error: () => resolve(false),
            });
        });
    }
}
