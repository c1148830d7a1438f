// The tree of areas, blocks and parameters built from the address-map
// definition (data/kx5-address-map.json).
import { nibble } from '../link/sysex.js';
import { codeBytes, codeFromName, encodeValue, applyOfs, isNumericCode } from './size-codes.js';

const SEP = '%';

function linear(hex) {
    if (!/^[0-7][0-9A-Fa-f]{7}$/.test(hex ?? '')) throw new Error(`bad address "${hex}"`);
    const x = parseInt(hex, 16);
    if (x & 0x80808080) throw new Error(`address "${hex}" is not four 7-bit groups`);
    return nibble(x);
}

// "NAME #" with index i -> "NAME i+1".
function expandName(name, i) {
    return name.includes('#') ? name.replace('#', String(i + 1)) : name;
}

function repeat(entry, fn) {
    const count = entry.count ?? 1;
    for (let i = 0; i < count; i++) fn(i, expandName(entry.name, i));
}

export class AddressMap {
    constructor(definition) {
        this.definition = definition;
        this.root = { name: '', address: 0, size: 0, children: [] };
        this.blocks = new Map();
        this.params = new Map();
        for (const area of definition.areas ?? []) this.addArea(area);
        this.root.children.sort((a, b) => a.address - b.address);
    }

    addArea(area) {
        const stride = area.stride ? linear(area.stride) : 0;
        const base = linear(area.address);
        repeat(area, (i, name) => {
            const node = { name, address: base + i * stride, size: 0, children: [] };
            const blocks = area.template ? this.definition.templates?.[area.template] : area.blocks;
            if (!Array.isArray(blocks)) throw new Error(`area ${name} has no blocks`);
            for (const b of blocks) node.children.push(this.makeBlock(b, name, node.address));
            node.children.sort((a, b) => a.address - b.address);
            this.root.children.push(node);
        });
    }

    makeBlock(def, areaName, areaAddress) {
        const id = areaName + SEP + def.name;
        const address = linear(def.address);
        const block = {
            id, name: def.name, address, absolute: areaAddress + address, children: [],
            params: [], variable: !!def.variable,
        };
        if (block.variable) {
            const max = def.maxSize;
            if (!Number.isInteger(max) || max <= 0) throw new Error(`${id}: variable block needs maxSize`);
            // Four length digits, then up to maxSize bytes.
            block.size = -(4 + max);
        } else {
            let next = 0;
            for (const p of def.params ?? []) {
                const code = codeFromName(p.type, p.length);
                const bytes = codeBytes(code);
                const stride = p.stride ?? bytes;
                const start = p.offset ?? next;
                repeat(p, (i, name) => {
                    const offset = start + i * stride;
                    const param = {
                        id: id + SEP + offset, block: id, name, offset, code, bytes,
                        init: p.init ?? (isNumericCode(code) ? 0 : ''), ofs: p.ofs ?? 0,
                        min: p.min, max: p.max, unit: p.unit, refers: p.refers,
                        values: p.values ?? (p.list ? this.definition.lists?.[p.list] : undefined),
                    };
                    block.params.push(param);
                    this.params.set(param.id, param);
                    next = offset + bytes;
                });
            }
            block.params.sort((a, b) => a.offset - b.offset);
            const last = block.params[block.params.length - 1];
            block.size = last ? last.offset + last.bytes : 0;
            if (block.size === 0) throw new Error(`${id}: empty block`);
        }
        block.initial = initialImage(block);
        this.blocks.set(id, block);
        return block;
    }

    block(id) {
        return this.blocks.get(id);
    }

    param(id) {
        return this.params.get(id);
    }

    // Routes a linear address to its block: at each level the last entry not
    // above the remaining address, until an entry with a size.
    locate(address) {
        let level = this.root.children;
        let rest = address;
        for (;;) {
            let pick = null;
            for (const e of level) {
                if (e.address <= rest) pick = e;
                else break;
            }
            if (!pick) return null;
            rest -= pick.address;
            if (pick.size !== 0) return { block: this.blocks.get(pick.id), offset: rest };
            if (!pick.children?.length) return null;
            level = pick.children;
        }
    }

    // Block ids of one area ("SYSTEM", "PATCH(1)", "IRDATA(3)"...).
    areaBlocks(area) {
        const node = this.root.children.find((n) => n.name === area);
        return node ? node.children.map((b) => b.id) : [];
    }
}

// "00" everywhere, then each parameter's initial value at its offset; a
// variable block starts with its four zero length digits.
export function initialImage(block) {
    if (block.size < 0) return ['00', '00', '00', '00'];
    const data = new Array(block.size).fill(0);
    for (const p of block.params) {
        const v = isNumericCode(p.code) ? applyOfs(p.init, p.ofs) : p.init;
        encodeValue(p.code, v).forEach((b, i) => { data[p.offset + i] = b; });
    }
    return data.map((b) => b.toString(16).toUpperCase().padStart(2, '0'));
}

// Reads the definition file next to the page (or through fs in node).
export async function loadAddressMapDefinition(url = new URL('../../data/kx5-address-map.json', import.meta.url)) {
    if (url.protocol === 'file:' && typeof process !== 'undefined' && process.versions?.node) {
        const { readFile } = await import('node:fs/promises');
        return JSON.parse(await readFile(url, 'utf8'));
    }
    const response = await fetch(url);
    // Local files answer with status 0.
    if (!response.ok && !(url.protocol === 'file:' && response.status === 0)) {
        throw new Error(`cannot load ${url}: ${response.status}`);
    }
    return response.json();
}
