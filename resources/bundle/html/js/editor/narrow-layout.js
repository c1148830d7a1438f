// On a narrow window the IR library leaves its column and becomes a tab of
// the views, so that the slots keep the whole height; on a wider one it
// goes back beside the slots. The connection status, cut short on a narrow
// header, keeps its whole text in its tooltip.
export const NARROW = '(max-width: 1099px)';

export function installNarrowLayout({ selectTab, query = NARROW }) {
    const $ = (id) => document.getElementById(id);
    const panel = $('library-panel');
    const view = $('view-library');
    const home = panel.parentElement;
    const after = panel.nextElementSibling;
    const mq = window.matchMedia(query);
    const apply = () => {
        document.body.classList.toggle('narrow', mq.matches);
        if (mq.matches) {
            if (panel.parentElement !== view) view.append(panel);
            return;
        }
        if (panel.parentElement !== home) home.insertBefore(panel, after);
        if ($('tab-library').getAttribute('aria-selected') === 'true') selectTab('tab-preview');
    };
    mq.addEventListener('change', apply);
    apply();
    const status = $('link-state');
    const tooltip = () => { status.title = status.textContent; };
    new MutationObserver(tooltip).observe(status, { childList: true, characterData: true, subtree: true });
    tooltip();
}
