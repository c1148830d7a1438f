// The eleven IR slots: name, file name and state from the model of what the
// editors show (the unit, or a backup file), with load, factory restore,
// rename and initialise; audio files, a folder or library rows dropped on a
// slot load into it and the slots after it; a click on a row shows what the
// slot holds. A slot whose last write did not finish (marks) shows as
// incomplete, whatever state the unit reports for it.
//
// The list is one stop for Tab: the arrow keys, Home and End move through
// the slots, Enter loads a file into the selected one, F2 renames it and
// Delete clears it; Tab goes on to the selected slot's buttons.
const STATE = ['empty', 'loaded', 'invalid'];
const UNIT_ONLY = new Set(['load', 'factory']);

export function decodeFileName(parameter, slot) {
    const size = parameter.get(`IRDATA(${slot + 1})%SIZE%0`);
    if (!size || size > 127) return '';
    const data = parameter.paramSet[`IRDATA(${slot + 1})%FILE`] ?? [];
    const bytes = [];
    for (let i = 0; i < size * 2 && i + 1 < data.length; i += 2) {
        bytes.push(((parseInt(data[i], 16) & 0xf) << 4) | (parseInt(data[i + 1], 16) & 0xf));
    }
    try {
        return new TextDecoder('utf-8', { fatal: true }).decode(Uint8Array.from(bytes));
    } catch {
        return '';
    }
}

// view: { parameter, current: { kind }, addObserver, onSwitch } (the
// editors' source switch); actions: load, factory, rename, initialize,
// drop(slot, dataTransfer), select(slot), show(slot) (a click on the row).
export function buildSlotList({ view, setting }, actions, marks = null) {
    const list = document.getElementById('slot-list');
    const rows = [];
    let selected = 0;
    const onUnit = () => view.current.kind === 'unit';
    const select = (k, focus = true) => {
        selected = Math.max(0, Math.min(rows.length - 1, k));
        rows.forEach((r, i) => {
            const on = i === selected;
            r.li.tabIndex = on ? 0 : -1;
            r.li.setAttribute('aria-current', String(on));
            for (const b of r.buttons.values()) b.tabIndex = on ? 0 : -1;
        });
        if (focus) rows[selected].li.focus();
        actions.select?.(selected);
    };
    for (let k = 0; k < setting.numOfIrData; k++) {
        const li = document.createElement('li');
        li.className = 'slot';
        li.dataset.slot = String(k);
        const num = document.createElement('span');
        num.className = 'num';
        num.textContent = String(k + 1);
        const text = document.createElement('div');
        text.className = 'name';
        const name = document.createElement('span');
        const state = document.createElement('span');
        state.className = 'state';
        const fileLine = document.createElement('span');
        fileLine.className = 'file';
        const file = document.createElement('span');
        fileLine.append(state, file);
        text.append(name, fileLine);
        const tools = document.createElement('div');
        tools.className = 'tools';
        const buttons = new Map();
        const button = (key, label, title, fn) => {
            const b = document.createElement('button');
            b.type = 'button';
            b.textContent = label;
            b.title = `${title} slot ${k + 1}`;
            b.setAttribute('aria-label', b.title);
            b.addEventListener('click', () => { select(k, false); fn(k); });
            tools.append(b);
            buttons.set(key, b);
            return b;
        };
        button('load', 'Load…', 'Load IR files into', actions.load);
        button('factory', 'Factory…', 'Restore a factory set into', actions.factory);
        button('rename', 'Rename', 'Rename', actions.rename);
        button('clear', 'Clear', 'Initialise', actions.initialize);
        li.append(num, text, tools);
        // A click on the row (not on its buttons) shows what the slot holds.
        li.addEventListener('click', (e) => {
            if (e.target.closest('button')) return;
            select(k);
            actions.show?.(k);
        });
        li.addEventListener('keydown', (e) => {
            const moves = { ArrowDown: k + 1, ArrowUp: k - 1, Home: 0, End: rows.length - 1 };
            if (e.key in moves && !e.ctrlKey && !e.altKey) {
                e.preventDefault();
                return select(moves[e.key]);
            }
            if (e.target !== li) return;
            const act = { Enter: actions.load, F2: actions.rename, Delete: actions.initialize }[e.key];
            if (act) {
                e.preventDefault();
                act(k);
            }
        });
        li.addEventListener('dragover', (e) => { e.preventDefault(); li.classList.add('drop'); });
        li.addEventListener('dragleave', () => li.classList.remove('drop'));
        li.addEventListener('drop', (e) => {
            e.preventDefault();
            li.classList.remove('drop');
            actions.drop(k, e.dataTransfer);
        });
        list.append(li);
        rows.push({ li, name, state, file, buttons });
    }
    const refresh = (k) => {
        const r = rows[k];
        const parameter = view.parameter;
        const s = parameter.get(`IRDATA%STATUS%${k}`);
        const name = String(parameter.get(`IRDATA(${k + 1})%NAME%0`)).trimEnd();
        r.name.textContent = name || '(no name)';
        r.name.title = name; // the row may be too narrow for the whole name
        const mark = onUnit() ? marks?.get(k) : null;
        r.state.textContent = mark ? 'incomplete' : STATE[s] ?? '?';
        r.state.dataset.state = mark ? 'incomplete' : String(s);
        r.state.title = mark
            ? `The last write into this slot did not finish${mark.detail ? `: ${mark.detail}` : '.'} Load it again or clear it.`
            : '';
        r.file.textContent = decodeFileName(parameter, k) || '—';
        for (const [key, b] of r.buttons) {
            if (!UNIT_ONLY.has(key)) continue;
            b.disabled = !onUnit();
            b.title = onUnit() ? b.getAttribute('aria-label') : 'Loads go into the unit: close the backup file first';
        }
    };
    const refreshAll = () => rows.forEach((_, k) => refresh(k));
    select(0, false);
    refreshAll();
    marks?.onChange(refreshAll);
    view.addObserver((blockId) => {
        if (blockId === 'IRDATA%STATUS') return refreshAll();
        const m = /^IRDATA\((\d+)\)%/.exec(blockId);
        if (m) refresh(Number(m[1]) - 1);
    });
    view.onSwitch(() => { refreshAll(); select(selected, false); });
    return {
        refresh, refreshAll, selected: () => selected, select, focus: () => rows[selected].li.focus(),
        fileName: (k) => decodeFileName(view.parameter, k),
    };
}
