// The factory impulse-response sets carried in the bundle: data/factory/
// holds index.json and one coefficient file per set, made from synthetic
// cabinet responses by resources/factory/build_factory_sets.py with the
// program's own conversion. They are read through the host's file service
// like a converted file.
import { hexToText } from '../bridge/native.js';
import { bundleDataFolder } from './bundle-data.js';
import { COEFFICIENT_WORDS, wordsFromHex } from './ir-messages.js';

export const INDEX_FILE = 'index.json';

// A coefficient file is named inside the folder only: no separators, no "..".
const PLAIN_NAME = /^[A-Za-z0-9_-][A-Za-z0-9_.-]*$/;

// The local folder of the sets, ending in "/" (null when the page is not
// served from local files).
export function factoryFolder(base) {
    return bundleDataFolder('factory', base);
}

function readHex(native, path) {
    try {
        const hex = native.fs.readData(path);
        return typeof hex === 'string' ? hex : '';
    } catch {
        return '';
    }
}

function validSet(entry) {
    return entry !== null && typeof entry === 'object'
        && typeof entry.name === 'string' && entry.name.trim() !== ''
        && typeof entry.file === 'string' && entry.file !== ''
        && typeof entry.coefficients === 'string' && PLAIN_NAME.test(entry.coefficients);
}

// The sets the index lists, in its order: { name, file, coefficients,
// description }. Entries that are not well formed are left out; an index
// that cannot be read or parsed gives [].
export function readFactoryIndex(native, folder = factoryFolder()) {
    if (!folder) return [];
    const hex = readHex(native, folder + INDEX_FILE);
    if (!hex) return [];
    let index;
    try {
        index = JSON.parse(hexToText(hex));
    } catch {
        return [];
    }
    if (!Array.isArray(index?.sets)) return [];
    return index.sets.filter(validSet).map((s) => ({
        name: s.name,
        file: s.file,
        coefficients: s.coefficients,
        description: typeof s.description === 'string' ? s.description : '',
    }));
}

// The 3354 coefficient words of a set, or null when its file is missing or
// has the wrong size.
export function readFactoryWords(native, set, folder = factoryFolder()) {
    if (!folder || !validSet(set)) return null;
    const words = wordsFromHex(readHex(native, folder + set.coefficients));
    return words && words.length === COEFFICIENT_WORDS ? words : null;
}
