// Edits of the patch being edited that are not written into a user patch
// yet. They are marked "edited"; switching patch, leaving the unit or
// closing the window with such edits asks first: write, discard or cancel.
// Whether the unit's working patch differs from its stored one is asked of
// the unit after each connection (the patch-stored question).
import { hex8, nibble, _7bitize } from '../link/sysex.js';
import { UnitAddress } from '../link/product-setting.js';
import { showDialog } from './dialogs.js';

export const Choice = Object.freeze({ write: 'write', discard: 'discard', cancel: 'cancel' });

export class PatchEdits {
    // badges: elements shown while there are unsaved edits; writeTo(n),
    // when given, writes into user patch n instead of write() (resolves
    // true once the unit holds it).
    constructor({ kx5, badges = [], writeTo = null }) {
        this.kx5 = kx5;
        this.badges = badges;
        this.writeTo = writeTo;
        this.edited = false;
    }

    set(edited) {
        this.edited = edited;
        for (const b of this.badges) b.hidden = !edited;
    }

    // The patch number the working patch came from (0-based).
    current() {
        return Number(this.kx5.parameter.get('SETUP%COMMON%0')) || 0;
    }

    // Asks the unit whether its working patch is the stored one.
    checkUnit() {
        this.kx5.controller.waitRQ1(nibble(UnitAddress.patchStored), 1, {
            success: (data) => this.set(data.substr(0, 2) !== '01'),
            error: () => {},
        });
    }

    // Writes the working patch into user patch n; resolves true when the
    // unit confirmed it (its echo of the command).
    write(n = this.current()) {
        const c = this.kx5.controller;
        const address = nibble(UnitAddress.patchWrite);
        const h = c.headerLength;
        return new Promise((resolve) => {
            c.waitDT1(address, hex8(n), {
                isReply: (m) => m.substr(h - 2, 2) === '12' && m.substr(h, 8) === _7bitize(address),
                success: () => {
                    const p = this.kx5.parameter;
                    for (const id of this.kx5.map.areaBlocks('PATCH')) p.setdata(id.replace(/^PATCH%/, `PATCH(${n + 1})%`), p.copyblock(id));
                    this.set(false);
                    resolve(true);
                },
                error: () => resolve(false),
            });
        });
    }

    // Asks what to do with unsaved edits before `what` ("switch", "connect",
    // "close"); resolves with a Choice (write has been done when it says so).
    async ask(what) {
        if (!this.edited) return Choice.discard;
        const n = this.current();
        const doing = { switch: 'Switching patch', connect: 'Leaving this unit', close: 'Closing the editor' }[what] ?? 'Going on';
        const answer = await showDialog({
            title: 'Unsaved patch edits',
            text: `The patch being edited (from user patch ${n + 1}) has edits that are not written. ${doing} loses them unless they are written first.`,
            buttons: [
                { label: `Write to user patch ${n + 1}`, value: Choice.write, primary: true },
                { label: 'Discard', value: Choice.discard },
                { label: 'Cancel', value: Choice.cancel },
            ],
        });
        if (answer !== Choice.write) return answer;
        const written = this.writeTo ? await this.writeTo(n) : await this.write(n);
        if (written) {
            this.set(false);
            return Choice.write;
        }
        await showDialog({ title: 'Not written', text: 'The unit did not confirm the write. The edits are still unsaved.' });
        return Choice.cancel;
    }
}
