// The IR preview: a file as the conversion will take it (facts, what the
// conversion does, waveform, frequency response, and what the unit will
// hold after the conversion), or a slot's IR as the unit holds it; with the
// current IR of a slot drawn over a file's curve. It keeps what it shows and
// draws it again whenever its plots change size.
import { conversionNotice, frequencyResponse, readWavStart, relativeTo1k } from '../ir/wav-preview.js';
import { describeFormat, prepareSource } from '../ir/ir-source.js';
import { CHANNEL_PREFIX } from '../ir/ir-messages.js';
import { UNIT_RATE, impulseFromWords } from '../ir/coefficient-response.js';
import { wordsFromHex } from '../ir/ir-messages.js';
import { COLORS, ZOOM_SECONDS, drawResponse, drawWave } from './preview-plots.js';

const $ = (id) => document.getElementById(id);
const CURVE_POINTS = 240;
const SHOWN_SECONDS = 0.5; // what the unit uses

const curveOf = (samples, rate) => relativeTo1k(frequencyResponse(samples, rate, CURVE_POINTS));

export function fact(dl, label, value) {
    const dt = document.createElement('dt');
    dt.textContent = label;
    const dd = document.createElement('dd');
    dd.textContent = value;
    dl.append(dt, dd);
}

// The last part of the span of an impulse response that holds sound: where
// it fell below -72 dB of its peak for good (at least 20 ms).
function soundingSeconds(samples, rate) {
    let peak = 0;
    for (const v of samples) peak = Math.max(peak, Math.abs(v));
    const floor = peak * 10 ** (-72 / 20);
    let last = 0;
    for (let i = 0; i < samples.length; i++) if (Math.abs(samples[i]) > floor) last = i;
    return Math.max(ZOOM_SECONDS, (last + 1) / rate);
}

const mixOf = ([l, r]) => l.map((v, i) => (v + r[i]) / 2);

export class IrPreview {
    // slotIr(slot) -> Promise<{ words, name, file, origin } | null>: a
    // slot's coefficients (origin "load" or "unit").
    // onShown(shown): after what it shows changed.
    constructor({ native, slotIr = async () => null, onChannel = () => {}, onShown = () => {} }) {
        Object.assign(this, { native, slotIr, onChannel, onShown });
        this.shown = null;
        this.overlay = null;
        this.view = { db: false, zoom: false };
        this.token = 0;
        this.overlayToken = 0;
        native.irfile = native.irfile ?? { events: {} };
        native.irfile.events = native.irfile.events ?? {};
        native.irfile.events.previewed = (json) => this.onConverted(json);
        native.irfile.events.previewfailed = (json) => this.onConverted(json);
        this.installControls();
        const redraw = () => this.draw();
        if (typeof ResizeObserver === 'function') {
            this.resize = new ResizeObserver(redraw);
            this.resize.observe($('preview-wave'));
            this.resize.observe($('preview-response'));
        }
        window.addEventListener('resize', redraw);
    }

    installControls() {
        const toggle = (id, key) => {
            const b = $(id);
            b.addEventListener('click', () => {
                this.view[key] = !this.view[key];
                b.setAttribute('aria-pressed', String(this.view[key]));
                this.draw();
            });
        };
        toggle('preview-db', 'db');
        toggle('preview-zoom', 'zoom');
        for (const b of $('preview-channel').querySelectorAll('button')) {
            b.addEventListener('click', () => this.chooseChannel(b.dataset.channel === 'mix' ? 'mix' : Number(b.dataset.channel)));
        }
    }

    // What the preview shows now: { kind: 'file', path, ... } or { kind: 'slot', slot, ... }.
    get current() {
        return this.shown;
    }

    showEmpty(message) {
        this.token++;
        this.shown = null;
        $('preview').hidden = true;
        $('preview-empty').hidden = false;
        $('preview-empty').textContent = message;
        this.onShown(null);
    }

    // Shows a file as the conversion will take it; returns its facts, or
    // null when it cannot be used (the reason is shown).
    showFile(path, { channel = 0 } = {}) {
        this.token++;
        const name = String(path).split('/').pop();
        const prepared = prepareSource(this.native, path);
        let wav = null;
        let reason = prepared.ok ? '' : prepared.reason;
        if (prepared.ok) {
            try {
                wav = readWavStart(this.native, prepared.path, SHOWN_SECONDS);
                if (wav.channels !== 1 && wav.channels !== 2) reason = `${wav.channels} channels (the unit takes mono or stereo)`;
            } catch (e) {
                reason = e.message;
            }
        }
        if (reason) {
            this.showEmpty(`No preview of ${name}: ${reason}.`);
            return null;
        }
        const source = prepared.source;
        const frames = source?.frames || wav.frames;
        this.shown = {
            kind: 'file', path, name, prepared, wav, frames, rate: wav.sampleRate,
            channel: wav.channels === 2 ? channel : null, unit: null, request: 0,
            notice: conversionNotice({ sampleRate: wav.sampleRate, frames }),
            format: source ? describeFormat(source) : `${wav.bits}-bit ${wav.format === 3 ? 'float' : 'PCM'} WAV`,
        };
        this.render();
        this.convertForUnit();
        return {
            channels: wav.channels, sampleRate: wav.sampleRate, frames,
            notice: this.noticeText(), decoded: prepared.decoded,
        };
    }

    // The channel of a stereo file the curves (and the unit's) are for.
    chooseChannel(channel) {
        const s = this.shown;
        if (s?.kind !== 'file' || s.channel === null || s.channel === channel) return;
        s.channel = channel;
        s.unit = null;
        this.render();
        this.convertForUnit();
        this.onChannel(channel);
    }

    noticeText() {
        const s = this.shown;
        const notes = [];
        if (s.notice.cut) notes.push('will be cut to 0.5 s');
        if (s.notice.resample) notes.push(`will be resampled from ${s.rate} Hz to 96 kHz`);
        const used = notes.length
            ? `The unit uses 0.5 s at 96 kHz: this file ${notes.join(' and ')}.`
            : 'Used as it is (96 kHz, up to 0.5 s).';
        return s.prepared.decoded ? `${used} Decoded sample for sample into a plain WAV file for the conversion.` : used;
    }

    // The conversion for the preview (the host's own, on the side): the
    // unit's curve arrives with its event.
    convertForUnit() {
        const s = this.shown;
        if (typeof this.native.irfile?.preview !== 'function') return;
        let path = s.prepared.path;
        if (s.channel === 'mix') {
            const mixed = prepareSource(this.native, s.path, 'mix');
            if (!mixed.ok) return;
            path = mixed.path;
        }
        try {
            s.request = Number(this.native.irfile.preview(path, s.channel === 1 ? 1 : 0));
        } catch {
            s.request = 0;
        }
    }

    onConverted(json) {
        let a;
        try {
            a = JSON.parse(json);
        } catch {
            return;
        }
        const s = this.shown;
        if (s?.kind !== 'file' || !s.request || a.request !== s.request) return;
        if (!a.coefficients) return;
        let words = null;
        try {
            words = wordsFromHex(this.native.fs.readData(a.coefficients));
        } catch {
            words = null;
        }
        const h = impulseFromWords(words);
        if (!h) return;
        s.unit = curveOf(h, UNIT_RATE);
        this.draw();
    }

    // Shows what a slot (0-based) holds, as loaded or read back.
    async showSlot(slot, { name = '', file = '' } = {}) {
        const token = ++this.token;
        this.shown = { kind: 'slot', slot, name, file, impulse: null, curve: null, origin: '' };
        this.render(`Reading slot ${slot + 1} from the unit…`);
        const ir = await this.slotIr(slot);
        if (token !== this.token) return false;
        const h = impulseFromWords(ir?.words);
        if (!h) {
            this.render(ir === null ? `Slot ${slot + 1} holds no impulse response the editor can read now.` : 'The slot\'s data is not an impulse response.');
            return false;
        }
        Object.assign(this.shown, { impulse: h, curve: curveOf(h, UNIT_RATE), origin: ir.origin });
        this.render();
        return true;
    }

    // Shows coefficients that are not the unit's (a slot of a backup file
    // open for editing); false when they hold no impulse response.
    showSlotWords(slot, words, { name = '', file = '', where = '' } = {}) {
        this.token++;
        const h = impulseFromWords(words);
        if (!h) {
            this.showEmpty(`Slot ${slot + 1} of ${where} holds no impulse response.`);
            return false;
        }
        this.shown = { kind: 'slot', slot, name, file, impulse: h, curve: curveOf(h, UNIT_RATE), origin: 'file', where };
        this.render();
        return true;
    }

    // The slot whose current IR is drawn over a file's curve (null: none).
    async setOverlay(slot, name = '') {
        const token = ++this.overlayToken;
        if (slot === null || slot === undefined) {
            this.overlay = null;
            this.draw();
            return this.onShown(this.shown);
        }
        const ir = await this.slotIr(slot);
        if (token !== this.overlayToken) return;
        const h = impulseFromWords(ir?.words);
        this.overlay = h ? { slot, name, impulse: h, curve: curveOf(h, UNIT_RATE) } : null;
        this.draw();
        this.onShown(this.shown);
    }

    render(message = '') {
        const s = this.shown;
        $('preview-empty').hidden = true;
        $('preview').hidden = false;
        const facts = $('preview-facts');
        facts.replaceChildren();
        const channelBar = $('preview-channel');
        channelBar.hidden = true;
        if (s.kind === 'file') {
            $('preview-name').textContent = s.name;
            fact(facts, 'Rate', `${(s.rate / 1000).toLocaleString()} kHz`);
            fact(facts, 'Length', `${((s.frames / s.rate) * 1000).toFixed(1)} ms`);
            fact(facts, 'Channels', s.wav.channels === 1 ? 'mono' : 'stereo');
            fact(facts, 'Format', s.format);
            $('preview-notice').textContent = this.noticeText();
            if (s.channel !== null) {
                channelBar.hidden = false;
                for (const b of channelBar.querySelectorAll('button')) {
                    const c = b.dataset.channel === 'mix' ? 'mix' : Number(b.dataset.channel);
                    b.setAttribute('aria-pressed', String(c === s.channel));
                }
            }
        } else {
            $('preview-name').textContent = `Slot ${s.slot + 1}: ${s.name || '(no name)'}`;
            if (s.where) fact(facts, 'In', s.where);
            if (s.file) fact(facts, 'File', s.file);
            fact(facts, 'Rate', `96 kHz (as the ${s.where ? 'slot' : 'unit'} holds it)`);
            const origins = { unit: 'Read back from the unit.', load: 'As the last load wrote it (verified).', file: `As ${s.where} holds it (not the unit).` };
            $('preview-notice').textContent = message || origins[s.origin] || '';
        }
        this.draw();
        this.onShown(s);
    }

    // The plots of what is shown, at the plots' current size.
    draw() {
        const s = this.shown;
        if (!s) return;
        const wave = $('preview-wave');
        const response = $('preview-response');
        if (s.kind === 'slot') {
            if (!s.impulse) {
                drawWave(wave, { channels: [], rate: UNIT_RATE, seconds: ZOOM_SECONDS, db: this.view.db, title: '' });
                drawResponse(response, []);
                return;
            }
            const seconds = this.view.zoom ? ZOOM_SECONDS : soundingSeconds(s.impulse, UNIT_RATE);
            drawWave(wave, {
                channels: [{ samples: s.impulse, color: COLORS.slot }], rate: UNIT_RATE, seconds, db: this.view.db,
                title: this.waveTitle(seconds),
            });
            drawResponse(response, [{ points: s.curve, color: COLORS.slot, label: `slot ${s.slot + 1} as ${s.where ? 'the file' : 'the unit'} holds it` }]);
            return;
        }
        const data = s.wav.data;
        const all = Math.min(SHOWN_SECONDS, s.frames / s.rate);
        const seconds = this.view.zoom ? Math.min(ZOOM_SECONDS, all) : all;
        const channels = data.map((samples, c) => ({ samples, color: c === 0 ? COLORS.file : COLORS.right }));
        drawWave(wave, { channels, rate: s.rate, seconds, db: this.view.db, title: this.waveTitle(seconds) });
        s.curves = s.curves ?? {};
        const key = String(s.channel ?? 0);
        if (!s.curves[key]) {
            const samples = s.channel === 'mix' ? mixOf(data) : data[s.channel === 1 ? 1 : 0];
            s.curves[key] = curveOf(samples, s.rate);
        }
        const which = s.channel === null ? '' : ` ${CHANNEL_PREFIX[s.channel]}`;
        const curves = [{ points: s.curves[key], color: s.channel === 1 ? COLORS.right : COLORS.file, label: `this file${which}` }];
        if (s.unit) curves.push({ points: s.unit, color: COLORS.unit, label: 'what the unit will hold', dashed: true });
        if (this.overlay) curves.push({ points: this.overlay.curve, color: COLORS.slot, label: `slot ${this.overlay.slot + 1} now${this.overlay.name ? `: ${this.overlay.name}` : ''}` });
        drawResponse(response, curves);
    }

    waveTitle(seconds) {
        return `waveform${this.view.db ? ' (dB)' : ''}, first ${seconds >= 0.1 ? Math.round(seconds * 1000) : Number((seconds * 1000).toFixed(1))} ms`;
    }
}
