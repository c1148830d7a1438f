// A mono 32-bit float WAVE file of samples, as the hex text the host's
// file service writes ("writeData"): how a slot's IR, which exists only as
// coefficients, becomes a file the host can play.
export function floatWaveHex(samples, rate) {
    const dataBytes = samples.length * 4;
    const bytes = new Uint8Array(44 + dataBytes);
    const v = new DataView(bytes.buffer);
    const text = (at, s) => [...s].forEach((c, i) => v.setUint8(at + i, c.charCodeAt(0)));
    text(0, 'RIFF');
    v.setUint32(4, 36 + dataBytes, true);
    text(8, 'WAVE');
    text(12, 'fmt ');
    v.setUint32(16, 16, true);
    v.setUint16(20, 3, true); // IEEE float
    v.setUint16(22, 1, true);
    v.setUint32(24, rate, true);
    v.setUint32(28, rate * 4, true);
    v.setUint16(32, 4, true);
    v.setUint16(34, 32, true);
    text(36, 'data');
    v.setUint32(40, dataBytes, true);
    samples.forEach((x, i) => v.setFloat32(44 + 4 * i, x, true));
    let hex = '';
    for (const b of bytes) hex += b.toString(16).padStart(2, '0');
    return hex;
}
