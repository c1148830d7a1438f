// The local folder of the bundle's data/ (factory sets, the DI phrase),
// ending in "/", from this module's own address (the page runs from the
// installed bundle's file:// address); null when the page is not served
// from local files.
export function bundleDataFolder(name, base = import.meta.url) {
    const url = new URL(`../../data/${name}/`, base);
    if (url.protocol !== 'file:') return null;
    const path = decodeURIComponent(url.pathname);
    // file:///C:/... names a drive path on Windows.
    return /^\/[A-Za-z]:\//.test(path) ? path.substring(1) : path;
}
