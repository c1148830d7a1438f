// The eleven IR slots: name, file name and state from the parameter model,
// with load, factory restore, rename and initialise; audio files, a folder
// or library rows dropped on a slot load into it and the slots after it; a
// click on a row shows what the slot holds. A slot whose last write did not
// finish (marks) shows as incomplete, whatever state the unit reports for it.
const STATE = ['empty', 'loaded', 'invalid'];

function decodeFileName(kx5, slot) {
    const size = kx5.parameter.get(`IRDATA(${slot + 1})%SIZE%0`);
    if (!size || size > 127) return '';
    const data = kx5.parameter.paramSet[`IRDATA(${slot + 1})%FILE`] ?? [];
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

export function buildSlotList(kx5, actions, marks = null) {
    const list = document.getElementById('slot-list');
    const rows = [];
    let selected = null;
    // The slot the preview compares with (and a single load goes into).
    const select = (k) => {
        selected = k;
        for (const li of list.children) li.classList.toggle('selected', Number(li.dataset.slot) === k);
    };
    for (let k = 0; k < kx5.setting.numOfIrData; k++) {
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
        const button = (label, title, fn) => {
            const b = document.createElement('button');
            b.type = 'button';
            b.textContent = label;
            b.title = `${title} slot ${k + 1}`;
            b.setAttribute('aria-label', b.title);
            b.addEventListener('click', () => fn(k));
            tools.append(b);
            return b;
        };
        button('Load…', 'Load IR files into', actions.load);
        button('Factory…', 'Restore a factory set into', actions.factory);
        button('Rename', 'Rename', actions.rename);
        button('Clear', 'Initialise', actions.initialize);
        li.append(num, text, tools);
        // A click on the row (not on its buttons) shows what the slot holds.
        li.addEventListener('click', (e) => {
            if (e.target.closest('button')) return;
            select(k);
            actions.show?.(k);
        });
        li.addEventListener('dragover', (e) => { e.preventDefault(); li.classList.add('drop'); });
        li.addEventListener('dragleave', () => li.classList.remove('drop'));
        li.addEventListener('drop', (e) => {
            e.preventDefault();
            li.classList.remove('drop');
            actions.drop(k, e.dataTransfer);
        });
        list.append(li);
        rows.push({ name, state, file });
    }
    const refresh = (k) => {
        const r = rows[k];
        const s = kx5.parameter.get(`IRDATA%STATUS%${k}`);
        const name = String(kx5.parameter.get(`IRDATA(${k + 1})%NAME%0`)).trimEnd();
        r.name.textContent = name || '(no name)';
        r.name.title = name; // the row may be too narrow for the whole name
        const mark = marks?.get(k);
        r.state.textContent = mark ? 'incomplete' : STATE[s] ?? '?';
        r.state.dataset.state = mark ? 'incomplete' : String(s);
        r.state.title = mark
            ? `The last write into this slot did not finish${mark.detail ? `: ${mark.detail}` : '.'} Load it again or clear it.`
            : '';
        r.file.textContent = decodeFileName(kx5, k) || '—';
    };
    const refreshAll = () => rows.forEach((_, k) => refresh(k));
    refreshAll();
    marks?.onChange(refreshAll);
    kx5.parameter.addObserver((blockId) => {
        if (blockId === 'IRDATA%STATUS') return refreshAll();
        const m = /^IRDATA\((\d+)\)%/.exec(blockId);
        if (m) refresh(Number(m[1]) - 1);
    });
    return { refresh, refreshAll, select, fileName: (k) => decodeFileName(kx5, k), get selected() { return selected; } };
}
