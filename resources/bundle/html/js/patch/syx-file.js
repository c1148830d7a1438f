// Patch files as librarians exchange them: a .syx file holding the DT1
// messages that write one patch, block by block, at the addresses of the
// patch they were saved from (the patch being edited, or a user patch), so
// that any SysEx tool can send it to the unit.
//
// Reading takes the file apart message by message and accepts it only
// whole: every message a DT1 of this maker and model with a correct
// checksum, every address inside one patch area, every block of the patch
// there, every value inside its range. Anything else is a SyxError that
// says what is wrong; nothing of such a file is used.
import { CMD_DT1, bytesToHex, dt1Message, dt1Payload, hexToBytes, nibble } from '../link/sysex.js';
import { Parameter, WRITE_PIECE } from '../params/parameter.js';
import { isNumericCode } from '../params/size-codes.js';
import { shortLabel } from '../params/display.js';
import { variableLength } from '../params/read-write-logic.js';

export const SYX_EXTENSION = 'syx';
// A patch is well under 1 KiB; anything this large is not one.
export const MAX_SYX_BYTES = 64 * 1024;
export const PATCH_AREAS = Object.freeze(['PATCH', 'PATCH(1)', 'PATCH(2)']);

export class SyxError extends Error {}

const hexOf = (n) => n.toString(16).toUpperCase().padStart(2, '0');

// The DT1 messages ({ address, data }) that write blocks (an image:
// blockId -> hex texts, or [[blockId, data]]), at most WRITE_PIECE data
// bytes each.
export function imageMessages(map, image) {
    const out = [];
    for (const [id, data] of image) {
        const block = map.block(id);
        for (let i = 0; i < data.length; i += WRITE_PIECE) {
            out.push({ address: block.absolute + i, data: data.slice(i, i + WRITE_PIECE).join('') });
        }
    }
    return out;
}

// The messages that write every block of an area as the model holds it.
export function areaMessages(map, parameter, area) {
    return imageMessages(map, map.areaBlocks(area).map((id) => [id, parameter.paramSet[id] ?? map.block(id).initial]));
}

// The file's bytes (hex text) for those messages.
export function syxHex(setting, messages) {
    return messages.map((m) => dt1Message(setting, m.address, m.data)).join('');
}

// The messages of a file: [{ index, bytes }], each from F0 to F7. Bytes
// outside a message, a message cut short or one with a status byte inside
// is an error.
export function splitMessages(bytes) {
    const out = [];
    let start = -1;
    for (let i = 0; i < bytes.length; i++) {
        const b = bytes[i];
        if (start < 0) {
            if (b !== 0xf0) throw new SyxError(`byte ${i + 1} (${hexOf(b)}) lies outside any message: this is not a SysEx file`);
            start = i;
        } else if (b === 0xf7) {
            out.push({ index: out.length + 1, bytes: bytes.slice(start, i + 1) });
            start = -1;
        } else if (b & 0x80) {
            throw new SyxError(`message ${out.length + 1} is broken: byte ${i + 1} (${hexOf(b)}) inside it is no data byte`);
        }
    }
    if (start >= 0) throw new SyxError(`message ${out.length + 1} is cut short: the file ends inside it`);
    return out;
}

// One message as { address (linear), data: [hex] }, or a SyxError.
function readMessage(setting, { index, bytes }) {
    const maker = parseInt(setting.manufacturerId, 16);
    const model = hexToBytes(setting.modelId);
    const head = 1 + 1 + 1 + model.length + 1;
    if (bytes.length < head + 4 + 2) throw new SyxError(`message ${index} is too short to be a DT1`);
    if (bytes[1] !== maker) throw new SyxError(`message ${index} is from another maker (${hexOf(bytes[1])}): not a ${setting.product} file`);
    if (model.some((m, i) => bytes[3 + i] !== m)) throw new SyxError(`message ${index} is for another model: not a ${setting.product} file`);
    const command = hexOf(bytes[head - 1]);
    if (command !== CMD_DT1) throw new SyxError(`message ${index} is not a data message (DT1) but command ${command}`);
    const hex = bytesToHex(bytes);
    const address = hex.substr(head * 2, 8);
    const { data, valid } = dt1Payload(address, hex.substr(head * 2 + 8));
    if (!valid) throw new SyxError(`message ${index} has a wrong checksum: the file is damaged`);
    return { address: nibble(parseInt(address, 16)), data: data.match(/../g) ?? [] };
}

// The ranges [start, end) a block got, merged.
function covers(ranges, size) {
    const sorted = [...ranges].sort((a, b) => a[0] - b[0]);
    let at = 0;
    for (const [s, e] of sorted) {
        if (s > at) return false;
        at = Math.max(at, e);
    }
    return at >= size;
}

// Problems with the values a patch image holds (at most a few named).
function valueProblems(map, parameter, area) {
    const out = [];
    for (const id of map.areaBlocks(area)) {
        const block = map.block(id);
        if (block.size < 0) {
            const data = parameter.paramSet[id];
            const digits = data.slice(0, 4).join('');
            if (data.length < 4 || data.slice(0, 4).some((h) => parseInt(h, 16) > 0xf) || variableLength(digits) !== data.length - 4) {
                out.push(`${block.name} does not say its own length`);
            }
            continue;
        }
        for (const p of block.params) {
            if (isNumericCode(p.code)) {
                const v = parameter.get(p.id);
                if ((p.min !== undefined && v < p.min) || (p.max !== undefined && v > p.max)) {
                    out.push(`${shortLabel(p)} is ${v}, outside ${p.min}…${p.max}`);
                }
            } else if (parameter.bytesOf(p.id).some((h) => parseInt(h, 16) < 0x20 || parseInt(h, 16) > 0x7e)) {
                out.push(`${shortLabel(p)} holds characters that are not text`);
            }
        }
    }
    return out;
}

// Parses the bytes of a patch file (hex text). Returns { area: the patch
// area it was saved from, name, blocks: Map(block name -> [hex]),
// messages } or throws SyxError.
export function parsePatchFile(hex, { map, setting }) {
    const text = String(hex ?? '');
    if (!/^([0-9A-Fa-f]{2})*$/.test(text)) throw new SyxError('the file could not be read as bytes');
    if (text.length === 0) throw new SyxError('the file is empty');
    if (text.length / 2 > MAX_SYX_BYTES) throw new SyxError(`the file is larger than ${MAX_SYX_BYTES / 1024} KiB: not a patch file`);
    const messages = splitMessages(hexToBytes(text)).map((m) => ({ ...readMessage(setting, m), index: m.index }));
    if (!messages.length) throw new SyxError('the file holds no messages');

    let area = null;
    const ranges = new Map();
    const image = new Parameter({ map, controller: null, setting });
    for (const m of messages) {
        const hit = map.locate(m.address);
        const blockArea = hit?.block.id.split('%')[0];
        if (!hit || !PATCH_AREAS.includes(blockArea)) {
            throw new SyxError(`message ${m.index} writes outside the patch area (${hit ? hit.block.id : `address ${m.address.toString(16).toUpperCase()}`})`);
        }
        if (area === null) area = blockArea;
        if (blockArea !== area) throw new SyxError(`message ${m.index} writes into ${blockArea}, the messages before it into ${area}: a patch file holds one patch`);
        const { block, offset } = hit;
        if (offset + m.data.length > Math.abs(block.size)) {
            throw new SyxError(`message ${m.index} runs past the end of block ${block.name}`);
        }
        image.store(m.address, m.data);
        if (!ranges.has(block.id)) ranges.set(block.id, []);
        if (block.size < 0) ranges.set(block.id, [[0, offset + m.data.length]]);
        else ranges.get(block.id).push([offset, offset + m.data.length]);
    }
    const missing = map.areaBlocks(area)
        .map((id) => map.block(id))
        .filter((b) => b.size > 0 && !covers(ranges.get(b.id) ?? [], b.size))
        .map((b) => b.name);
    if (missing.length) throw new SyxError(`the file does not hold the whole patch: ${missing.join(', ')} ${missing.length === 1 ? 'is' : 'are'} missing or incomplete`);
    const problems = valueProblems(map, image, area);
    if (problems.length) {
        const more = problems.length > 3 ? ` and ${problems.length - 3} more` : '';
        throw new SyxError(`the file holds values the unit does not take: ${problems.slice(0, 3).join('; ')}${more}`);
    }
    const blocks = new Map();
    for (const id of map.areaBlocks(area)) blocks.set(map.block(id).name, [...image.paramSet[id]]);
    const common = map.block(`${area}%COMMON`);
    const nameParam = common?.params.find((p) => !isNumericCode(p.code));
    const name = nameParam ? String(image.get(nameParam.id)).trimEnd() : '';
    return { area, name, blocks, messages: messages.length };
}

// The blocks of a parsed patch as the image of another patch area.
export function patchImage(parsed, area) {
    const out = new Map();
    for (const [name, data] of parsed.blocks) out.set(`${area}%${name}`, [...data]);
    return out;
}

// A patch name made fit for a file name.
export function patchFileName(name, fallback = 'patch') {
    const clean = String(name ?? '').trim().replace(/[\\/:*?"<>|\x00-\x1f]+/g, '_');
    return `${clean || fallback}.${SYX_EXTENSION}`;
}
