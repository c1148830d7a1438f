// The page's mirror of the unit's parameter memory (paramSet), the value
// encodings, edits sent as DT1 and DT1 messages from the unit stored back.
import { CMD_DT1, SYSEX_START, dt1Payload, hex8, nibble } from '../link/sysex.js';
import { applyOfs, codeBytes, decodeValue, encodeValue, isNumericCode, removeOfs } from './size-codes.js';

export const SYSEX_MAXLEN = 128;
// Data bytes in one DT1 that writes a longer range.
export const WRITE_PIECE = 240;

// "BLOCK%ID%12" -> ["BLOCK%ID", 12]
export function splitParamId(paramId) {
    const i = paramId.lastIndexOf('%');
    return [paramId.substring(0, i), parseInt(paramId.substring(i + 1), 10)];
}

const toBytes = (hexes) => hexes.map((h) => parseInt(h, 16) || 0);
const toHexes = (bytes) => bytes.map(hex8);

export class Parameter {
    constructor({ map, controller, setting }) {
        this.map = map;
        this.controller = controller;
        this.setting = setting ?? controller?.setting;
        this.observers = [];
        this.paramSet = {};
        for (const [id, block] of map.blocks) this.paramSet[id] = [...block.initial];
        this.receiver = (message) => this.receive(message);
        controller?.addReceiver(this.receiver);
    }

    dispose() {
        this.controller?.removeReceiver(this.receiver);
    }

    addObserver(o) {
        if (!this.observers.includes(o)) this.observers.push(o);
    }

    removeObserver(o) {
        const i = this.observers.indexOf(o);
        if (i >= 0) this.observers.splice(i, 1);
    }

    notify(blockId, start, end) {
        for (const o of [...this.observers]) {
            if (!this.observers.includes(o)) continue;
            if (typeof o === 'function') o(blockId, start, end);
            else o.notify(blockId, start, end);
        }
    }

    // Decoded value minus ofs (divided by the factor of a pair), or the text
    // of a text code; 0 for an unknown block.
    value(paramId, code, ofs = 0) {
        const [blockId, offset] = splitParamId(paramId);
        const data = this.paramSet[blockId];
        if (!data) return 0;
        const bytes = toBytes(data.slice(offset, offset + codeBytes(code)));
        const v = decodeValue(code, bytes);
        return isNumericCode(code) ? removeOfs(v, ofs) : v;
    }

    // Stores a value and, when send is set, sends exactly those bytes as one
    // DT1. Numbers outside the parameter's range are clamped to it.
    setValue(paramId, code, ofs, value, send = true) {
        const [blockId, offset] = splitParamId(paramId);
        const block = this.map.block(blockId);
        const data = this.paramSet[blockId];
        if (!block || !data) return false;
        let stored = value;
        if (isNumericCode(code)) {
            const p = this.map.param(paramId);
            let v = Number(value);
            if (!Number.isFinite(v)) v = p?.min ?? 0;
            if (p?.min !== undefined && v < p.min) v = p.min;
            if (p?.max !== undefined && v > p.max) v = p.max;
            stored = applyOfs(v, ofs);
        }
        const bytes = toHexes(encodeValue(code, stored));
        const limit = block.size < 0 ? -block.size : block.size;
        if (offset < 0 || offset + bytes.length > limit) return false;
        while (data.length < offset + bytes.length) data.push('00');
        data.splice(offset, bytes.length, ...bytes);
        if (send) this.controller?.dt1(block.absolute + offset, bytes.join(''));
        this.notify(blockId, offset, offset + bytes.length);
        return true;
    }

    // The parameter's own code and ofs from the map.
    get(paramId) {
        const p = this.map.param(paramId);
        return p ? this.value(paramId, p.code, p.ofs) : 0;
    }

    set(paramId, value, send = true) {
        const p = this.map.param(paramId);
        return p ? this.setValue(paramId, p.code, p.ofs, value, send) : false;
    }

    // The stored bytes of a parameter (hex texts).
    bytesOf(paramId) {
        const p = this.map.param(paramId);
        const data = p ? this.paramSet[p.block] : null;
        return data ? data.slice(p.offset, p.offset + p.bytes) : [];
    }

    // Stores bytes at an offset of a block and, when send is set, sends them
    // as DT1 (an undo, a compare, a patch loaded into the patch being
    // edited). A variable block ends after them, as in the unit.
    write(blockId, offset, hexes, send = true) {
        const block = this.map.block(blockId);
        const data = this.paramSet[blockId];
        const limit = block ? Math.abs(block.size) : 0;
        if (!block || !data || offset < 0 || offset + hexes.length > limit) return false;
        if (block.size < 0) {
            if (offset > data.length) return false;
            data.length = offset;
            data.push(...hexes);
        } else {
            data.splice(offset, hexes.length, ...hexes);
        }
        if (send && this.controller) {
            for (let i = 0; i < hexes.length; i += WRITE_PIECE) {
                this.controller.dt1(block.absolute + offset + i, hexes.slice(i, i + WRITE_PIECE).join(''));
            }
        }
        this.notify(blockId, offset, offset + hexes.length);
        return true;
    }

    // Sends the stored bytes of a range as one DT1, cut at the block's end.
    flush(paramId, bytes) {
        const [blockId, offset] = splitParamId(paramId);
        const block = this.map.block(blockId);
        const data = this.paramSet[blockId];
        if (!block || !data || offset >= data.length) return false;
        const part = data.slice(offset, Math.min(offset + bytes, data.length));
        this.controller?.dt1(block.absolute + offset, part.join(''));
        return true;
    }

    // Linear address, data and request sizes of a block: one request when it
    // fits SYSEX_MAXLEN, otherwise pieces ending at the first parameter end
    // at least SYSEX_MAXLEN bytes past the piece's start.
    getblock(blockId) {
        const block = this.map.block(blockId);
        if (!block) return null;
        const data = [...this.paramSet[blockId]];
        if (block.size < 0) return { address: block.absolute, data, sizes: [block.size] };
        const sizes = [];
        if (block.size <= SYSEX_MAXLEN) {
            sizes.push(block.size);
        } else {
            let start = 0;
            for (const p of block.params) {
                const end = p.offset + p.bytes;
                if (end - start >= SYSEX_MAXLEN) {
                    sizes.push(end - start);
                    start = end;
                }
            }
            if (start < block.size) sizes.push(block.size - start);
        }
        return { address: block.absolute, data, sizes };
    }

    // Batch-read tasks ({ address, size }) for whole blocks, in the pieces
    // getblock gives.
    readTasks(blockIds) {
        const tasks = [];
        for (const id of blockIds) {
            const { address, sizes } = this.getblock(id);
            let at = address;
            for (const size of sizes) {
                tasks.push({ address: at, size });
                at += Math.abs(size);
            }
        }
        return tasks;
    }

    // Replaces a block's data.
    setdata(blockId, data) {
        const block = this.map.block(blockId);
        if (!block) return false;
        let copy = [...data].map((h) => String(h).toUpperCase().padStart(2, '0'));
        if (block.size > 0) {
            const init = block.initial;
            copy = copy.slice(0, block.size);
            while (copy.length < block.size) copy.push(init[copy.length]);
        } else if (copy.length > -block.size) {
            copy = copy.slice(0, -block.size);
        }
        this.paramSet[blockId] = copy;
        this.notify(blockId, 0, copy.length);
        return true;
    }

    // Restores the initial image of one block, or of every block.
    initialize(blockId) {
        const ids = blockId === undefined ? [...this.map.blocks.keys()] : [blockId];
        for (const id of ids) {
            const block = this.map.block(id);
            if (block) this.setdata(id, block.initial);
        }
    }

    // A copy of a block's current data.
    copyblock(blockId) {
        const data = this.paramSet[blockId];
        return data ? [...data] : null;
    }

    // A copy of a block's initial image.
    initblock(blockId) {
        const block = this.map.block(blockId);
        return block ? [...block.initial] : null;
    }

    // DT1 from the unit: stored into the block it addresses.
    receive(message) {
        const s = this.setting;
        const head = SYSEX_START + s.manufacturerId + s.deviceId + s.modelId + CMD_DT1;
        if (!message.startsWith(head)) return;
        const address = message.substr(head.length, 8);
        const { data, valid } = dt1Payload(address, message.substr(head.length + 8));
        if (!valid) return;
        this.store(nibble(parseInt(address, 16)), toHexesFromText(data));
    }

    // Stores bytes at a linear address; returns the block id or null.
    store(address, bytes) {
        const hit = this.map.locate(address);
        if (!hit) return null;
        const { block, offset } = hit;
        const data = this.paramSet[block.id];
        let length = bytes.length;
        if (block.size < 0) {
            // Variable length: the block now ends where this message ends.
            if (offset >= -block.size) return null;
            length = Math.min(length, -block.size - offset);
            while (data.length < offset) data.push('00');
            data.length = offset;
            data.push(...bytes.slice(0, length));
        } else {
            length = Math.min(length, block.size - offset);
            if (length <= 0) return null;
            data.splice(offset, length, ...bytes.slice(0, length));
        }
        this.notify(block.id, offset, offset + length);
        return block.id;
    }
}

function toHexesFromText(hex) {
    const out = [];
    for (let i = 0; i + 1 < hex.length; i += 2) out.push(hex.substr(i, 2).toUpperCase());
    return out;
}
