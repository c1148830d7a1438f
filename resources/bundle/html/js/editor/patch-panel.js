// The patch view's tools, over the unit or a backup file alike: the patch
// selector with the patches' names, undo and redo, compare (A/B) with the
// stored patch, writing the patch being edited into a user patch (read back
// and verified, then confirmed), patch files (.syx) saved and loaded, and
// copying or swapping the two user patches. The system view gets undo and
// redo of its own.
import { hex8, nibble } from '../link/sysex.js';
import { UnitAddress } from '../link/product-setting.js';
import { showDialog, showError } from './dialogs.js';
import { ProgressDialog, showReport, stopReason } from './transfer-ui.js';
import { Comparison, Side, describeDifferences } from './compare.js';
import { SourceKind } from '../params/edit-source.js';
import { imageChanges } from '../params/undo-history.js';
import { MAX_SYX_BYTES, SYX_EXTENSION, SyxError, imageMessages, parsePatchFile, patchFileName, syxHex } from '../patch/syx-file.js';
import { relocate, userPatchIndex } from '../patch/patch-transfer.js';
import { baseNameOf } from './file-dialogs.js';
import { areaLabel } from '../params/display.js';

const $ = (id) => document.getElementById(id);
const EDITED = 'PATCH';

const patchWords = (area) => (area === EDITED ? 'the patch being edited' : areaLabel(area));
const capital = (text) => `${text[0].toUpperCase()}${text.slice(1)}`;

// The patch name an image holds (the text at the start of its COMMON block).
function imageName(image, area) {
    const common = image.get(`${area}%COMMON`) ?? [];
    return String.fromCharCode(...common.slice(0, 16).map((h) => parseInt(h, 16) & 0x7f)).trimEnd();
}

export function installPatchPanel(ctx) {
    const { kx5, view, unitSource, edits, transfer, dialogs, patchEditor, systemEditor } = ctx;
    const setting = kx5.setting;
    const select = $('patch-select');
    const progress = new ProgressDialog();
    transfer.onProgress = ({ phase, percent }) => progress.set(phase, percent);
    let comparison = null;
    // The unit's user patches are named once they were read.
    let unitNames = false;

    const source = () => view.current;
    const onUnit = () => source().kind === SourceKind.unit;
    const nameOf = (area) => String(source().parameter.get(`${area}%COMMON%0`)).trimEnd();
    const userAreas = () => Array.from({ length: setting.numOfUserPatch }, (_, i) => `PATCH(${i + 1})`);

    const showNames = () => {
        const known = !onUnit() || unitNames;
        userAreas().forEach((area, i) => {
            let option = select.options[i];
            if (!option) {
                option = new Option('', String(i));
                select.append(option);
            }
            const name = known ? nameOf(area) : '';
            option.textContent = name ? `${i + 1}: ${name}` : `User ${i + 1}`;
        });
        select.value = String(source().currentPatch());
    };

    // Undo and redo of the patch and the system area.
    const historyButtons = [
        { area: () => source().patchArea(), undo: $('patch-undo'), redo: $('patch-redo') },
        { area: () => 'SYSTEM', undo: $('system-undo'), redo: $('system-redo') },
    ];
    const showHistory = () => {
        for (const b of historyButtons) {
            const h = source().historyOf(b.area());
            const locked = !!source().lockedBy;
            b.undo.disabled = locked || !h.canUndo;
            b.redo.disabled = locked || !h.canRedo;
            b.undo.title = h.canUndo ? `Undo ${h.nextUndo().label} (Ctrl+Z)` : 'Nothing to undo (Ctrl+Z)';
            b.redo.title = h.canRedo ? `Redo ${h.nextRedo().label} (Ctrl+Shift+Z)` : 'Nothing to redo (Ctrl+Shift+Z)';
        }
    };
    const stepHistory = (area, kind) => {
        const s = source();
        if (s.lockedBy) return null;
        if (s.kind === SourceKind.unit && !ctx.needUnit()) return null;
        const step = kind === 'undo' ? s.undo(area) : s.redo(area);
        showHistory();
        return step;
    };
    for (const b of historyButtons) {
        b.undo.addEventListener('click', () => stepHistory(b.area(), 'undo'));
        b.redo.addEventListener('click', () => stepHistory(b.area(), 'redo'));
    }

    // What a transfer shows while it runs, and how it ended.
    const runTransfer = async (title, phases, start) => {
        progress.show(title, phases, () => transfer.abort('cancelled'));
        const result = await start();
        progress.close();
        if (!result.ok && result.reason === 'timeout') kx5.watch?.silent?.();
        return result;
    };
    const failed = (title, result) => {
        if (result.reason === 'busy') return showDialog({ title, text: result.text });
        if (result.reason === 'cancelled') return showReport(title, `Cancelled. ${result.text}`);
        return showReport(title, `${stopReason(result.reason)} ${result.text}`.trim());
    };
    const unitBusy = () => transfer.busy || ctx.isBusy() || kx5.readWrite.busy;

    // The unit plays the user patch again after it changed, unless the
    // patch being edited holds edits of its own.
    const reselect = async (area) => {
        if (!onUnit() || userPatchIndex(area) !== source().currentPatch() || edits.edited) return;
        kx5.controller.dt1(nibble(UnitAddress.patchSelect), hex8(userPatchIndex(area)));
        await transfer.read([EDITED]);
    };

    // --- compare ---

    const compareButton = $('patch-compare');
    const panel = $('patch-compare-panel');
    const showCompare = () => {
        const on = !!comparison;
        compareButton.setAttribute('aria-pressed', String(on));
        panel.hidden = !on;
        patchEditor.setLocked(on);
        if (on) {
            $('compare-edited').setAttribute('aria-pressed', String(comparison.side === Side.edited));
            $('compare-stored').setAttribute('aria-pressed', String(comparison.side === Side.stored));
            const hearing = onUnit() ? 'The unit plays' : 'Shown';
            const stored = onUnit() ? 'B, the stored patch' : 'B, the patch as the file holds it';
            $('compare-state').textContent = `${hearing}: ${comparison.side === Side.edited ? 'A, the edited patch' : stored}. ${comparison.diffs.length} parameter${comparison.diffs.length === 1 ? ' differs' : 's differ'}:`;
            const list = $('compare-list');
            list.replaceChildren(...describeDifferences(comparison.diffs, source().parameter).map((t) => {
                const li = document.createElement('li');
                li.textContent = t;
                return li;
            }));
        }
        showHistory();
    };
    const endCompare = () => {
        if (!comparison) return;
        comparison.end();
        comparison = null;
        showCompare();
    };
    const startCompare = async () => {
        const s = source();
        let stored;
        const area = s.patchArea();
        if (s.kind === SourceKind.unit) {
            if (!ctx.needUnit() || unitBusy()) return;
            const n = s.currentPatch();
            const result = await runTransfer('Reading the stored patch', ['read'], () => transfer.read([`PATCH(${n + 1})`]));
            if (!result.ok) return failed('Not compared', result);
            stored = relocate(result.images.get(`PATCH(${n + 1})`), EDITED);
        } else {
            stored = s.savedImage(area);
        }
        const c = new Comparison({ source: s, area, stored });
        if (!c.differs) {
            c.end();
            const what = s.kind === SourceKind.unit ? `user patch ${s.currentPatch() + 1} as the unit stores it` : 'the patch as the file holds it';
            return showDialog({ title: 'Nothing to compare', text: `The patch being edited equals ${what}.` });
        }
        comparison = c;
        comparison.show(Side.stored);
        showCompare();
    };
    const toggleCompare = () => {
        if (comparison) {
            comparison.toggle();
            showCompare();
        } else {
            startCompare();
        }
    };
    compareButton.addEventListener('click', () => (comparison ? endCompare() : startCompare()));
    $('compare-edited').addEventListener('click', () => { comparison?.show(Side.edited); showCompare(); });
    $('compare-stored').addEventListener('click', () => { comparison?.show(Side.stored); showCompare(); });
    $('compare-done').addEventListener('click', endCompare);

    // --- writing the patch being edited ---

    // Writes the patch being edited into user patch n (0-based), verified;
    // confirm shows how it ended.
    const writeEdited = async (n, { confirm = true } = {}) => {
        endCompare();
        if (!ctx.needUnit()) return false;
        const name = nameOf(EDITED);
        const result = await runTransfer(`Writing user patch ${n + 1}`, ['write', 'verify'], () => transfer.writeEdited(n));
        if (!result.ok) {
            if (confirm) failed(`User patch ${n + 1} not written`, result);
            return false;
        }
        // Written into the patch it came from, nothing is unsaved; into the
        // other one, the unit says.
        if (n === source().currentPatch()) edits.set(false);
        else edits.checkUnit();
        showNames();
        const again = result.resent ? ` ${result.resent} message${result.resent === 1 ? ' was' : 's were'} sent again.` : '';
        if (confirm) showReport('Patch written', `User patch ${n + 1} now holds "${name}", read back from the unit and verified.${again}`);
        return true;
    };
    const choosePatch = (label, areas, selected) => {
        const pick = document.createElement('select');
        pick.id = 'patch-target';
        pick.setAttribute('aria-label', label);
        for (const area of areas) {
            const named = area !== EDITED && (!onUnit() || unitNames) && nameOf(area);
            const option = new Option(`${capital(patchWords(area))}${named ? `: ${named}` : ''}`, area);
            option.selected = area === selected;
            pick.append(option);
        }
        return pick;
    };
    $('patch-write').addEventListener('click', async () => {
        if (!onUnit()) return showDialog({ title: 'Write', text: 'A backup file is being edited: its patches change as you edit them. Save the file, or write it to a unit.' });
        if (!ctx.needUnit()) return;
        const n = source().currentPatch();
        const pick = choosePatch('User patch', userAreas(), `PATCH(${n + 1})`);
        const go = await showDialog({
            title: 'Write the patch being edited?',
            text: `"${nameOf(EDITED)}" replaces the user patch chosen here. It is read back to check it.`,
            body: pick,
            buttons: [{ label: 'Write', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        if (go === 'go') writeEdited(userPatchIndex(pick.value));
    });

    // --- patch files ---

    const areasOffered = () => (onUnit() ? [EDITED, ...userAreas()] : userAreas());
    const saveFile = async (area = onUnit() ? EDITED : source().patchArea()) => {
        endCompare();
        let image;
        if (onUnit()) {
            if (!ctx.needUnit() || unitBusy()) return;
            if (area === EDITED) {
                image = transfer.image(EDITED);
            } else {
                const result = await runTransfer(`Reading ${areaLabel(area)}`, ['read'], () => transfer.read([area]));
                if (!result.ok) return failed('Patch not saved', result);
                image = result.images.get(area);
            }
        } else {
            image = new Map(kx5.map.areaBlocks(area).map((id) => [id, [...source().parameter.paramSet[id]]]));
        }
        const name = imageName(image, area);
        const folder = ctx.lastFolder();
        const path = await dialogs.save(folder ? `${folder}/${patchFileName(name)}` : patchFileName(name), SYX_EXTENSION);
        if (!path) return;
        ctx.remember(path);
        const messages = imageMessages(kx5.map, image);
        const hex = syxHex(setting, messages);
        try {
            kx5.native.fs.writeData(path, hex);
        } catch (e) {
            return showError('fileError', e.message);
        }
        showReport('Patch saved', `${path}\n"${name}" from ${patchWords(area)}: ${messages.length} DT1 messages, ${hex.length / 2} bytes. Any SysEx tool can send it to the unit.`);
    };

    const readPatchFile = (path) => {
        let hex;
        try {
            hex = kx5.native.fs.readData(path, JSON.stringify({ offset: 0, length: MAX_SYX_BYTES + 1 }));
        } catch (e) {
            showError('fileError', e.message);
            return null;
        }
        try {
            return parsePatchFile(hex, { map: kx5.map, setting });
        } catch (e) {
            if (!(e instanceof SyxError)) throw e;
            showDialog({ title: 'Not a patch file', text: `${baseNameOf(path)}: ${e.message}. Nothing was loaded.` });
            return null;
        }
    };

    // A parsed patch into area: on the unit a verified write (into the patch
    // being edited, one undo step); in a backup an undo step of its own.
    const loadInto = async (parsed, area, what) => {
        const s = source();
        const before = new Map(kx5.map.areaBlocks(area).map((id) => [id, [...s.parameter.paramSet[id]]]));
        const image = relocate(new Map([...parsed.blocks].map(([name, data]) => [`${parsed.area}%${name}`, data])), area);
        if (s.kind !== SourceKind.unit) {
            s.replace(area, imageChanges(before, image, kx5.map), `${what} into ${areaLabel(area)}`);
            showNames();
            showHistory();
            return true;
        }
        const result = await runTransfer(`Loading into ${patchWords(area)}`, ['write', 'verify'], () => transfer.load(image, area));
        if (!result.ok) {
            failed('Patch not loaded', result);
            return false;
        }
        // One undo step; the unit then says whether it is the stored patch.
        if (area === EDITED) {
            s.recordChanges(EDITED, imageChanges(before, image, kx5.map), what);
        } else {
            await reselect(area);
        }
        showNames();
        showHistory();
        return true;
    };

    // A patch file chosen in the open dialog, or handed to the program.
    const loadFile = async (handed = '') => {
        endCompare();
        if (onUnit() && (!ctx.needUnit() || unitBusy())) return;
        const path = handed || (await dialogs.open([SYX_EXTENSION], ctx.lastFolder()));
        if (!path) return;
        ctx.remember(path);
        const parsed = readPatchFile(path);
        if (!parsed) return;
        const pick = choosePatch('Load into', areasOffered(), onUnit() ? EDITED : source().patchArea());
        const go = await showDialog({
            title: `Load "${parsed.name}"?`,
            text: `${baseNameOf(path)} holds the whole patch "${parsed.name}" (${parsed.messages} messages). It replaces the patch chosen here${onUnit() ? ' and is read back from the unit to check it' : ''}.`,
            body: pick,
            buttons: [{ label: 'Load', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        if (go !== 'go') return;
        const area = pick.value;
        if (await loadInto(parsed, area, `"${parsed.name}" from ${baseNameOf(path)}`) && onUnit()) {
            showReport('Patch loaded', `${capital(patchWords(area))} now holds "${parsed.name}" from ${baseNameOf(path)}, read back from the unit and verified.`);
        }
    };

    // --- copy and swap ---

    const copyOrSwap = async () => {
        endCompare();
        if (onUnit() && (!ctx.needUnit() || unitBusy())) return;
        const [a, b] = userAreas();
        const pick = document.createElement('select');
        pick.id = 'patch-copy-choice';
        pick.setAttribute('aria-label', 'Copy or swap');
        pick.append(new Option('Copy user patch 1 to user patch 2', 'copy12'), new Option('Copy user patch 2 to user patch 1', 'copy21'), new Option('Swap user patches 1 and 2', 'swap'));
        const go = await showDialog({
            title: 'Copy or swap user patches',
            text: `User patch 1: "${nameOf(a)}". User patch 2: "${nameOf(b)}".${onUnit() ? ' Both are read from the unit first, and what is written is read back to check it.' : ''}`,
            body: pick,
            buttons: [{ label: 'Go', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        if (go !== 'go') return;
        const op = pick.value;
        const [from, to] = op === 'copy21' ? [b, a] : [a, b];
        const s = source();
        if (s.kind !== SourceKind.unit) {
            const image = (area) => new Map(kx5.map.areaBlocks(area).map((id) => [id, [...s.parameter.paramSet[id]]]));
            const ia = image(a);
            const ib = image(b);
            if (op === 'swap') {
                s.replace(a, imageChanges(ia, relocate(ib, a), kx5.map), 'swap with user patch 2');
                s.replace(b, imageChanges(ib, relocate(ia, b), kx5.map), 'swap with user patch 1');
            } else {
                s.replace(to, imageChanges(image(to), relocate(image(from), to), kx5.map), `copy of ${areaLabel(from)}`);
            }
            showNames();
            showHistory();
            return;
        }
        const result = await runTransfer(op === 'swap' ? 'Swapping user patches' : `Copying ${areaLabel(from)}`, ['read', 'write', 'verify'],
            () => (op === 'swap' ? transfer.swap(a, b) : transfer.copy(from, to)));
        if (!result.ok) return failed(op === 'swap' ? 'Not swapped' : 'Not copied', result);
        await reselect(op === 'swap' ? `PATCH(${source().currentPatch() + 1})` : to);
        showNames();
        showReport(op === 'swap' ? 'Swapped' : 'Copied', op === 'swap'
            ? `User patch 1 now holds "${nameOf(a)}", user patch 2 "${nameOf(b)}", read back from the unit and verified.`
            : `${capital(areaLabel(to))} now holds "${nameOf(to)}", read back from the unit and verified.`);
    };

    $('patch-save-file').addEventListener('click', () => saveFile());
    $('patch-load-file').addEventListener('click', () => loadFile());
    $('patch-copy').addEventListener('click', () => copyOrSwap());

    // --- choosing the patch ---

    const patchTasks = () => kx5.parameter.readTasks(['SETUP%COMMON', ...kx5.map.areaBlocks(EDITED)]);
    select.addEventListener('change', async () => {
        const n = Number(select.value);
        endCompare();
        const s = source();
        if (s.kind !== SourceKind.unit) {
            s.selectedPatch = n;
            patchEditor.setArea(s.patchArea());
            showNames();
            showHistory();
            return;
        }
        if (!ctx.needUnit() || kx5.readWrite.busy) return showNames();
        select.value = String(edits.current());
        if ((await edits.ask('switch')) === 'cancel') return;
        select.value = String(n);
        kx5.controller.dt1(nibble(UnitAddress.patchSelect), hex8(n));
        kx5.parameter.set('SETUP%COMMON%0', n, false);
        edits.set(false);
        kx5.readWrite.readStart(patchTasks());
        showHistory();
    });

    // The unit's user patch names, asked for after each connection.
    const readUnitNames = () => {
        const p = kx5.map.param('PATCH(1)%COMMON%0');
        let left = setting.numOfUserPatch;
        userAreas().forEach((area) => {
            kx5.controller.waitRQ1(kx5.map.block(`${area}%COMMON`).absolute, p.bytes, {
                success: () => {
                    if (--left === 0) unitNames = true;
                    showNames();
                },
                error: () => {},
            });
        });
    };
    kx5.watch.addListener((e) => {
        if (e.type === 'connected') {
            if (!e.same) unitSource.history.clear();
            readUnitNames();
        } else if (e.type === 'silent' || e.type === 'gone') {
            transfer.abort(e.type);
        }
    });
    if (kx5.watch.unit) readUnitNames();

    view.addObserver((blockId) => {
        if (blockId === 'SETUP%COMMON' || /^PATCH\(\d+\)%COMMON$/.test(blockId)) showNames();
        if (blockId === 'SETUP%COMMON') showHistory();
    });
    for (const s of [unitSource]) s.onEdited(() => showHistory());
    view.onSwitch((s) => {
        endCompare();
        patchEditor.setArea(s.patchArea());
        systemEditor.refreshAll();
        $('patch-write').hidden = s.kind !== SourceKind.unit;
        showNames();
        showHistory();
    });
    showNames();
    showHistory();

    return {
        writeEdited,
        saveFile,
        loadFile,
        toggleCompare,
        endCompare,
        undo: (area) => stepHistory(area ?? source().patchArea(), 'undo'),
        redo: (area) => stepHistory(area ?? source().patchArea(), 'redo'),
        // A source the panel follows the edits of (a backup opened later).
        follow: (s) => s.onEdited(() => showHistory()),
        refresh: () => { showNames(); showHistory(); },
    };
}
