// The IR library panel beside the slots: folders added and scanned by the
// host, search as you type, order and filters, rows with their curves.
// Selecting a row previews it; rows dragged onto a slot load there.
//
// installLibraryPanel({ native, root, onPreview(path), onLoad(paths), showDialog })
//   onLoad: the user asked to load these files (Enter or double click).
import { LibraryClient } from './library-client.js';
import { buildQuery, describeProgress, describeRow, describeSummary } from './library-query.js';
import { drawThumbnail } from './thumbnail.js';
import { endLibraryDrag, isLibraryDrag, startLibraryDrag } from './library-drop.js';

const RATES = [44100, 48000, 88200, 96000, 192000];
const REFRESH_WHILE_SCANNING_MS = 1500;

function element(tag, props = {}, ...children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(props)) {
        if (k === 'dataset') Object.assign(e.dataset, v);
        else if (k in e) e[k] = v;
        else e.setAttribute(k, v);
    }
    e.append(...children);
    return e;
}

function select(id, label, options) {
    const s = element('select', { id, title: label, 'aria-label': label });
    for (const [value, text] of options) s.append(new Option(text, value));
    return s;
}

function buildDom(root) {
    const ui = {
        add: element('button', { type: 'button', id: 'library-add', textContent: 'Add folder…', title: 'Add a folder of IR files to the library' }),
        rescan: element('button', { type: 'button', id: 'library-rescan', textContent: 'Rescan', title: 'Look for new, changed and removed files' }),
        manage: element('button', { type: 'button', id: 'library-folders', textContent: 'Folders…', title: 'The library\'s folders and the files it skipped' }),
        status: element('p', { id: 'library-status', className: 'library-status', role: 'status' }),
        bar: element('div', { className: 'bar' }),
        cancel: element('button', { type: 'button', id: 'library-cancel', textContent: 'Stop', hidden: true }),
        search: element('input', {
            type: 'search', id: 'library-search', placeholder: 'Search names, folders, tags', autocomplete: 'off',
            'aria-label': 'Search the library', spellcheck: false,
        }),
        sort: select('library-sort', 'Order', [['name', 'Name'], ['length', 'Length'], ['brightness', 'Brightness'], ['similar', 'Similar to selected']]),
        direction: element('button', { type: 'button', id: 'library-direction', textContent: '↑', title: 'Ascending (click for descending)', 'aria-pressed': 'false' }),
        rate: select('library-rate', 'Sample rate', [['0', 'Any rate'], ...RATES.map((r) => [String(r), `${r / 1000} kHz`])]),
        channels: select('library-channels', 'Channels', [['0', 'Mono/stereo'], ['1', 'Mono'], ['2', 'Stereo']]),
        length: select('library-length', 'Length', [['any', 'Any length'], ['short', '≤ 200 ms'], ['medium', '≤ 500 ms'], ['long', '> 500 ms']]),
        favourites: element('input', { type: 'checkbox', id: 'library-favourites' }),
        count: element('p', { id: 'library-count', className: 'hint' }),
        list: element('ol', { id: 'library-results', className: 'library-results', role: 'listbox', 'aria-multiselectable': 'true', 'aria-label': 'Library results', tabIndex: 0 }),
    };
    ui.progress = element('div', { className: 'progress library-progress', hidden: true }, ui.bar);
    const head = element('div', { className: 'panel-head' },
        element('h2', { id: 'library-title', textContent: 'IR library' }),
        element('div', { className: 'library-actions' }, ui.add, ui.rescan, ui.manage));
    const filters = element('div', { className: 'library-filters' }, ui.sort, ui.direction, ui.rate, ui.channels, ui.length,
        element('label', { className: 'library-favourites', title: 'Favourites only' }, ui.favourites, '★'));
    root.replaceChildren(head, element('div', { className: 'library-scan' }, ui.status, ui.cancel), ui.progress,
        ui.search, filters, ui.count, ui.list);
    return ui;
}

export function installLibraryPanel({ native, root, onPreview = () => {}, onLoad = () => {}, showDialog }) {
    const ui = buildDom(root);
    const state = { text: '', sort: 'name', descending: false, rate: '0', channels: '0', length: 'any', favourites: false };
    let rows = [];
    let total = 0;
    const selected = new Set();
    let anchor = -1; // where a range starts
    let cursor = -1; // the row the keys move from
    let scanning = false;
    let lastRefresh = 0;
    let notice = '';

    const client = new LibraryClient(native, (e) => onLibraryEvent(e));
    const setStatus = (text) => { ui.status.textContent = notice ? `${notice} ${text}` : text; };
    if (!client.available) {
        for (const c of [ui.add, ui.rescan, ui.manage, ui.search]) c.disabled = true;
        setStatus('Open this page in the KX-5 Editor program to use the library.');
        return { client, refresh: () => {} };
    }

    const paths = () => rows.filter((r) => selected.has(r.path)).map((r) => r.path);

    const rowElement = (row, index) => {
        const li = element('li', {
            role: 'option', draggable: true, dataset: { path: row.path, index: String(index) },
            className: 'library-row', title: row.path,
        });
        li.setAttribute('aria-selected', String(selected.has(row.path)));
        const canvas = element('canvas', { className: 'thumb', width: 88, height: 26, 'aria-hidden': 'true' });
        const star = element('button', {
            type: 'button', className: 'star', textContent: row.favourite ? '★' : '☆',
            title: row.favourite ? 'Favourite (click to remove)' : 'Mark as favourite',
            'aria-pressed': String(!!row.favourite), tabIndex: -1,
        });
        star.addEventListener('click', (e) => {
            e.stopPropagation();
            client.setFavourite(row.path, !row.favourite);
            refresh({ keep: true });
        });
        const tags = element('button', { type: 'button', className: 'tags', textContent: 'Tags…', title: 'Tags of this IR', tabIndex: -1 });
        tags.addEventListener('click', (e) => { e.stopPropagation(); editTags(row); });
        const facts = [describeRow(row), row.tags?.length ? row.tags.join(', ') : '', row.folder]
            .filter(Boolean).join(' · ');
        li.append(canvas,
            element('div', { className: 'text' },
                element('span', { className: 'name', textContent: row.name }),
                element('span', { className: 'facts', textContent: facts })),
            tags, star);
        requestAnimationFrame(() => drawThumbnail(canvas, row.thumb, getComputedStyle(li).color));
        return li;
    };

    const render = (append = false) => {
        if (!append) ui.list.replaceChildren();
        const from = append ? ui.list.children.length : 0;
        ui.list.append(...rows.slice(from).map((r, i) => rowElement(r, from + i)));
        ui.count.textContent = total === 0
            ? (client.folders().length ? 'Nothing found.' : 'Add a folder of IR files to search them here.')
            : `${total.toLocaleString('en')} found${state.sort === 'similar' && state.similar ? ', most alike first' : ''}`;
    };

    const markSelection = () => {
        for (const li of ui.list.children) li.setAttribute('aria-selected', String(selected.has(li.dataset.path)));
    };

    function refresh({ keep = false } = {}) {
        const query = buildQuery({ ...state, offset: 0 });
        const answer = client.search(query);
        if (client.failure) setStatus(`The library cannot be read: ${client.failure}`);
        rows = answer.rows ?? [];
        total = answer.total ?? 0;
        lastRefresh = Date.now();
        const top = ui.list.scrollTop;
        render();
        if (keep) ui.list.scrollTop = top;
        for (const p of [...selected]) if (!rows.some((r) => r.path === p)) selected.delete(p);
        anchor = cursor = rows.findIndex((r) => selected.has(r.path));
        markSelection();
    }

    const more = () => {
        if (rows.length >= total) return;
        const answer = client.search(buildQuery({ ...state, offset: rows.length }));
        if (!answer.rows?.length) return;
        rows = rows.concat(answer.rows);
        render(true);
        markSelection();
    };

    const choose = (index, { toggle = false, range = false } = {}) => {
        const row = rows[index];
        if (!row) return;
        if (range && anchor >= 0) {
            selected.clear();
            const [a, b] = anchor < index ? [anchor, index] : [index, anchor];
            for (let i = a; i <= b; i++) selected.add(rows[i].path);
        } else if (toggle) {
            if (selected.has(row.path)) selected.delete(row.path);
            else selected.add(row.path);
            anchor = index;
        } else {
            selected.clear();
            selected.add(row.path);
            anchor = index;
        }
        cursor = index;
        markSelection();
        ui.list.children[index]?.scrollIntoView({ block: 'nearest' });
        if (selected.size === 1 && selected.has(row.path)) {
            state.similar = row.path;
            onPreview(row.path);
            if (state.sort === 'similar') refresh({ keep: false });
        }
    };

    async function editTags(row) {
        const input = element('input', { type: 'text', value: (row.tags ?? []).join(', '), 'aria-label': 'Tags, separated by commas' });
        const answer = showDialog({
            title: `Tags of ${row.name}`, text: 'Separate tags with commas. They are found by the search and stay with the sound when the file moves.',
            body: input, buttons: [{ label: 'Save', value: 'save', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        input.focus();
        if ((await answer) !== 'save') return;
        try {
            client.setTags(row.path, input.value.split(',').map((t) => t.trim()).filter(Boolean));
        } catch (e) {
            showDialog({ title: 'Tags not saved', text: e.message });
        }
        refresh({ keep: true });
    }

    async function manageFolders() {
        const body = element('div', { className: 'library-folder-list' });
        const list = element('ul');
        for (const f of client.folders()) {
            const remove = element('button', { type: 'button', textContent: 'Remove', title: `Remove ${f.path} from the library` });
            remove.addEventListener('click', () => {
                client.removeFolder(f.path);
                remove.closest('li').remove();
                refresh();
            });
            list.append(element('li', {},
                element('span', { className: 'path', textContent: f.path }),
                element('span', { className: 'hint', textContent: ` ${f.files} IRs${f.skipped ? `, ${f.skipped} skipped` : ''} ` }),
                remove));
        }
        if (!list.children.length) list.append(element('li', { className: 'hint', textContent: 'No folders yet.' }));
        body.append(list);
        const skipped = client.skipped();
        if (skipped.length) {
            const details = element('details', {}, element('summary', { textContent: `Files not in the library (${skipped.length})` }));
            const reasons = element('ul', { className: 'library-skipped' });
            for (const s of skipped) reasons.append(element('li', { textContent: `${s.path}: ${s.reason}` }));
            details.append(reasons);
            body.append(details);
        }
        await showDialog({ title: 'Library folders', body });
    }

    function onLibraryEvent(e) {
        if (e.type === 'progress') {
            scanning = true;
            ui.progress.hidden = false;
            ui.cancel.hidden = false;
            ui.bar.style.width = `${e.total ? (100 * e.done) / e.total : 0}%`;
            setStatus(describeProgress(e.done, e.total));
            // Files arrive while the scan runs; the list follows now and then.
            if (Date.now() - lastRefresh > REFRESH_WHILE_SCANNING_MS && ui.list.scrollTop < 10) refresh();
        } else if (e.type === 'scanned' || e.type === 'scanfailed') {
            scanning = false;
            ui.progress.hidden = true;
            ui.cancel.hidden = true;
            setStatus(e.type === 'scanned' ? describeSummary(e.summary) : `The scan failed: ${e.message}`);
            notice = '';
            refresh({ keep: true });
        } else if (e.type === 'rebuilt') {
            notice = e.which === 'index'
                ? 'The library\'s index was damaged and is made anew from the folders.'
                : `The library's tags and folders file was damaged; ${e.recovered} entries were recovered.`;
            if (e.keptAs) notice += ` The damaged file was kept as ${e.keptAs}.`;
            setStatus('');
        }
    }

    // Controls.
    ui.search.addEventListener('input', () => { state.text = ui.search.value; refresh(); });
    // A row dropped on the search box is no text to search for.
    ui.search.addEventListener('drop', (e) => { if (isLibraryDrag(e.dataTransfer)) e.preventDefault(); });
    for (const [control, key] of [[ui.sort, 'sort'], [ui.rate, 'rate'], [ui.channels, 'channels'], [ui.length, 'length']]) {
        control.addEventListener('change', () => { state[key] = control.value; refresh(); });
    }
    ui.favourites.addEventListener('change', () => { state.favourites = ui.favourites.checked; refresh(); });
    ui.direction.addEventListener('click', () => {
        state.descending = !state.descending;
        ui.direction.textContent = state.descending ? '↓' : '↑';
        ui.direction.title = state.descending ? 'Descending (click for ascending)' : 'Ascending (click for descending)';
        ui.direction.setAttribute('aria-pressed', String(state.descending));
        refresh();
    });
    const previousChooseFolder = native.fs.events.choosefolder;
    let choosingFolder = false;
    native.fs.events.choosefolder = (path) => {
        if (!choosingFolder) return previousChooseFolder?.(path);
        choosingFolder = false;
        if (!path) return;
        try {
            if (!client.addFolder(path)) setStatus(`${path} is already in the library.`);
            else setStatus('Scanning…');
        } catch (e) {
            showDialog({ title: 'Folder not added', text: `${path}: ${e.message}` });
        }
        refresh();
    };
    // The dialog opens where the last library folder lies (packs tend to
    // sit side by side), else in the home folder.
    const startFolder = () => {
        const last = client.folders().map((f) => f.path).sort().at(-1);
        if (last) return last.substring(0, last.lastIndexOf('/')) || '/';
        try {
            return native.fs.path('home') || undefined;
        } catch {
            return undefined;
        }
    };
    ui.add.addEventListener('click', () => {
        choosingFolder = true;
        native.fs.choosefolder(startFolder());
    });
    ui.rescan.addEventListener('click', () => { client.scan(); setStatus('Scanning…'); });
    ui.cancel.addEventListener('click', () => client.cancel());
    ui.manage.addEventListener('click', () => manageFolders());

    // Rows: click, ctrl/shift click, keys, double click, drag.
    const indexOf = (target) => Number(target.closest('li.library-row')?.dataset.index ?? -1);
    ui.list.addEventListener('click', (e) => {
        const i = indexOf(e.target);
        if (i >= 0) choose(i, { toggle: e.ctrlKey || e.metaKey, range: e.shiftKey });
    });
    ui.list.addEventListener('dblclick', (e) => {
        const i = indexOf(e.target);
        if (i >= 0) onLoad(selected.has(rows[i].path) ? paths() : [rows[i].path]);
    });
    ui.list.addEventListener('keydown', (e) => {
        const step = { ArrowDown: 1, ArrowUp: -1, PageDown: 10, PageUp: -10 }[e.key];
        if (step) {
            e.preventDefault();
            const next = Math.max(0, Math.min(rows.length - 1, cursor + step));
            choose(next, { range: e.shiftKey });
        } else if (e.key === 'Enter' && selected.size) {
            e.preventDefault();
            onLoad(paths());
        }
    });
    ui.list.addEventListener('scroll', () => {
        if (ui.list.scrollTop + ui.list.clientHeight > ui.list.scrollHeight - 200) more();
    });
    ui.list.addEventListener('dragstart', (e) => {
        const i = indexOf(e.target);
        if (i < 0) return;
        if (!selected.has(rows[i].path)) choose(i);
        startLibraryDrag(e.dataTransfer, paths());
    });
    ui.list.addEventListener('dragend', () => endLibraryDrag());

    // Start: what the folders hold now, then a look for changes.
    refresh();
    const folders = client.folders();
    if (folders.length) {
        client.scan();
        setStatus('Looking for changes…');
    } else {
        setStatus('');
    }
    return { client, refresh, selectedPaths: paths, get scanning() { return scanning; } };
}
