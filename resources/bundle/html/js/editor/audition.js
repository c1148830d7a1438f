// "Hear it": the file in the preview played through the host's audition (a
// DI guitar phrase rendered through the IR, on the computer's output). A is
// the file shown, B a file kept for comparison; switching while playing
// goes on at the same point of the phrase, both at one loudness. The phrase
// is the bundle's, or the user's own DI recording.
import { matchLevels, takeRequest } from '../ir/audition-levels.js';
import { bundleDataFolder } from '../ir/bundle-data.js';
import { AUDIO_EXTENSIONS, parseObject as parse } from '../ir/ir-source.js';
import { UNIT_RATE } from '../ir/coefficient-response.js';
import { floatWaveHex } from '../ir/wav-writer.js';
const fileName = (path) => String(path).split('/').pop();

const $ = (id) => document.getElementById(id);
const TAKES = ['a', 'b'];

function button(id, text, title) {
    const b = document.createElement('button');
    b.type = 'button';
    b.id = id;
    b.textContent = text;
    b.title = title;
    return b;
}

export class Audition {
    // current() -> what the preview shows ({ kind: 'file', path, channel } or
    // a slot, or null). builtInPhrase: the bundle's DI phrase (a path).
    // overlay() -> the slot drawn over the file ({ slot, name, impulse at
    // UNIT_RATE }) or null: it can be B as the unit holds it.
    constructor({ native, current, overlay = () => null, builtInPhrase = defaultPhrase() }) {
        Object.assign(this, { native, current, overlay, builtInPhrase });
        this.available = typeof native?.audition?.load === 'function';
        this.phrase = null; // { path, own }
        this.takes = [null, null]; // { path, channel, key, levels }
        this.playing = null; // 0, 1 or null
        if (!this.available) return;
        native.audition.events = native.audition.events ?? {};
        native.audition.events.ended = () => this.onEnded();
        native.audition.events.error = (why) => this.onLost(why);
        this.build();
    }

    build() {
        const root = $('audition');
        this.ui = {
            a: button('audition-a', '▶ A', 'Hear the DI phrase through this file'),
            b: button('audition-b', '▶ B', 'Hear the DI phrase through the file kept as B'),
            keep: button('audition-keep', 'Keep as B', 'Keep this file to compare others with'),
            slot: button('audition-slot', 'Slot as B', 'Compare with what the slot holds now'),
            stop: button('audition-stop', '■', 'Stop'),
            source: button('audition-source', 'DI…', 'Play your own DI recording instead of the built-in phrase'),
            note: document.createElement('span'),
        };
        const loop = document.createElement('label');
        const box = document.createElement('input');
        box.type = 'checkbox';
        box.id = 'audition-loop';
        box.addEventListener('change', () => this.call(() => this.native.audition.loop(box.checked)));
        loop.append(box, ' Loop');
        this.ui.note.id = 'audition-note';
        this.ui.note.className = 'hint';
        const title = document.createElement('span');
        title.className = 'audition-title';
        title.textContent = 'Hear it';
        root.replaceChildren(title, this.ui.a, this.ui.b, this.ui.stop, loop, this.ui.keep, this.ui.slot, this.ui.source, this.ui.note);
        this.ui.a.addEventListener('click', () => this.play(0));
        this.ui.b.addEventListener('click', () => this.play(1));
        this.ui.stop.addEventListener('click', () => this.stop());
        this.ui.keep.addEventListener('click', () => this.keepAsB());
        this.ui.slot.addEventListener('click', () => this.slotAsB());
        this.ui.source.addEventListener('click', () => this.chooseOwnPhrase());
        this.update();
    }

    call(fn) {
        try {
            return fn();
        } catch (e) {
            this.say(`The audition failed: ${e?.message || e}`);
            return null;
        }
    }

    say(text) {
        if (this.ui) this.ui.note.textContent = text;
    }

    // The preview shows something else: A follows it.
    shown() {
        if (!this.available) return;
        const s = this.current();
        $('audition').hidden = s?.kind !== 'file';
        // A plays the file shown: another file ends it; nothing is played
        // while the controls are away.
        const a = this.fileOf(0);
        const heard = this.takes[0];
        const aChanged = this.playing === 0 && (a?.path !== heard?.path || a?.channel !== heard?.channel);
        if (aChanged || (this.playing !== null && s?.kind !== 'file')) this.stop();
        this.update();
    }

    fileOf(which) {
        if (which === 1) return this.takes[1];
        const s = this.current();
        return s?.kind === 'file' ? { path: s.path, channel: s.channel ?? 0 } : null;
    }

    update() {
        if (!this.ui) return;
        const a = this.fileOf(0);
        const b = this.takes[1];
        this.ui.b.disabled = !b;
        const bName = b ? b.label ?? fileName(b.path) : '';
        this.ui.b.title = b ? `Hear the DI phrase through ${bName}` : 'Keep a file or the slot as B first';
        this.ui.b.textContent = b ? `▶ B: ${bName}` : '▶ B';
        this.ui.keep.disabled = !a;
        const over = this.overlay();
        this.ui.slot.hidden = !over?.impulse;
        if (over) this.ui.slot.textContent = `Slot ${over.slot + 1} as B`;
        this.ui.a.setAttribute('aria-pressed', String(this.playing === 0));
        this.ui.b.setAttribute('aria-pressed', String(this.playing === 1));
        this.ui.source.textContent = this.phrase?.own ? `DI: ${fileName(this.phrase.path)}` : 'DI…';
    }

    keepAsB() {
        const a = this.fileOf(0);
        if (!a) return;
        this.takes[1] = { ...a, key: '', levels: null };
        this.update();
    }

    // What the slot holds now, as the unit holds it (96 kHz), written into
    // the private temp folder for the host to play.
    slotAsB() {
        const over = this.overlay();
        if (!over?.impulse) return;
        const folder = this.call(() => this.native.fs.path('temporary'));
        if (!folder) return;
        const path = `${folder}${folder.endsWith('/') ? '' : '/'}audition-slot-${over.slot + 1}.wav`;
        if (this.call(() => this.native.fs.writeData(path, floatWaveHex(over.impulse, UNIT_RATE))) === null) return;
        const label = `slot ${over.slot + 1}${over.name ? ` (${over.name})` : ''}`;
        this.takes[1] = { path, channel: 0, key: '', levels: null, label };
        this.update();
    }

    ensurePhrase() {
        if (this.phrase) return true;
        return this.usePhrase(this.builtInPhrase, false);
    }

    // The phrase every take is rendered from; false (and why) when the host
    // cannot use the file.
    usePhrase(path, own) {
        if (!path) {
            this.say('No DI phrase in this bundle.');
            return false;
        }
        const a = parse(this.call(() => this.native.audition.phrase(path)));
        if (!a?.result) {
            this.say(`${fileName(path)} cannot be played: ${a?.reason || 'the host could not read it'}.`);
            return false;
        }
        this.phrase = { path, own };
        for (const t of this.takes) if (t) Object.assign(t, { key: '', levels: null });
        this.playing = null;
        this.say(own ? `Your DI recording: ${fileName(path)} (${(a.frames / a.rate).toFixed(1)} s).` : '');
        this.update();
        return true;
    }

    chooseOwnPhrase() {
        if (typeof this.native.irfile?.openfiles !== 'function') return;
        const previous = this.native.irfile.events?.openfiles;
        this.native.irfile.events.openfiles = (json) => {
            this.native.irfile.events.openfiles = previous;
            const paths = parse(json);
            if (Array.isArray(paths) && typeof paths[0] === 'string') this.usePhrase(paths[0], true);
        };
        this.native.irfile.openfiles(JSON.stringify(AUDIO_EXTENSIONS));
    }

    // Renders take `which` for the file it stands for (the host keeps a
    // rendering while nothing changed); its levels, or null.
    load(which) {
        const file = this.fileOf(which);
        if (!file) return null;
        const key = `${file.path}\f${file.channel}\f${this.phrase.path}`;
        const take = this.takes[which];
        if (take?.key === key && take.levels) return take.levels;
        const a = parse(this.call(() => this.native.audition.load(TAKES[which], takeRequest(file.path, file.channel))));
        if (!a?.result) {
            this.say(`${fileName(file.path)} cannot be heard: ${a?.reason || 'the host could not render it'}.`);
            return null;
        }
        this.takes[which] = { ...file, key, levels: { rms: a.rms, peak: a.peak } };
        return this.takes[which].levels;
    }

    // Plays take `which` (0 A, 1 B), or switches to it while playing, with
    // both takes rendered for what they stand for now and at one loudness.
    play(which) {
        if (!this.ensurePhrase()) return false;
        const levels = [0, 1].map((w) => (this.fileOf(w) ? this.load(w) : null));
        if (!levels[which]) return false;
        const { gains } = matchLevels(levels);
        gains.forEach((g, i) => this.call(() => this.native.audition.gain(TAKES[i], g)));
        const ok = this.call(() => this.native.audition.play(TAKES[which]));
        if (!ok) {
            this.say('Nothing could be played: no audio output.');
            return false;
        }
        this.playing = which;
        const other = levels[1 - which];
        this.say(other ? `A and B at the same loudness (A ${fmt(gains[0])} dB, B ${fmt(gains[1])} dB).` : '');
        this.update();
        return true;
    }

    stop() {
        this.call(() => this.native.audition.stop());
        this.playing = null;
        this.update();
    }

    onEnded() {
        this.playing = null;
        this.update();
    }

    // The computer's audio output went away while playing.
    onLost(why) {
        this.playing = null;
        this.say(`Playing stopped: ${why || 'the audio output went away'}.`);
        this.update();
    }
}

const fmt = (db) => (db > 0 ? `+${db.toFixed(1)}` : db.toFixed(1));

function defaultPhrase() {
    const folder = bundleDataFolder('audition');
    return folder ? `${folder}di-phrase.wav` : null;
}
