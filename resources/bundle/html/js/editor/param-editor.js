// Patch and system editors generated from the address map: one group per
// block, a select for listed values, a slider for numbers, a text field for
// names. Changes go out as DT1 (only while a unit answers); DT1 from the
// unit and area reads are reflected through the parameter observers.
import { isNumericCode } from '../params/size-codes.js';

const isText = (p) => !isNumericCode(p.code);

function controlFor(kx5, p, canSend, onEdit) {
    // Without a unit that answers, an edit would show a value no unit holds:
    // the control goes back to the model's value instead.
    const edit = (value) => {
        if (!canSend()) return refresh();
        kx5.parameter.set(p.id, value, true);
        onEdit(p);
    };
    const row = document.createElement('label');
    row.className = 'control';
    const name = document.createElement('span');
    name.textContent = p.name;
    row.append(name);
    let input;
    let output = null;
    if (isText(p)) {
        input = document.createElement('input');
        input.type = 'text';
        input.maxLength = p.bytes;
        input.addEventListener('change', () => edit(input.value.padEnd(p.bytes, ' ')));
    } else if (p.values && p.values.length > 0) {
        input = document.createElement('select');
        p.values.forEach((label, i) => {
            const o = document.createElement('option');
            o.value = String((p.min ?? 0) + i);
            o.textContent = label;
            input.append(o);
        });
        input.addEventListener('change', () => edit(Number(input.value)));
    } else {
        input = document.createElement('input');
        input.type = 'range';
        input.min = String(p.min ?? 0);
        input.max = String(p.max ?? 127);
        output = document.createElement('output');
        input.addEventListener('input', () => {
            output.textContent = input.value;
            edit(Number(input.value));
        });
    }
    input.setAttribute('aria-label', p.name);
    row.append(input);
    if (output) row.append(output);
    const refresh = () => {
        const v = kx5.parameter.get(p.id);
        if (isText(p)) input.value = String(v).trimEnd();
        else input.value = String(v);
        if (output) output.textContent = String(v);
    };
    refresh();
    return { row, refresh };
}

// Builds the editor of one area into container; area may change later
// (patch view) through the returned setArea. onEdit(param) follows every
// change the user makes.
export function buildAreaEditor(kx5, container, area, canSend, onEdit = () => {}) {
    let controls = new Map();
    const render = (name) => {
        controls = new Map();
        container.replaceChildren();
        for (const id of kx5.map.areaBlocks(name)) {
            const block = kx5.map.block(id);
            if (block.size < 0 || block.params.length === 0) continue;
            const set = document.createElement('fieldset');
            const legend = document.createElement('legend');
            legend.textContent = block.name;
            set.append(legend);
            const list = [];
            for (const p of block.params.slice(0, 40)) {
                const c = controlFor(kx5, p, canSend, onEdit);
                set.append(c.row);
                list.push(c);
            }
            controls.set(id, list);
            container.append(set);
        }
    };
    render(area);
    kx5.parameter.addObserver((blockId) => {
        const list = controls.get(blockId);
        if (list) for (const c of list) c.refresh();
    });
    return { setArea: render };
}
