// The editor on the unit link (app.js, composed in main.js): IR slots with
// loading and preview, backups (also edited without the unit), patch and
// system editors with undo, compare and patch files, MIDI monitor, keyboard
// shortcuts.
import { ControlRouter } from '../ir/control-router.js';
import { IrDataLoader } from '../ir/ir-loader.js';
import { BackupSession } from '../backup/backup-session.js';
import { defaultBackupName } from '../backup/backup-plan.js';
import { backupEvents, confirmRestore, offerBackup, offerToFinishBackup } from './backup-flow.js';
import { EXTENSION } from '../backup/backup-format.js';
import { showDialog, showError } from './dialogs.js';
import { buildSlotList } from './slot-list.js';
import { buildAreaEditor } from './param-editor.js';
import { installMonitor } from './monitor.js';
import { installConnectionDialogs } from './connection-dialogs.js';
import { createLoadWaiter, installLibrary } from '../library/library-editor.js';
import { installIrLoading, slotNameLine as nameLine } from './ir-loading.js';
import { ProgressDialog } from './transfer-ui.js';
import { Choice, PatchEdits } from './patch-edits.js';
import { loadEvents, offerToFinishLoad } from './load-flow.js';
import { SlotMarks } from '../ir/slot-marks.js';
import { unitName } from '../ir/slot-name.js';
import { EditSource, SourceKind, SourceSwitch } from '../params/edit-source.js';
import { PatchTransfer } from '../patch/patch-transfer.js';
import { FileDialogs, folderOf } from './file-dialogs.js';
import { installPatchPanel } from './patch-panel.js';
import { installBackupEditing } from './backup-editing.js';
import { installShortcuts, showHelp } from './shortcuts.js';
import { installNarrowLayout } from './narrow-layout.js';

const $ = (id) => document.getElementById(id);

function installTabs() {
    const tabs = [...document.querySelectorAll('[role="tab"]')];
    const select = (tab) => {
        for (const t of tabs) {
            const on = t === tab;
            t.setAttribute('aria-selected', String(on));
            t.tabIndex = on ? 0 : -1;
            $(t.getAttribute('aria-controls')).hidden = !on;
        }
    };
    tabs.forEach((t) => {
        t.addEventListener('click', () => select(t));
        t.addEventListener('keydown', (e) => {
            const step = e.key === 'ArrowRight' ? 1 : e.key === 'ArrowLeft' ? -1 : 0;
            if (!step) return;
            // Tabs not shown at this window size are passed over.
            const shown = tabs.filter((x) => x.offsetParent !== null);
            const at = shown.indexOf(t);
            const next = shown[(at + step + shown.length) % shown.length];
            select(next);
            next.focus();
        });
    });
    return (id) => select($(id));
}

async function main(kx5) {
    const { native, setting } = kx5;
    const selectTab = installTabs();
    installNarrowLayout({ selectTab });
    // Connected and answering: a unit that went quiet is not edited.
    const connected = () => kx5.connection.connected && kx5.watch.state === 'connected';
    let lastPath = '';
    try { lastPath = native.app.storage2('lastPath') ?? ''; } catch { lastPath = ''; }
    const remember = (path) => {
        lastPath = folderOf(path);
        try { native.app.storage2('lastPath', lastPath); } catch { /* preferences are optional */ }
    };
    const needUnit = () => {
        if (connected()) return true;
        showDialog({ title: 'No unit connected', text: 'Connect the KX-5 (or the simulated unit) first.' });
        return false;
    };

    // The file dialogs of the parts that wait for their answer (made once
    // the editor's own dialog handlers are in place).
    let dialogs = null;
    installMonitor(kx5, () => dialogs);
    installConnectionDialogs();
    const router = new ControlRouter(native);
    // After sleep or a change of MIDI devices the unit is checked again
    // before the next transfer instead of failing halfway through it.
    let recheck = false;
    router.listen('wakeup', () => { recheck = true; });
    const changed = native.midi.events.changed;
    native.midi.events.changed = (...a) => {
        recheck = true;
        if (typeof changed === 'function') changed(...a);
    };
    const ensureUnit = async () => {
        if (!needUnit()) return false;
        if (!recheck) return true;
        recheck = false;
        const result = await kx5.connection.connect();
        if (result.outcome === 'connected') return true;
        showError('timeout', 'checked again after sleep or a device change');
        return false;
    };
    const marks = new SlotMarks(native);
    const loadWaiter = createLoadWaiter();
    const progress = new ProgressDialog();
    const loadEventHandler = loadEvents({
        loader: () => loader, isConnected: connected, unitSilent: () => kx5.watch.silent(), progress,
        batch: () => irLoading?.batch ?? null, onChannel: (ch) => irLoading.preview.chooseChannel(ch),
    });
    const loader = new IrDataLoader({
        native, router, controller: kx5.controller, readWrite: kx5.readWrite, parameter: kx5.parameter,
        setting, isConnected: connected, marks,
        onEvent: (e) => {
            loadWaiter.observe(e, loader.busy);
            return loadEventHandler(e);
        },
    });
    // A unit lost in the middle of a transfer stops it at once; the same
    // unit back is offered what was interrupted.
    kx5.watch.addListener((e) => {
        if (e.type === 'silent' || e.type === 'gone') {
            loader.abort(e.type);
            backup.abort(e.type);
        } else if (e.type === 'connected') {
            marks.useUnit(kx5.watch.unit?.entity);
            if (!e.same) {
                loader.forget();
                backup.forget();
            } else if (loader.interrupted) {
                offerToFinishLoad(loader);
            } else if (backup.interrupted) {
                offerToFinishBackup(backup);
            }
        }
    });
    // Connected before the editor was ready.
    if (kx5.watch.unit) marks.useUnit(kx5.watch.unit.entity);

    const slotNameLine = (name, stereo) => nameLine(setting, name, stereo);

    // A backup file open for editing shows its slots, not the unit's: a
    // load into the unit waits until it is closed.
    const notWhileEditing = () => {
        if (!editing?.active) return false;
        showDialog({ title: 'A backup file is open', text: 'The slots shown are the backup file\'s. Close the file (the bar above the slots) to load impulse responses into the unit.' });
        return true;
    };
    let editing = null;

    // Loads go into the unit: not while a backup file is open for editing.
    let slotList = null;
    const irLoading = installIrLoading({
        kx5, native, setting, loader, waiter: loadWaiter, progress,
        ensureUnit: async () => !notWhileEditing() && ensureUnit(),
        needUnit: () => !notWhileEditing() && needUnit(),
        connected, busy: () => loader.busy || backup.busy, selectTab, remember, lastPath: () => lastPath,
        slots: () => slotList, offerToFinish: () => offerToFinishLoad(loader),
    });
    const { startLoad } = irLoading;

    let pendingDialog = null;
    native.fs.events.openfilename = (path) => {
        const purpose = pendingDialog;
        pendingDialog = null;
        if (!path || !purpose) return;
        if (purpose.kind === 'ir') startLoad(purpose.slot, path);
        else if (purpose.kind === 'restore') restore(path);
    };
    native.fs.events.savefilename = (path) => {
        const purpose = pendingDialog;
        pendingDialog = null;
        if (!path || purpose?.kind !== 'backup') return;
        remember(path);
        backup.save(path, purpose.plan);
    };

    const backup = new BackupSession({
        native, map: kx5.map, parameter: kx5.parameter, readWrite: kx5.readWrite, controller: kx5.controller,
        setting, isConnected: connected, marks,
        onEvent: backupEvents({
            session: () => backup, isConnected: connected, unitSilent: () => kx5.watch.silent(),
            // The unit's slots changed under a backup: list them again and
            // save into the same file.
            startOver: async (path) => {
                const plan = await offerBackup(kx5.parameter, setting, 'Back up again', 'The unit now holds');
                if (plan && (await ensureUnit())) backup.save(path, plan);
            },
        }),
    });
    const restore = async (path) => {
        remember(path);
        const inspected = backup.inspect(path);
        if (!inspected) return;
        const choice = await confirmRestore(inspected, { offerEdit: true });
        if (choice?.edit) return editing.open(path);
        if (choice && (await ensureUnit())) backup.restore(inspected, choice);
    };
    $('backup-button').addEventListener('click', async () => {
        if (!needUnit() || backup.busy || loader.busy) return;
        const plan = await offerBackup(kx5.parameter, setting);
        if (!plan || !(await ensureUnit())) return;
        pendingDialog = { kind: 'backup', plan };
        const name = defaultBackupName(setting.product);
        native.fs.savefilename(lastPath ? `${lastPath}/${name}` : name, EXTENSION);
    });
    $('restore-button').addEventListener('click', () => {
        if (!needUnit()) return;
        pendingDialog = { kind: 'restore' };
        native.fs.openfilename(JSON.stringify([EXTENSION]), lastPath || undefined);
    });

    // Files handed to the program (its arguments, a later start, or a drop
    // outside the slots): an audio file asks for its slot, a backup restores.
    router.listen('open', async (_, path) => {
        if (!path || loader.busy || backup.busy || irLoading.batch) return;
        if (irLoading.isAudioFile(path)) {
            irLoading.openHanded(path);
        } else if (path.toLowerCase().endsWith(`.${EXTENSION}`)) {
            // Without a unit the file opens for editing.
            if (connected()) restore(path);
            else editing.open(path);
        } else if (/\.syx$/i.test(path)) {
            selectTab('tab-patch');
            patchPanel.loadFile(path);
        } else {
            showError('unsupported');
        }
    });

    try { native.app.dragdrop(true); } catch { /* drops then reach the page as "open" commands */ }
    const library = installLibrary({
        native, loader, showDialog, showError,
        loadFiles: irLoading.loadFiles,
        chooseSlot: (paths) => (!notWhileEditing() && needUnit() ? irLoading.chooseSlot(paths) : null),
        preview: (path) => irLoading.showFile(path),
    });
    dialogs = new FileDialogs(native);
    // The editors show the unit, or a backup file opened for editing.
    const unitSource = new EditSource({ kind: SourceKind.unit, label: 'the unit', parameter: kx5.parameter, canEdit: connected });
    const view = new SourceSwitch(unitSource);
    const offline = () => view.current.kind !== SourceKind.unit;
    const slots = buildSlotList({ view, setting }, {
        select: (slot) => { if (offline()) editing.showSlot(slot); },
        show: (slot) => { if (!offline()) irLoading.show(slot); },
        load: (slot) => {
            if (notWhileEditing() || !needUnit()) return;
            if (irLoading.chooseFiles(slot)) return;
            pendingDialog = { kind: 'ir', slot };
            native.fs.openfilename(JSON.stringify(['wav']), lastPath || undefined);
        },
        factory: async (slot) => {
            if (!needUnit() || loader.busy) return;
            const sets = loader.factorySets();
            if (!sets.length) return showError('fileError', 'factory sets');
            const body = document.createElement('div');
            const select = document.createElement('select');
            select.id = 'factory-set';
            select.setAttribute('aria-label', 'Factory set');
            sets.forEach((set, i) => select.append(new Option(set.name, String(i))));
            const about = document.createElement('p');
            about.className = 'hint';
            const describe = () => {
                const set = sets[Number(select.value)];
                about.textContent = `${set.description} ${slotNameLine(set.name, false)}`.trim();
            };
            select.addEventListener('change', describe);
            describe();
            body.append(select, about);
            const go = await showDialog({
                title: `Factory set for slot ${slot + 1}`,
                text: 'Synthetic cabinet responses, generated and converted by this program. The set replaces the slot\'s impulse response.',
                body, buttons: [{ label: 'Restore', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
            });
            if (go === 'go' && (await ensureUnit())) loader.loadFactory(slot, sets[Number(select.value)]);
        },
        drop: (slot, dataTransfer) => {
            if (notWhileEditing()) return;
            if (library.drop(slot, dataTransfer)) return;
            if (loader.busy || irLoading.batch) return showError('busy');
            irLoading.dropped(slot);
        },
        rename: async (slot) => {
            if (offline()) return editing.renameSlot(slot);
            if (!needUnit()) return;
            const input = document.createElement('input');
            input.type = 'text';
            input.value = String(kx5.parameter.get(`IRDATA(${slot + 1})%NAME%0`)).trimEnd();
            input.setAttribute('aria-label', 'Slot name');
            input.addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); $('dialog-buttons').firstChild.click(); } });
            const held = document.createElement('p');
            held.className = 'hint';
            held.id = 'rename-held';
            const show = () => { held.textContent = slotNameLine(input.value, false); };
            input.addEventListener('input', show);
            show();
            const body = document.createElement('div');
            body.append(input, held);
            const p = showDialog({ title: `Rename slot ${slot + 1}`, body, buttons: [{ label: 'Rename', value: 'ok', primary: true }, { label: 'Cancel', value: 'cancel' }] });
            input.focus();
            if ((await p) === 'ok' && !loader.rename(slot, input.value)) {
                showDialog({ title: 'Not renamed', text: 'Another transfer is running, or the unit is not connected. Try again when it has ended.' });
            }
        },
        initialize: async (slot) => {
            if (offline()) return editing.clearSlot(slot);
            if (!needUnit()) return;
            const go = await showDialog({
                title: `Clear slot ${slot + 1}?`, text: 'The slot\'s impulse response, name and file name are erased in the unit.',
                buttons: [{ label: 'Clear', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
            });
            if (go !== 'go') return;
            if (!(await loader.initialize(slot))) return showError('sendError');
            for (const part of ['NAME', 'SIZE', 'FILE', 'DATA']) kx5.parameter.initialize(`IRDATA(${slot + 1})%${part}`);
            kx5.parameter.set(`IRDATA%STATUS%${slot}`, 0, false);
        },
    }, marks);
    slotList = slots;

    // Patch edits are marked until written; leaving them asks first.
    let patchPanel = null;
    const edits = new PatchEdits({
        kx5, badges: [$('patch-edited'), $('patch-edited-tab')],
        writeTo: (n) => patchPanel.writeEdited(n, { confirm: false }),
    });
    kx5.confirmLeave = async (what) => (await edits.ask(what)) !== Choice.cancel;
    kx5.watch.addListener((e) => { if (e.type === 'connected') edits.checkUnit(); });
    if (connected()) edits.checkUnit();
    // An edit marks the patch; after an undo or redo the unit says whether
    // its working patch is the stored one again.
    unitSource.onEdited((e) => {
        if (e.area !== 'PATCH') return;
        if (e.kind === 'edit') edits.set(true);
        else edits.checkUnit();
    });
    const patchEditor = buildAreaEditor(view, $('patch-editor'), 'PATCH');
    const systemEditor = buildAreaEditor(view, $('system-editor'), 'SYSTEM');
    const transfer = new PatchTransfer({
        map: kx5.map, parameter: kx5.parameter, readWrite: kx5.readWrite, controller: kx5.controller,
        isConnected: connected, isBusy: () => loader.busy || backup.busy,
    });
    patchPanel = installPatchPanel({
        kx5, view, unitSource, edits, transfer, dialogs, patchEditor, systemEditor,
        needUnit, isBusy: () => loader.busy || backup.busy,
        lastFolder: () => lastPath, remember,
    });
    editing = installBackupEditing({
        kx5, view, unitSource, backup, dialogs, patchPanel, needUnit, ensureUnit, selectTab, slotNameLine,
        preview: () => irLoading.preview,
        unitName: (name) => unitName(name, setting.irDataNameLength).name,
        lastFolder: () => lastPath, remember,
    });

    // Undo and redo follow the view: the system area on the System tab,
    // the patch elsewhere.
    const activeArea = () => ($('view-system').hidden ? view.current.patchArea() : 'SYSTEM');
    installShortcuts({
        // The selected slot's first button is its Load….
        openWav: () => $('slot-list').querySelector('li[aria-current="true"] button')?.click(),
        undo: () => patchPanel.undo(activeArea()),
        redo: () => patchPanel.redo(activeArea()),
        compare: () => { selectTab('tab-patch'); patchPanel.toggleCompare(); },
        savePatch: () => { selectTab('tab-patch'); patchPanel.saveFile(); },
        loadPatch: () => { selectTab('tab-patch'); patchPanel.loadFile(); },
        backup: () => $('backup-button').click(),
        restore: () => $('restore-button').click(),
        editBackup: () => editing.openDialog(),
        slots: () => slots.focus(),
        tab1: () => selectTab('tab-preview'),
        tab2: () => selectTab('tab-patch'),
        tab3: () => selectTab('tab-system'),
        tab4: () => selectTab('tab-monitor'),
        tab5: () => { if ($('tab-library').offsetParent) selectTab('tab-library'); },
    });
    $('help-button').addEventListener('click', showHelp);

    // Closing the window with unsaved edits: the window asks the page
    // first; the page asks the user and closes the window itself.
    let leaving = false;
    let asking = false;
    window.$event.onclose = () => {
        if (leaving || (!edits.edited && !editing.changed)) return false;
        if (!asking) {
            asking = true;
            setTimeout(async () => {
                const go = (await edits.ask('close')) !== Choice.cancel && (await editing.mayLeave('Closing the editor'));
                asking = false;
                if (!go) return;
                leaving = true;
                native.app.exit();
            }, 0);
        }
        return true;
    };
}

// The editor on a link built by createLink (main.js).
export function startEditor(kx5) {
    main(kx5).catch((e) => console.error('editor:', e));
}
