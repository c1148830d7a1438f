// The page's one entry: the unit link, then the editor on it, then the search
// for the unit, so that the editor listens before the unit first answers.
import { createLink, findUnit, showStartFailure } from './app.js';
import { startEditor } from './editor/editor.js';

async function main() {
    const kx5 = await createLink(window);
    startEditor(kx5);
    await findUnit(kx5);
}

main().catch(showStartFailure);
