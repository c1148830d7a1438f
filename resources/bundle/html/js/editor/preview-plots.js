// The two plots of the IR preview, drawn from what they show (no state of
// their own): the waveform, linear or in dB, over the whole response or its
// first 20 ms; the frequency response on a fixed dB scale where every curve
// is 0 dB at 1 kHz.
import { waveColumns } from '../ir/wav-preview.js';

export const RESPONSE_TOP_DB = 18;
export const RESPONSE_BOTTOM_DB = -42;
export const WAVE_FLOOR_DB = -72;
export const ZOOM_SECONDS = 0.02;

const GRID = '#2c3036';
const LABEL = '#9aa0a6';
export const COLORS = Object.freeze({ file: '#e0a040', right: '#6fa8dc', unit: '#f3dca8', slot: '#7fc97f' });

// Sizes the canvas to its box at the screen's pixel ratio; false when it
// has no box (hidden).
export function fitCanvas(canvas) {
    const ratio = window.devicePixelRatio || 1;
    if (!canvas.dataset.h) canvas.dataset.h = String(canvas.height);
    const h = Number(canvas.dataset.h);
    const w = canvas.clientWidth;
    if (!w) return null;
    canvas.width = Math.round(w * ratio);
    canvas.height = Math.round(h * ratio);
    canvas.style.height = `${h}px`;
    const ctx = canvas.getContext('2d');
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    ctx.clearRect(0, 0, w, h);
    return { ctx, w, h };
}

function msLabel(seconds) {
    const ms = seconds * 1000;
    return ms >= 100 ? `${Math.round(ms)} ms` : `${Number(ms.toFixed(1))} ms`;
}

// channels: [{ samples, color }] at `rate`; seconds: the span shown.
export function drawWave(canvas, { channels, rate, seconds, db, title }) {
    const fit = fitCanvas(canvas);
    if (!fit) return false;
    const { ctx, w, h } = fit;
    const left = 30;
    const top = 16;
    const bottom = h - 14;
    const plotW = w - left - 4;
    const to = Math.max(1, Math.round(seconds * rate));
    let peak = 1e-9;
    for (const c of channels) for (let i = 0; i < Math.min(to, c.samples.length); i++) peak = Math.max(peak, Math.abs(c.samples[i]));
    ctx.font = '10px system-ui';
    ctx.lineWidth = 1;
    ctx.strokeStyle = GRID;
    ctx.fillStyle = LABEL;
    // Time grid: five steps.
    for (let k = 0; k <= 4; k++) {
        const x = left + (k * plotW) / 4;
        ctx.beginPath(); ctx.moveTo(x, top); ctx.lineTo(x, bottom); ctx.stroke();
        const label = msLabel((k * seconds) / 4);
        ctx.fillText(label, Math.min(Math.max(left, x - 12), w - ctx.measureText(label).width - 2), h - 3);
    }
    const y = db
        ? (v) => top + ((-v) / -WAVE_FLOOR_DB) * (bottom - top)
        : (v) => (top + bottom) / 2 - v * ((bottom - top) / 2 - 2);
    const marks = db ? [0, -24, -48, -72] : [1, 0, -1];
    for (const m of marks) {
        ctx.beginPath(); ctx.moveTo(left, y(m)); ctx.lineTo(w - 4, y(m)); ctx.stroke();
        ctx.fillText(db ? `${m}` : m === 0 ? '0' : '', 4, y(m) + 3);
    }
    for (const c of channels) {
        const cols = waveColumns(c.samples, 0, to, Math.max(1, Math.round(plotW)), { db, peak, floorDb: WAVE_FLOOR_DB });
        ctx.strokeStyle = c.color;
        ctx.globalAlpha = channels.length > 1 ? 0.8 : 1;
        ctx.beginPath();
        cols.forEach((col, x) => {
            const px = left + x + 0.5;
            if (db) {
                if (x === 0) ctx.moveTo(px, y(col.db));
                else ctx.lineTo(px, y(col.db));
            } else {
                ctx.moveTo(px, y(col.hi));
                ctx.lineTo(px, y(col.lo) + 0.5);
            }
        });
        ctx.stroke();
        ctx.globalAlpha = 1;
    }
    ctx.fillStyle = LABEL;
    ctx.fillText(title, left + 4, 11);
    return true;
}

// curves: [{ points (relative to 1 kHz), color, label, dashed }].
export function drawResponse(canvas, curves) {
    const fit = fitCanvas(canvas);
    if (!fit) return false;
    const { ctx, w, h } = fit;
    const left = 30;
    const top = 20; // the legend's line above the plot
    const range = RESPONSE_TOP_DB - RESPONSE_BOTTOM_DB;
    const fx = (hz) => left + (Math.log10(hz / 20) / Math.log10(1000)) * (w - left - 6);
    const fy = (db) => top + ((RESPONSE_TOP_DB - db) / range) * (h - top - 16);
    ctx.font = '10px system-ui';
    ctx.lineWidth = 1;
    ctx.fillStyle = LABEL;
    ctx.strokeStyle = GRID;
    for (const hz of [20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000]) {
        ctx.beginPath(); ctx.moveTo(fx(hz), top); ctx.lineTo(fx(hz), h - 16); ctx.stroke();
        const label = hz >= 1000 ? `${hz / 1000}k` : String(hz);
        ctx.fillText(label, Math.min(fx(hz) - 8, w - ctx.measureText(label).width - 2), h - 4);
    }
    for (let db = RESPONSE_TOP_DB - 6; db >= RESPONSE_BOTTOM_DB; db -= 6) {
        ctx.strokeStyle = db === 0 ? '#454b53' : GRID;
        ctx.beginPath(); ctx.moveTo(left, fy(db)); ctx.lineTo(w - 6, fy(db)); ctx.stroke();
        if (db % 12 === 0) ctx.fillText(`${db > 0 ? '+' : ''}${db}`, 2, fy(db) + 3);
    }
    for (const c of curves) {
        ctx.strokeStyle = c.color;
        ctx.lineWidth = c.dashed ? 1.25 : 1.5;
        ctx.setLineDash(c.dashed ? [5, 3] : []);
        ctx.beginPath();
        c.points.forEach((p, i) => {
            const y = Math.max(top, Math.min(h - 16, fy(p.db)));
            if (i === 0) ctx.moveTo(fx(p.hz), y);
            else ctx.lineTo(fx(p.hz), y);
        });
        ctx.stroke();
    }
    ctx.setLineDash([]);
    ctx.lineWidth = 1;
    // Legend: one line above the plot, a stroke of each curve's colour.
    let lx = left;
    ctx.fillStyle = LABEL;
    ctx.fillText('dB re 1 kHz', lx, 12);
    lx += ctx.measureText('dB re 1 kHz').width + 14;
    for (const c of curves) {
        if (!c.label) continue;
        ctx.strokeStyle = c.color;
        ctx.setLineDash(c.dashed ? [4, 2] : []);
        ctx.beginPath(); ctx.moveTo(lx, 8.5); ctx.lineTo(lx + 14, 8.5); ctx.stroke();
        ctx.setLineDash([]);
        ctx.fillStyle = c.color;
        ctx.fillText(c.label, lx + 18, 12);
        lx += 18 + ctx.measureText(c.label).width + 12;
    }
    return true;
}
