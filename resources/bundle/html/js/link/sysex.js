// Address packing, checksums and the DT1/RQ1 frames of the unit's exclusive
// messages. Messages travel as upper-case hex text, two digits per byte.

export const SYSEX_START = 'F0';
export const SYSEX_END = 'F7';
export const CMD_RQ1 = '11';
export const CMD_DT1 = '12';

// Four 7-bit address groups -> linear 28-bit number.
export function nibble(x) {
    return (
        ((x & 0x7f000000) >>> 3) |
        ((x & 0x007f0000) >>> 2) |
        ((x & 0x00007f00) >>> 1) |
        (x & 0x7f)
    );
}

// Linear 28-bit number -> four 7-bit groups (as a number).
export function sevenBitize(x) {
    return (
        (((x & 0x0fe00000) << 3) |
            ((x & 0x001fc000) << 2) |
            ((x & 0x00003f80) << 1) |
            (x & 0x7f)) >>>
        0
    );
}

// Linear 28-bit number -> the eight hex digits sent on the wire.
export function _7bitize(x) {
    return hex32(sevenBitize(x));
}

export function hex8(v) {
    return (v & 0xff).toString(16).toUpperCase().padStart(2, '0');
}

export function hex32(v) {
    return (v >>> 0).toString(16).toUpperCase().padStart(8, '0');
}

export function bytesToHex(bytes) {
    let s = '';
    for (const b of bytes) s += hex8(b);
    return s;
}

// Pairs of hex digits -> byte values; a trailing odd digit is ignored.
export function hexToBytes(hex) {
    const out = new Array(hex.length >> 1);
    for (let i = 0; i < out.length; i++) out[i] = parseInt(hex.substr(i * 2, 2), 16) || 0;
    return out;
}

// Sum of address and data bytes, negated modulo 128.
export function checksum(hex) {
    let sum = 0;
    for (let i = 0; i + 1 < hex.length; i += 2) sum += parseInt(hex.substr(i, 2), 16) || 0;
    return hex8((128 - (sum % 128)) & 0x7f);
}

// Frame header shared by DT1 and RQ1: F0, maker, device, model, command.
function header(setting, command) {
    return SYSEX_START + setting.manufacturerId + setting.deviceId + setting.modelId + command;
}

// DT1 at a linear address; data is hex text.
export function dt1Message(setting, address, data) {
    const body = _7bitize(address) + data.toUpperCase();
    return header(setting, CMD_DT1) + body + checksum(body) + SYSEX_END;
}

// RQ1 for size bytes at a linear address; the size is packed like an address.
export function rq1Message(setting, address, size) {
    const body = _7bitize(address) + _7bitize(size);
    return header(setting, CMD_RQ1) + body + checksum(body) + SYSEX_END;
}

// Splits a received maker message behind a header of headerLength hex digits
// into address (8 digits) and the rest (data, checksum, F7).
export function splitBody(message, headerLength) {
    return {
        address: message.substr(headerLength, 8),
        rest: message.substr(headerLength + 8),
    };
}

// Data bytes of a DT1 "rest" (data + checksum + F7) and whether the checksum
// over address and data holds.
export function dt1Payload(address, rest) {
    const data = rest.length >= 4 ? rest.substr(0, rest.length - 4) : '';
    const sum = rest.length >= 4 ? rest.substr(rest.length - 4, 2) : '';
    return { data, valid: rest.endsWith(SYSEX_END) && checksum(address + data) === sum };
}
