// The IR preview: facts about the file, what the conversion will do, the
// waveform and the frequency response.
import { conversionNotice, frequencyResponse, hexToBytes, parseWav } from '../ir/wav-preview.js';

const $ = (id) => document.getElementById(id);
const css = (name) => getComputedStyle(document.documentElement).getPropertyValue(name).trim() || '#e0a040';

function fitCanvas(canvas) {
    const ratio = window.devicePixelRatio || 1;
    if (!canvas.dataset.h) canvas.dataset.h = String(canvas.height);
    const h = Number(canvas.dataset.h);
    const w = Math.max(200, canvas.clientWidth || canvas.width);
    canvas.width = Math.round(w * ratio);
    canvas.height = Math.round(h * ratio);
    canvas.style.height = `${h}px`;
    const ctx = canvas.getContext('2d');
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    return { ctx, w, h };
}

export function drawWave(canvas, data, sampleRate) {
    const { ctx, w, h } = fitCanvas(canvas);
    ctx.clearRect(0, 0, w, h);
    const shown = Math.min(data[0].length, Math.round(sampleRate * 0.5));
    ctx.strokeStyle = '#2c3036';
    ctx.beginPath();
    ctx.moveTo(0, h / 2);
    ctx.lineTo(w, h / 2);
    ctx.stroke();
    const colors = [css('--accent'), '#6fa8dc'];
    data.forEach((samples, c) => {
        let peak = 1e-9;
        for (let i = 0; i < shown; i++) peak = Math.max(peak, Math.abs(samples[i]));
        ctx.strokeStyle = colors[c % 2];
        ctx.globalAlpha = data.length > 1 ? 0.8 : 1;
        ctx.beginPath();
        for (let x = 0; x < w; x++) {
            const a = Math.floor((x * shown) / w);
            const b = Math.max(a + 1, Math.floor(((x + 1) * shown) / w));
            let lo = 0;
            let hi = 0;
            for (let i = a; i < b && i < shown; i++) { lo = Math.min(lo, samples[i]); hi = Math.max(hi, samples[i]); }
            ctx.moveTo(x + 0.5, h / 2 - (hi / peak) * (h / 2 - 4));
            ctx.lineTo(x + 0.5, h / 2 - (lo / peak) * (h / 2 - 4) + 0.5);
        }
        ctx.stroke();
    });
    ctx.globalAlpha = 1;
    ctx.fillStyle = '#9aa0a6';
    ctx.font = '12px system-ui';
    ctx.fillText(`waveform, first ${Math.round((shown / sampleRate) * 1000)} ms`, 6, 13);
}

export function drawResponse(canvas, points) {
    const { ctx, w, h } = fitCanvas(canvas);
    ctx.clearRect(0, 0, w, h);
    const max = Math.max(...points.map((p) => p.db));
    const top = Math.ceil(max / 6) * 6;
    const range = 48;
    const fx = (hz) => 34 + (Math.log10(hz / 20) / Math.log10(1000)) * (w - 40);
    const fy = (db) => 6 + ((top - db) / range) * (h - 22);
    ctx.font = '12px system-ui';
    ctx.fillStyle = '#9aa0a6';
    ctx.strokeStyle = '#2c3036';
    for (const hz of [20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000]) {
        ctx.beginPath(); ctx.moveTo(fx(hz), 6); ctx.lineTo(fx(hz), h - 16); ctx.stroke();
        const label = hz >= 1000 ? `${hz / 1000}k` : String(hz);
        ctx.fillText(label, Math.min(fx(hz) - 8, w - ctx.measureText(label).width - 2), h - 4);
    }
    for (let db = top; db >= top - range; db -= 12) {
        ctx.beginPath(); ctx.moveTo(34, fy(db)); ctx.lineTo(w, fy(db)); ctx.stroke();
        ctx.fillText(`${db}`, 4, fy(db) + 3);
    }
    ctx.strokeStyle = css('--accent');
    ctx.lineWidth = 1.5;
    ctx.beginPath();
    points.forEach((p, i) => {
        const y = Math.min(h - 16, fy(p.db));
        if (i === 0) ctx.moveTo(fx(p.hz), y);
        else ctx.lineTo(fx(p.hz), y);
    });
    ctx.stroke();
    ctx.lineWidth = 1;
    ctx.fillStyle = '#9aa0a6';
    const title = 'frequency response, dB';
    ctx.fillText(title, w - ctx.measureText(title).width - 6, 16);
}

export function fact(dl, label, value) {
    const dt = document.createElement('dt');
    dt.textContent = label;
    const dd = document.createElement('dd');
    dd.textContent = value;
    dl.append(dt, dd);
}

// Reads and shows a WAV file; returns its facts or null when it is unreadable.
export function showPreview(native, path) {
    let wav;
    try {
        const hex = native.fs.readData(path);
        if (!hex) throw new Error('cannot read');
        wav = parseWav(hexToBytes(hex));
    } catch (e) {
        $('preview').hidden = true;
        $('preview-empty').hidden = false;
        $('preview-empty').textContent = `No preview: ${e.message}.`;
        return null;
    }
    $('preview-empty').hidden = true;
    $('preview').hidden = false;
    $('preview-name').textContent = String(path).split('/').pop();
    const facts = $('preview-facts');
    facts.replaceChildren();
    const notice = conversionNotice(wav);
    fact(facts, 'Rate', `${(wav.sampleRate / 1000).toLocaleString()} kHz`);
    fact(facts, 'Length', `${(notice.seconds * 1000).toFixed(1)} ms`);
    fact(facts, 'Channels', wav.channels === 1 ? 'mono' : wav.channels === 2 ? 'stereo' : String(wav.channels));
    fact(facts, 'Format', wav.format === 3 ? `${wav.bits}-bit float` : `${wav.bits}-bit PCM`);
    const notes = [];
    if (notice.cut) notes.push('will be cut to 0.5 s');
    if (notice.resample) notes.push(`will be resampled from ${wav.sampleRate} Hz to 96 kHz`);
    $('preview-notice').textContent = notes.length ? `The unit uses 0.5 s at 96 kHz: this file ${notes.join(' and ')}.` : 'Used as it is (96 kHz, up to 0.5 s).';
    drawWave($('preview-wave'), wav.data, wav.sampleRate);
    drawResponse($('preview-response'), frequencyResponse(wav.data[0], wav.sampleRate, 240));
    return { ...notice, channels: wav.channels, sampleRate: wav.sampleRate };
}
