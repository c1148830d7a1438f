// What a slot load writes into the unit: the slot's name, the UTF-8 file
// name with its byte count, and the coefficient words, as DT1 data split
// into messages of at most MAX_DATA_BYTES.
import { hex8, nibble } from '../link/sysex.js';
import { unitNameBytes } from './slot-name.js';

export const MAX_DATA_BYTES = 240;
export const FILE_NAME_ENTRIES = 128;
export const COEFFICIENT_WORDS = 3354;

// Linear start of slot k (0-based) in an area given as four 7-bit groups.
export function slotStart(setting, area, k) {
    return nibble(area) + k * nibble(setting.irDataIndexOfs);
}

export function baseName(path) {
    const name = String(path).split(/[\\/]/).pop();
    const dot = name.lastIndexOf('.');
    return dot > 0 ? name.substring(0, dot) : name;
}

export function fileName(path) {
    return String(path).split(/[\\/]/).pop();
}

// channel: null for a mono file, 0 (left), 1 (right) or 'mix' (both
// mixed) for a stereo one.
export const CHANNEL_PREFIX = Object.freeze({ 0: '[L]', 1: '[R]', mix: '[M]' });

export function slotName(path, channel, length = 32) {
    const prefix = CHANNEL_PREFIX[channel] ?? '';
    return prefix + [...baseName(path)].slice(0, length).join('');
}

// Name bytes: exactly `length` bytes of printable ASCII padded with spaces,
// by the unit's naming rule (slot-name.js).
export function nameBytes(name, length = 32) {
    return unitNameBytes(name, length);
}

// The file name in UTF-8, shortened character by character from the end
// until it is below 128 bytes.
export function fileNameBytes(name) {
    const encoder = new TextEncoder();
    const chars = [...String(name)];
    let bytes = encoder.encode(chars.join(''));
    while (bytes.length >= FILE_NAME_ENTRIES && chars.length > 0) {
        chars.pop();
        bytes = encoder.encode(chars.join(''));
    }
    return [...bytes];
}

// Hex text of the coefficient file -> 32-bit words, 4 bytes little-endian each.
export function wordsFromHex(hex) {
    const text = String(hex ?? '');
    if (text.length === 0 || text.length % 8 !== 0 || /[^0-9A-Fa-f]/.test(text)) return null;
    const words = new Array(text.length / 8);
    for (let i = 0; i < words.length; i++) {
        const b = text.substr(i * 8, 8);
        words[i] = parseInt(b.substr(6, 2) + b.substr(4, 2) + b.substr(2, 2) + b.substr(0, 2), 16) >>> 0;
    }
    return words;
}

// Each value -> `digits` data bytes, one 4-bit digit each, most significant
// first.
function digitBytes(value, digits) {
    const out = [];
    for (let i = digits - 1; i >= 0; i--) out.push(Math.floor(value / 16 ** i) % 16);
    return out;
}

const toHex = (bytes) => bytes.map(hex8).join('');

// Entries of `digits` digits from a linear start, as many per message as fit.
export function digitMessages(start, entries, digits) {
    const perMessage = Math.floor(MAX_DATA_BYTES / digits);
    const messages = [];
    for (let i = 0; i < entries.length; i += perMessage) {
        const data = entries.slice(i, i + perMessage).flatMap((v) => digitBytes(v, digits));
        messages.push({ address: start + i * digits, data: toHex(data) });
    }
    return messages;
}

export function nameMessage(setting, slot, name) {
    return {
        address: slotStart(setting, setting.irDataNameAddr, slot),
        data: toHex(nameBytes(name, setting.irDataNameLength)),
    };
}

// The whole write list of a slot load, in sending order.
export function buildWriteList(setting, slot, { name, file, words }) {
    const fileBytes = fileNameBytes(file);
    const padded = [...fileBytes];
    while (padded.length < FILE_NAME_ENTRIES) padded.push(0x20);
    return [
        nameMessage(setting, slot, name),
        {
            address: slotStart(setting, setting.irDataSizeAddr, slot),
            data: toHex(digitBytes(fileBytes.length & 0xffff, 4)),
        },
        ...digitMessages(slotStart(setting, setting.irDataFileAddr, slot), padded, 2),
        ...digitMessages(slotStart(setting, setting.irDataCoefAddr, slot), words, 8),
    ];
}
