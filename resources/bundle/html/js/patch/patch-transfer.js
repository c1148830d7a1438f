// Patches moved between the unit and the editor, each proved like a slot
// load: what is written is read back and compared, what differs is sent
// once more and checked again. Used for writing the patch being edited into
// a user patch, loading a patch file, and copying or swapping the user
// patches.
//
// Every operation resolves with { ok: true, resent } or { ok: false,
// reason, text }: reason "timeout" (the unit stopped answering), "differ"
// (still wrong after the second send), "busy", "sendError" (no unit), or
// what abort() was given.
import { VerifiedWrite } from '../transfer/verified-write.js';
import { describeMessages } from '../transfer/transfer-report.js';
import { ObserverSlot } from '../params/read-write-logic.js';
import { _7bitize, hex8, nibble } from '../link/sysex.js';
import { UnitAddress } from '../link/product-setting.js';
import { imageMessages } from './syx-file.js';

export const WRITE_GAP_MS = 8;

// "PATCH(2)" -> 1; "PATCH" -> null.
export const userPatchIndex = (area) => {
    const m = /^PATCH\((\d+)\)$/.exec(area);
    return m ? Number(m[1]) - 1 : null;
};

// An image of one patch area as the image of another.
export function relocate(image, toArea) {
    const out = new Map();
    for (const [id, data] of image) out.set(`${toArea}%${id.split('%').slice(1).join('%')}`, [...data]);
    return out;
}

export class PatchTransfer {
    constructor({ map, parameter, readWrite, controller, isConnected, isBusy = () => false, onProgress = () => {} }) {
        Object.assign(this, { map, parameter, readWrite, controller, isConnected, isBusy, onProgress });
        this.running = null;
        this.writer = null;
        this.observing = new ObserverSlot(readWrite);
    }

    get busy() {
        return this.running !== null;
    }

    // The model's image of an area (blockId -> data).
    image(area) {
        return new Map(this.map.areaBlocks(area).map((id) => [id, [...this.parameter.paramSet[id]]]));
    }

    // Runs one operation: job(done) calls done(result) once.
    run(job) {
        if (this.running) return Promise.resolve({ ok: false, reason: 'busy', text: 'Another transfer is running.' });
        if (this.isBusy() || this.readWrite.busy) return Promise.resolve({ ok: false, reason: 'busy', text: 'Another transfer is running.' });
        if (!this.isConnected()) return Promise.resolve({ ok: false, reason: 'sendError', text: 'No unit is connected.' });
        return new Promise((resolve) => {
            const token = {};
            this.running = token;
            job((result) => {
                if (this.running !== token) return;
                this.running = null;
                this.writer = null;
                this.observing.detach();
                resolve(result);
            });
        });
    }

    // The unit went away or the user cancelled: the running operation ends.
    abort(reason = 'cancelled') {
        if (!this.running) return;
        if (this.writer?.running) return this.writer.abort(reason);
        this.readWrite.cancel();
        this.observing.detach();
        const done = this.finish;
        this.finish = null;
        done?.({ ok: false, reason, text: 'Nothing was written.' });
    }

    // Reads whole areas into the model.
    readAreas(areas, done) {
        const tasks = this.parameter.readTasks(areas.flatMap((a) => this.map.areaBlocks(a)));
        this.observing.attach((state) => {
            if (typeof state === 'number') return this.onProgress({ phase: 'read', percent: state });
            this.observing.detach();
            done(state === 'end');
        });
        this.onProgress({ phase: 'read', percent: 0 });
        this.readWrite.readStart(tasks);
    }

    // Writes messages and proves them; write false only proves them.
    verified(messages, write, done) {
        this.writer = new VerifiedWrite({
            readWrite: this.readWrite, gap: WRITE_GAP_MS, onProgress: this.onProgress,
            onSent: (i) => this.parameter.store(messages[i].address, messages[i].data.match(/../g) ?? []),
        });
        this.writer.run(messages, { write }, (result) => {
            if (result.ok) return done({ ok: true, resent: result.resent.length });
            done({ ok: false, reason: result.reason, text: this.report(messages, result) });
        });
    }

    report(messages, result) {
        if (result.reason === 'differ') return `The unit does not hold what was sent, even after sending it again: ${describeMessages(this.map, messages, result.differing)}.`;
        if (result.phase === 'write' && result.sent < messages.length) {
            return result.sent === 0 ? 'Nothing was sent.' : `Sent: ${result.sent} of ${messages.length} messages.`;
        }
        return 'Everything was sent, but not verified.';
    }

    // Reads areas first and then goes on; a read that times out ends it.
    afterRead(areas, done, then) {
        this.readAreas(areas, (ok) => (ok ? then() : done({ ok: false, reason: 'timeout', text: 'The unit stopped answering while it was read.' })));
    }

    // Writes image (blockId -> data of any patch area) into area: the
    // patch being edited ("PATCH") or a user patch. The model takes each
    // message as it goes out.
    load(image, area) {
        return this.run((done) => {
            this.finish = done;
            this.verified(imageMessages(this.map, relocate(image, area)), true, done);
        });
    }

    // Fresh images of areas from the unit.
    read(areas) {
        return this.run((done) => {
            this.finish = done;
            this.afterRead(areas, done, () => done({ ok: true, images: new Map(areas.map((a) => [a, this.image(a)])) }));
        });
    }

    // User patch from -> user patch to (areas), as the unit holds it now.
    copy(from, to) {
        return this.run((done) => {
            this.finish = done;
            this.afterRead([from], done, () => this.verified(imageMessages(this.map, relocate(this.image(from), to)), true, done));
        });
    }

    // The two user patches change places.
    swap(a, b) {
        return this.run((done) => {
            this.finish = done;
            this.afterRead([a, b], done, () => {
                const messages = [...imageMessages(this.map, relocate(this.image(b), a)), ...imageMessages(this.map, relocate(this.image(a), b))];
                this.verified(messages, true, done);
            });
        });
    }

    // The patch being edited into user patch n (0-based): the unit's patch
    // write, then the user patch read back and compared with what was
    // edited (what differs is sent once more).
    writeEdited(n) {
        return this.run((done) => {
            this.finish = done;
            const address = nibble(UnitAddress.patchWrite);
            const h = this.controller.headerLength;
            this.onProgress({ phase: 'write', percent: 0 });
            const cancel = this.controller.waitDT1(address, hex8(n), {
                isReply: (m) => m.substr(h - 2, 2) === '12' && m.substr(h, 8) === _7bitize(address),
                success: () => {
                    this.onProgress({ phase: 'write', percent: 100 });
                    const image = relocate(this.image('PATCH'), `PATCH(${n + 1})`);
                    this.verified(imageMessages(this.map, image), false, (result) => {
                        if (result.ok) for (const [id, data] of image) this.parameter.setdata(id, data);
                        done(result);
                    });
                },
                error: () => done({ ok: false, reason: 'timeout', text: 'The unit did not confirm the write.' }),
            });
            this.finish = (result) => { cancel(); done(result); };
        });
    }
}
