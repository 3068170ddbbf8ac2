// Runs only on the pages of the manifest's allow-list. Relays the page's tagged messages to the
// service worker and the answers back, to this page's own window and origin and nowhere else.
(function relayPage(win, runtime) {
    const PAGE_TAG = "quillon/page";
    const EXTENSION_TAG = "quillon/extension";
    const origin = win.location.origin;
    let port = null;

    function connect() {
        const p = runtime.connect({name: "quillon"});
        p.onMessage.addListener((data) => {
            win.postMessage({tag: EXTENSION_TAG, id: data.id, answer: data.answer}, origin);
        });
        // The service worker can be restarted: the next message connects again.
        p.onDisconnect.addListener(() => {
            if (port === p) port = null;
        });
        return p;
    }

    win.addEventListener("message", (event) => {
        const data = event.data;
        // Only this window's own script: not a frame, not another window that holds a handle.
        if (event.source !== win || event.origin !== origin || !data || data.tag !== PAGE_TAG) {
            return;
        }
        port = port || connect();
        port.postMessage({id: data.id, message: data.message});
    });
    win.document.documentElement.dataset.quillonExtension = runtime.getManifest().version;
})(window, chrome.runtime);
