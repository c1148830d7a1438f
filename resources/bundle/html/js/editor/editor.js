// The editor on top of the start page (app.js): IR slots with loading and
// preview, backups, patch and system editors, MIDI monitor.
import { hex8, nibble } from '../link/sysex.js';
import { UnitAddress } from '../link/product-setting.js';
import { ControlRouter } from '../ir/control-router.js';
import { IrDataLoader } from '../ir/ir-loader.js';
import { BackupSession } from '../backup/backup-session.js';
import { EXTENSION } from '../backup/backup-format.js';
import { closeDialog, setDialogProgress, showDialog, showError } from './dialogs.js';
import { buildSlotList } from './slot-list.js';
import { showPreview } from './preview.js';
import { buildAreaEditor } from './param-editor.js';
import { installMonitor } from './monitor.js';
import { installConnectionDialogs } from './connection-dialogs.js';
import { createLoadWaiter, installLibrary } from '../library/library-editor.js';

const $ = (id) => document.getElementById(id);

function waitForUnit() {
    return new Promise((resolve) => {
        const check = () => (window.kx5?.connection ? resolve(window.kx5) : setTimeout(check, 50));
        check();
    });
}

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
    tabs.forEach((t, i) => {
        t.addEventListener('click', () => select(t));
        t.addEventListener('keydown', (e) => {
            const step = e.key === 'ArrowRight' ? 1 : e.key === 'ArrowLeft' ? -1 : 0;
            if (!step) return;
            const next = tabs[(i + step + tabs.length) % tabs.length];
            select(next);
            next.focus();
        });
    });
    return (id) => select($(id));
}

function folderOf(path) {
    const i = String(path).lastIndexOf('/');
    return i > 0 ? path.substring(0, i) : '';
}

async function main() {
    const kx5 = await waitForUnit();
    const { native, setting } = kx5;
    const selectTab = installTabs();
    const connected = () => kx5.connection.connected;
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

    installMonitor(kx5);
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
    let progressOpen = false;
    const openProgress = (title, onCancel) => {
        progressOpen = true;
        showDialog({ title, text: '', progress: true, buttons: [{ label: 'Cancel', value: 'cancel' }] })
            .then((v) => { progressOpen = false; if (v === 'cancel') onCancel(); });
    };
    const endProgress = () => {
        if (progressOpen) closeDialog();
        progressOpen = false;
    };

    const loadWaiter = createLoadWaiter();
    const loader = new IrDataLoader({
        native, router, controller: kx5.controller, readWrite: kx5.readWrite, parameter: kx5.parameter,
        setting, isConnected: connected,
        onEvent: async (e) => {
            loadWaiter.observe(e, loader.busy);
            if (e.type === 'channel') {
                endProgress();
                const ch = await showDialog({
                    title: 'Stereo file', text: 'The unit takes one channel. Which one should go into the slot?',
                    buttons: [{ label: 'Left [L]', value: 0, primary: true }, { label: 'Right [R]', value: 1 }, { label: 'Cancel', value: 'cancel' }],
                });
                if (ch === 'cancel') loader.cancel();
                else loader.chooseChannel(ch);
            } else if (e.type === 'progress') {
                if (!progressOpen) openProgress('Loading impulse response', () => loader.cancel());
                setDialogProgress(e.percent, e.phase === 'convert' ? `Converting… ${Math.round(e.percent)} %` : `Writing to the unit… ${e.percent} %`);
            } else if (e.type === 'error') {
                endProgress();
                if (loader.busy) return;
                showError(e.reason);
            } else if (e.type === 'finished') {
                endProgress();
                if (!e.error) showDialog({ title: 'Finished', text: `Slot ${e.slot + 1} now holds "${e.name}".` });
                else showError(e.error);
            } else if (e.type === 'cancelled') {
                endProgress();
            }
        },
    });

    const startLoad = async (slot, path) => {
        if (!(await ensureUnit())) return;
        remember(path);
        selectTab('tab-preview');
        const facts = showPreview(native, path);
        const name = String(path).split('/').pop();
        const go = await showDialog({
            title: `Load into slot ${slot + 1}?`,
            text: facts ? `${name}: ${$('preview-notice').textContent}` : name,
            buttons: [{ label: 'Load', value: 'load', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        if (go === 'load') loader.load(slot, path);
    };

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
        if (!backup.save(path)) return;
        openProgress('Backing up', () => backup.cancel());
    };

    const backup = new BackupSession({
        native, map: kx5.map, parameter: kx5.parameter, readWrite: kx5.readWrite, setting, isConnected: connected,
        onEvent: (e) => {
            if (e.type === 'progress') {
                if (!progressOpen) openProgress(e.phase === 'read' ? 'Backing up' : 'Restoring', () => backup.cancel());
                setDialogProgress(e.percent, e.phase === 'read' ? `Reading from the unit… ${e.percent} %` : `Writing to the unit… ${e.percent} %`);
            } else if (e.type === 'error') {
                endProgress();
                showError(e.reason, e.message);
            } else if (e.type === 'saved' || e.type === 'restored') {
                endProgress();
                showDialog({
                    title: e.type === 'saved' ? 'Backup saved' : 'Backup restored',
                    text: `${e.path}\nContains ${e.contents.text}.`,
                });
            } else if (e.type === 'cancelled') {
                endProgress();
            }
        },
    });
    const restore = async (path) => {
        remember(path);
        const ok = await showDialog({
            title: 'Restore this backup?',
            text: 'System settings, user patches and the IR slots held in the file replace those in the unit.',
            buttons: [{ label: 'Restore', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        if (ok === 'go' && (await ensureUnit()) && backup.restore(path)) openProgress('Restoring', () => backup.cancel());
    };
    $('backup-button').addEventListener('click', async () => {
        if (!needUnit()) return;
        const loaded = [];
        for (let k = 0; k < setting.numOfIrData; k++) if (kx5.parameter.get(`IRDATA%STATUS%${k}`) === 1) loaded.push(k + 1);
        const go = await showDialog({
            title: 'Back up the unit',
            text: `The backup holds the system settings, both user patches and ${loaded.length ? `IR slots ${loaded.join(', ')}` : 'no IR slots (all are empty)'}.`,
            buttons: [{ label: 'Choose file…', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        if (go !== 'go' || !(await ensureUnit())) return;
        pendingDialog = { kind: 'backup' };
        native.fs.savefilename(lastPath ? `${lastPath}/${setting.product}` : setting.product, EXTENSION);
    });
    $('restore-button').addEventListener('click', () => {
        if (!needUnit()) return;
        pendingDialog = { kind: 'restore' };
        native.fs.openfilename(JSON.stringify([EXTENSION]), lastPath || undefined);
    });

    // Files handed to the program (its arguments, a later start, or a drop
    // outside the slots): a WAV file asks for its slot, a backup restores.
    const chooseSlot = async (path) => {
        const select = document.createElement('select');
        select.id = 'open-slot';
        select.setAttribute('aria-label', 'Slot');
        for (let k = 0; k < setting.numOfIrData; k++) {
            const option = document.createElement('option');
            option.value = String(k);
            const name = String(kx5.parameter.get(`IRDATA(${k + 1})%NAME%0`)).trimEnd();
            const empty = kx5.parameter.get(`IRDATA%STATUS%${k}`) !== 1;
            option.textContent = `Slot ${k + 1}: ${empty ? '(empty)' : name}`;
            select.append(option);
        }
        const firstEmpty = [...select.options].findIndex((o) => o.textContent.endsWith('(empty)'));
        select.selectedIndex = Math.max(0, firstEmpty);
        const answer = await showDialog({
            title: 'Load into which slot?', text: String(path).split('/').pop(), body: select,
            buttons: [{ label: 'Continue', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        return answer === 'go' ? Number(select.value) : null;
    };
    router.listen('open', async (_, path) => {
        if (!path || loader.busy || backup.busy) return;
        if (/\.wav$/i.test(path)) {
            if (!needUnit()) return;
            const slot = await chooseSlot(path);
            if (slot !== null) startLoad(slot, path);
        } else if (path.toLowerCase().endsWith(`.${EXTENSION}`)) {
            if (needUnit()) restore(path);
        } else {
            showError('unsupported');
        }
    });

    try { native.app.dragdrop(true); } catch { /* drops then reach the page as "open" commands */ }
    const library = installLibrary({
        native, setting, loader, waiter: loadWaiter, showDialog, showError, ensureUnit, startLoad,
        chooseSlot: (path) => (needUnit() ? chooseSlot(path) : null),
        preview: (path) => { selectTab('tab-preview'); showPreview(native, path); },
    });
    buildSlotList(kx5, {
        load: (slot) => {
            if (!needUnit()) return;
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
            const describe = () => { about.textContent = sets[Number(select.value)].description; };
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
            if (library.drop(slot, dataTransfer)) return;
            let paths = [];
            try { paths = native.app.dropfiles(); } catch { paths = []; }
            const wav = paths.find((p) => /\.wav$/i.test(p));
            if (wav) startLoad(slot, wav);
            else showError('unsupported');
        },
        rename: async (slot) => {
            if (!needUnit()) return;
            const input = document.createElement('input');
            input.type = 'text';
            input.maxLength = setting.irDataNameLength;
            input.value = String(kx5.parameter.get(`IRDATA(${slot + 1})%NAME%0`)).trimEnd();
            input.setAttribute('aria-label', 'Slot name');
            input.addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); $('dialog-buttons').firstChild.click(); } });
            const p = showDialog({ title: `Rename slot ${slot + 1}`, body: input, buttons: [{ label: 'Rename', value: 'ok', primary: true }, { label: 'Cancel', value: 'cancel' }] });
            input.focus();
            if ((await p) === 'ok') loader.rename(slot, input.value);
        },
        initialize: async (slot) => {
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
    });

    buildAreaEditor(kx5, $('patch-editor'), 'PATCH', connected);
    buildAreaEditor(kx5, $('system-editor'), 'SYSTEM', connected);
    const patchTasks = () => {
        const tasks = [];
        for (const id of kx5.map.areaBlocks('PATCH')) {
            const { address, sizes } = kx5.parameter.getblock(id);
            let at = address;
            for (const size of sizes) { tasks.push({ address: at, size }); at += Math.abs(size); }
        }
        return tasks;
    };
    $('patch-select').addEventListener('change', () => {
        if (!needUnit() || kx5.readWrite.busy) return;
        kx5.controller.dt1(nibble(UnitAddress.patchSelect), hex8(Number($('patch-select').value)));
        kx5.readWrite.readStart(patchTasks());
    });
    $('patch-write').addEventListener('click', async () => {
        if (!needUnit()) return;
        const n = Number($('patch-select').value);
        const go = await showDialog({
            title: `Write to user patch ${n + 1}?`, text: 'The patch being edited replaces the stored one.',
            buttons: [{ label: 'Write', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        if (go !== 'go') return;
        kx5.controller.dt1(nibble(UnitAddress.patchWrite), hex8(n));
        for (const id of kx5.map.areaBlocks('PATCH')) {
            kx5.parameter.setdata(id.replace(/^PATCH%/, `PATCH(${n + 1})%`), kx5.parameter.copyblock(id));
        }
    });
}

main().catch((e) => console.error('editor:', e));
