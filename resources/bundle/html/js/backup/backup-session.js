// Saving the unit's memory to a backup file and writing one back, over the
// batch reader and writer.
//
// Events handed to onEvent:
//   { type: 'progress', phase: 'read' | 'write', percent }
//   { type: 'error', reason: 'timeout' | 'fileError' | 'unsupported' | 'sendError', message }
//   { type: 'saved', path, contents } / { type: 'restored', path, contents }
import { BackupError, backupAreas, buildBackup, describeBackup, parseBackup, restoreTasks } from './backup-format.js';
import { UnitAddress } from '../link/product-setting.js';
import { hex8, nibble } from '../link/sysex.js';

const LOADED = 1;

export class BackupSession {
    constructor({ native, map, parameter, readWrite, setting, isConnected, onEvent = () => {} }) {
        Object.assign(this, { native, map, parameter, readWrite, setting, isConnected, onEvent });
        this.job = null;
    }

    get busy() {
        return this.job !== null;
    }

    slotLoaded(index) {
        return this.parameter.get(`IRDATA%STATUS%${index}`) === LOADED;
    }

    readTasks(areas) {
        const tasks = [];
        for (const area of areas) {
            for (const id of this.map.areaBlocks(area)) {
                const { address, sizes } = this.parameter.getblock(id);
                let at = address;
                for (const size of sizes) {
                    tasks.push({ address: at, size });
                    at += Math.abs(size);
                }
            }
        }
        return tasks;
    }

    run(tasks, kind, phase, done) {
        const observer = (state) => {
            if (this.job?.observer !== observer) return;
            if (typeof state === 'number') return this.onEvent({ type: 'progress', phase, percent: state });
            this.readWrite.removeObserver(observer);
            if (state === 'end') return done();
            this.fail(phase === 'read' ? 'timeout' : 'sendError', 'The unit stopped answering.');
        };
        this.job.observer = observer;
        this.readWrite.addObserver(observer);
        if (kind === 'read') this.readWrite.readStart(tasks);
        else this.readWrite.writeStart(tasks, { endWait: 0 });
    }

    // Reads the slot states, then the system, both user patches and the
    // loaded slots, and writes the file.
    save(path) {
        if (this.job || !path) return false;
        if (!this.isConnected()) return this.fail('sendError', 'No unit is connected.', true);
        this.job = { path };
        this.run(this.readTasks(['IRDATA']), 'read', 'read', () => {
            const areas = backupAreas(this.setting)
                .filter((a) => a.section !== 'irData' || this.slotLoaded(a.index))
                .map((a) => a.area);
            this.run(this.readTasks(areas), 'read', 'read', () => this.writeFile());
        });
        return true;
    }

    writeFile() {
        const { path } = this.job;
        let backup;
        try {
            backup = buildBackup({
                map: this.map, parameter: this.parameter, setting: this.setting,
                encrypt: (hex) => this.native.security.aes.encrypt(hex),
                present: (section, i) => section !== 'irData' || this.slotLoaded(i),
            });
            this.native.fs.writeString(path, JSON.stringify(backup));
        } catch (e) {
            return this.fail('fileError', e.message);
        }
        this.job = null;
        this.onEvent({ type: 'saved', path, contents: describeBackup(backup) });
    }

    // Reads and checks the file, then writes every area it holds.
    restore(path) {
        if (this.job || !path) return false;
        let text;
        let areas;
        try {
            text = this.native.fs.readString(path);
            if (typeof text !== 'string') throw new Error('the file could not be read');
        } catch (e) {
            return this.fail('fileError', e.message, true);
        }
        try {
            areas = parseBackup(text, {
                map: this.map, setting: this.setting,
                decrypt: (hex) => this.native.security.aes.decrypt(hex),
            });
        } catch (e) {
            return this.fail('unsupported', e instanceof BackupError ? e.message : 'this file is unsupported', true);
        }
        if (!this.isConnected()) return this.fail('sendError', 'No unit is connected.', true);
        this.job = { path };
        const backup = JSON.parse(text);
        // As after a load, the unit takes a written slot only on the set-IR
        // command; without it a slot that was cleared since the backup stays
        // empty in the unit although its data is back.
        const tasks = restoreTasks(this.map, areas);
        for (const { section, index } of areas) {
            if (section === 'irData') tasks.push({ address: nibble(UnitAddress.setIrData), data: hex8(index) });
        }
        this.run(tasks, 'write', 'write', () => {
            for (const { blocks } of areas) for (const [id, data] of blocks) this.parameter.setdata(id, data);
            this.job = null;
            this.onEvent({ type: 'restored', path, contents: describeBackup(backup) });
        });
        return true;
    }

    cancel() {
        if (!this.job) return;
        if (this.job.observer) this.readWrite.removeObserver(this.job.observer);
        this.readWrite.cancel();
        this.job = null;
        this.onEvent({ type: 'cancelled' });
    }

    fail(reason, message, early = false) {
        if (this.job?.observer) this.readWrite.removeObserver(this.job.observer);
        this.job = null;
        this.onEvent({ type: 'error', reason, message });
        return early ? false : undefined;
    }
}
