// A backup file edited without the unit: opened into an image of its own,
// shown by the same editors (slots, patches, system settings), its slots'
// curves drawn from their coefficients; saved as a new file by default, and
// written into a unit later with the verified restore. While it is open a
// bar above the editors says so.
import { BackupError, EXTENSION } from '../backup/backup-format.js';
import { BackupImage } from '../backup/offline-image.js';
import { EditSource, SourceKind } from '../params/edit-source.js';
import { showDialog, showError } from './dialogs.js';
import { showReport } from './transfer-ui.js';
import { confirmRestore } from './backup-flow.js';
import { showSlotCurve } from './slot-curve.js';
import { decodeFileName } from './slot-list.js';
import { baseNameOf, folderOf } from './file-dialogs.js';

const $ = (id) => document.getElementById(id);

// "gig.alb" -> "gig edited.alb"
export function editedName(path) {
    const base = baseNameOf(path).replace(/\.alb$/i, '');
    return `${base} edited.${EXTENSION}`;
}

export function installBackupEditing(ctx) {
    const { kx5, view, unitSource, backup, dialogs } = ctx;
    let image = null;
    let source = null;

    const bar = $('offline-bar');
    const showBar = () => {
        bar.hidden = !image;
        document.body.classList.toggle('offline', !!image);
        if (!image) return;
        $('offline-name').textContent = baseNameOf(image.path);
        $('offline-name').title = image.path;
        $('offline-edited').hidden = !image.changed;
    };

    const read = (path) => {
        let text;
        try {
            text = kx5.native.fs.readString(path);
            if (typeof text !== 'string') throw new Error('the file could not be read');
        } catch (e) {
            showError('fileError', e.message);
            return null;
        }
        try {
            return BackupImage.fromText(text, {
                map: kx5.map, setting: kx5.setting, path,
                decrypt: (hex) => kx5.native.security.aes.decrypt(hex),
            });
        } catch (e) {
            if (!(e instanceof BackupError)) throw e;
            showDialog({ title: 'Unsupported data', text: `${baseNameOf(path)}: ${e.message}.` });
            return null;
        }
    };

    // Asks what to do with unsaved changes; true when it may go on.
    const mayLeave = async (doing) => {
        if (!image?.changed) return true;
        const answer = await showDialog({
            title: 'Unsaved backup changes',
            text: `${baseNameOf(image.path)} has changes that are not saved. ${doing} loses them unless they are saved first.`,
            buttons: [{ label: 'Save as…', value: 'save', primary: true }, { label: 'Discard', value: 'discard' }, { label: 'Cancel', value: 'cancel' }],
        });
        if (answer === 'save') return save();
        return answer === 'discard';
    };

    const open = async (path) => {
        if (image && !(await mayLeave('Opening another file'))) return false;
        const opened = read(path);
        if (!opened) return false;
        ctx.remember(path);
        const previous = source;
        image = opened;
        source = new EditSource({
            kind: SourceKind.backup, label: baseNameOf(path), parameter: image.parameter,
            savedImage: (area) => opened.savedImage(area),
        });
        source.onEdited(showBar);
        source.parameter.addObserver(() => showBar());
        ctx.patchPanel?.follow(source);
        view.use(source);
        if (previous) view.release(previous);
        showBar();
        ctx.selectTab?.('tab-patch');
        return true;
    };

    const openDialog = async () => {
        const path = await dialogs.open([EXTENSION], ctx.lastFolder());
        if (path) await open(path);
    };

    // Saved under a name asked for (a new one unless chosen otherwise);
    // true once written.
    const save = async () => {
        if (!image) return false;
        const path = await dialogs.save(`${folderOf(image.path) || ctx.lastFolder()}/${editedName(image.path)}`, EXTENSION);
        if (!path) return false;
        let contents;
        try {
            const saved = image.toBackup((hex) => kx5.native.security.aes.encrypt(hex));
            kx5.native.fs.writeString(path, JSON.stringify(saved));
            contents = backup.contents(saved);
        } catch (e) {
            showError('fileError', e.message);
            return false;
        }
        ctx.remember(path);
        image.markSaved(path);
        showBar();
        await showReport('Backup saved', `${path}\nIt holds ${contents.text}.`);
        return true;
    };

    const close = async () => {
        if (!image || !(await mayLeave('Closing the file'))) return false;
        const closed = source;
        image = null;
        source = null;
        view.use(unitSource);
        view.release(closed);
        showBar();
        return true;
    };

    // The verified restore, from the image as it is now.
    const writeToUnit = async () => {
        if (!image || !ctx.needUnit()) return;
        const plan = image.restorePlan();
        const inspected = { ...plan, contents: backup.contents(plan.backup) };
        const choice = await confirmRestore(inspected);
        if (choice && (await ctx.ensureUnit())) backup.restore(inspected, choice);
    };

    const where = () => baseNameOf(image?.path ?? '');
    const renameSlot = async (k) => {
        if (!image.present.irData[k]) return showDialog({ title: `Slot ${k + 1}`, text: `${where()} holds no data for slot ${k + 1}.` });
        const input = document.createElement('input');
        input.type = 'text';
        input.value = image.slotName(k);
        input.setAttribute('aria-label', 'Slot name');
        input.addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); $('dialog-buttons').firstChild.click(); } });
        const held = document.createElement('p');
        held.className = 'hint';
        held.id = 'rename-held';
        const show = () => { held.textContent = ctx.slotNameLine(input.value, false).replace('The unit will name', 'The file will name'); };
        input.addEventListener('input', show);
        show();
        const body = document.createElement('div');
        body.append(input, held);
        const answer = showDialog({ title: `Rename slot ${k + 1} in ${where()}`, body, buttons: [{ label: 'Rename', value: 'ok', primary: true }, { label: 'Cancel', value: 'cancel' }] });
        input.focus();
        if ((await answer) === 'ok') image.renameSlot(k, ctx.unitName(input.value));
    };
    const clearSlot = async (k) => {
        if (!image.present.irData[k]) return;
        const go = await showDialog({
            title: `Clear slot ${k + 1} in ${where()}?`,
            text: 'The slot leaves the file. Written to a unit, the file can clear it there too.',
            buttons: [{ label: 'Clear', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        if (go === 'go') image.clearSlot(k);
    };
    const showSlot = (k) => {
        if (!image) return;
        ctx.selectTab?.('tab-preview');
        showSlotCurve(ctx.preview(), image.parameter, k, { where: where(), name: image.slotName(k), file: decodeFileName(image.parameter, k) });
    };

    $('edit-backup-button').addEventListener('click', openDialog);
    $('offline-save').addEventListener('click', save);
    $('offline-write').addEventListener('click', writeToUnit);
    $('offline-close').addEventListener('click', close);
    showBar();

    return {
        open, openDialog, save, close, writeToUnit, mayLeave, renameSlot, clearSlot, showSlot,
        get active() { return !!image; },
        get changed() { return !!image?.changed; },
    };
}
