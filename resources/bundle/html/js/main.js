// The page's one entry: the About dialog, the unit link, then the editor on
// it, then the search for the unit, so that the editor listens before the
// unit first answers.
import { createLink, findUnit, showStartFailure } from './app.js';
import { installAbout } from './editor/about.js';
import { startEditor } from './editor/editor.js';

async function main() {
    installAbout(document.getElementById('about-button'));
    const kx5 = await createLink(window);
    startEditor(kx5);
    await findUnit(kx5);
    return kx5;
}

// The link the page runs on, for tools that drive the page from a script of
// their own (the transfer benchmark imports this module).
export const started = main();
started.catch(showStartFailure);
