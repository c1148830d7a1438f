// The About dialog. The build packs the program's version into the bundle as
// js/version.js; pages served from a folder (--bundle=DIR) have none.
import { showDialog } from './dialogs.js';

export const TITLE = 'About KX-5 Editor';

// The version text, or null when the bundle carries none.
export async function bundledVersion(load = () => import('../version.js')) {
    try {
        const { VERSION } = await load();
        return typeof VERSION === 'string' && VERSION !== '' ? VERSION : null;
    } catch {
        return null;
    }
}

export function aboutText(version) {
    const line = version ? `Version ${version}` : 'Version unknown: these pages are not the built-in bundle';
    return `${line}. Editor and impulse-response loader for the KX-5 pedal.`;
}

export function installAbout(button, load) {
    button.addEventListener('click', async () => {
        showDialog({ title: TITLE, text: aboutText(await bundledVersion(load)) });
    });
}
