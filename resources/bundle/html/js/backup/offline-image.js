// A backup file opened without the unit: its system settings, user patches
// and slots held in a parameter model of their own (no link behind it), so
// that the same editors edit it. It is saved as a backup file again (the
// same format, the coefficients enciphered again) or written into a unit
// with the verified restore.
import { Parameter } from '../params/parameter.js';
import { backupAreas, buildBackup, parseBackup } from './backup-format.js';

const LOADED = 1;

export class BackupImage {
    // areas: what parseBackup gave; path: the file it came from.
    constructor({ map, setting, areas, path }) {
        Object.assign(this, { map, setting, path });
        this.parameter = new Parameter({ map, controller: null, setting });
        this.present = { userPatch: [], irData: [], system: false };
        for (const a of areas) {
            for (const [id, data] of a.blocks) this.parameter.setdata(id, data);
            if (a.section === 'system') this.present.system = true;
            else this.present[a.section][a.index] = true;
        }
        for (let k = 0; k < setting.numOfIrData; k++) {
            this.parameter.set(`IRDATA%STATUS%${k}`, this.present.irData[k] ? LOADED : 0, false);
        }
        this.saved = this.snapshot();
    }

    // Reads a backup's text; throws BackupError like a restore does.
    static fromText(text, { map, setting, decrypt, path = '' }) {
        return new BackupImage({ map, setting, areas: parseBackup(text, { map, setting, decrypt }), path });
    }

    // The areas the file holds (or will hold when saved).
    heldAreas() {
        return backupAreas(this.setting).filter(({ section, index }) => this.holds(section, index));
    }

    holds(section, index) {
        return section === 'system' ? this.present.system : !!this.present[section][index];
    }

    // Every block of the areas held, as text (what "changed" compares). The
    // coefficients are not edited here (a slot is only cleared, which
    // "held" says), and they are most of the file: left out.
    snapshot() {
        const out = {};
        for (const { area } of this.heldAreas()) {
            for (const id of this.map.areaBlocks(area)) if (!id.endsWith('%DATA')) out[id] = this.parameter.paramSet[id].join('');
        }
        out.held = JSON.stringify(this.present);
        return out;
    }

    // Edits since it was opened or last saved.
    get changed() {
        const now = this.snapshot();
        const keys = new Set([...Object.keys(now), ...Object.keys(this.saved)]);
        return [...keys].some((k) => now[k] !== this.saved[k]);
    }

    // The image of an area as opened or last saved (blockId -> data).
    savedImage(area) {
        return new Map(this.map.areaBlocks(area).map((id) => [id, (this.saved[id] ?? this.map.block(id).initial.join('')).match(/../g) ?? []]));
    }

    slotName(k) {
        return String(this.parameter.get(`IRDATA(${k + 1})%NAME%0`)).trimEnd();
    }

    // A slot without data in the file holds nothing that could be renamed.
    renameSlot(k, name) {
        if (!this.present.irData[k]) return false;
        return this.parameter.set(`IRDATA(${k + 1})%NAME%0`, String(name).padEnd(this.setting.irDataNameLength, ' '), false);
    }

    // The slot leaves the file (written to a unit, it can clear it there).
    clearSlot(k) {
        if (!this.present.irData[k]) return false;
        this.present.irData[k] = false;
        for (const part of ['NAME', 'SIZE', 'FILE', 'DATA']) this.parameter.initialize(`IRDATA(${k + 1})%${part}`);
        this.parameter.set(`IRDATA%STATUS%${k}`, 0, false);
        return true;
    }

    // The backup object, ready for JSON; encrypt(hex) -> hex.
    toBackup(encrypt) {
        return buildBackup({
            map: this.map, parameter: this.parameter, setting: this.setting, encrypt,
            present: (section, i) => this.holds(section, i),
        });
    }

    markSaved(path) {
        this.path = path;
        this.saved = this.snapshot();
    }

    // What a restore of it writes, in the form BackupSession.restore takes
    // (contents still to be added by the session); the slots it holds no
    // data for are listed as empty.
    restorePlan() {
        const areas = this.heldAreas().map(({ section, index, area }) => ({
            section, index, area,
            blocks: new Map(this.map.areaBlocks(area).map((id) => [id, [...this.parameter.paramSet[id]]])),
        }));
        const summary = {
            system: {},
            userPatch: Array.from({ length: this.setting.numOfUserPatch }, (_, i) => (this.present.userPatch[i] ? {} : null)),
            irData: Array.from({ length: this.setting.numOfIrData }, (_, k) => (this.present.irData[k]
                ? { 'IRDATA%NAME': [...this.parameter.paramSet[`IRDATA(${k + 1})%NAME`]] } : null)),
        };
        const empty = [];
        for (let k = 0; k < this.setting.numOfIrData; k++) if (!this.present.irData[k]) empty.push(k);
        return { path: this.path, areas, backup: summary, empty };
    }
}
