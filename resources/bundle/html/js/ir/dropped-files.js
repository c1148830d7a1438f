// The IR files a drop (or a choice) stands for: audio files as they are, a
// folder as the audio files directly inside it, in name order ("Cab 2"
// before "Cab 10"); everything else is left out.
import { isAudioFile } from './ir-source.js';

const byName = (a, b) => a.localeCompare(b, 'en', { numeric: true, sensitivity: 'base' });

function entry(native, path) {
    try {
        return JSON.parse(native.fs.stat(path));
    } catch {
        return null;
    }
}

export function folderFiles(native, folder) {
    let entries = [];
    try {
        entries = JSON.parse(native.fs.contents(folder));
    } catch {
        return [];
    }
    const base = String(folder).replace(/\/+$/, '');
    return entries
        .filter((e) => e && !e.directory && typeof e.name === 'string' && isAudioFile(e.name))
        .map((e) => e.name)
        .sort(byName)
        .map((name) => `${base}/${name}`);
}

// paths -> { files: [audio file paths], ignored: [other paths] }.
export function expandDropped(native, paths) {
    const files = [];
    const ignored = [];
    for (const p of paths) {
        if (isAudioFile(p)) {
            files.push(p);
            continue;
        }
        const e = entry(native, p);
        if (e?.directory) {
            const inside = folderFiles(native, p);
            if (inside.length) files.push(...inside);
            else ignored.push(p);
        } else {
            ignored.push(p);
        }
    }
    return { files, ignored };
}
