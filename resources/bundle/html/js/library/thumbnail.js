// The 64-point frequency-response curve of a library row: two hex digits a
// point, twice the dB below the curve's peak (20 Hz to 20 kHz, log spaced).
export const POINTS = 64;
export const RANGE_DB = 90;

export function thumbnailDb(hex) {
    const out = [];
    for (let i = 0; i < POINTS; i++) {
        const step = parseInt(String(hex ?? '').substr(i * 2, 2), 16);
        out.push(Number.isFinite(step) ? -Math.min(step / 2, RANGE_DB) : -RANGE_DB);
    }
    return out;
}

// Polyline points in a w x h box; the top shows the peak, the bottom
// `shownDb` below it.
export function thumbnailPoints(hex, w, h, shownDb = 48) {
    return thumbnailDb(hex).map((db, i) => [
        (i * (w - 1)) / (POINTS - 1),
        Math.min(h - 1, (-db / shownDb) * (h - 2) + 1),
    ]);
}

export function drawThumbnail(canvas, hex, color) {
    const ratio = globalThis.devicePixelRatio || 1;
    const w = canvas.clientWidth || canvas.width;
    const h = canvas.clientHeight || canvas.height;
    canvas.width = Math.round(w * ratio);
    canvas.height = Math.round(h * ratio);
    const ctx = canvas.getContext('2d');
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    ctx.clearRect(0, 0, w, h);
    ctx.strokeStyle = color;
    ctx.lineWidth = 1.25;
    ctx.beginPath();
    thumbnailPoints(hex, w, h).forEach(([x, y], i) => (i ? ctx.lineTo(x, y) : ctx.moveTo(x, y)));
    ctx.stroke();
}
