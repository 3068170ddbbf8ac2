// Runs only on the pages of the manifest's allow-list. Relays the page's tagged messages to the
// service worker and the answers back, to this page's own window and origin and nowhere else.
(function relayPage(win, runtime) {
    const PAGE_TAG = "quillon/page";
    const EXTENSION_TAG = "quillon/extension";
    const origin = win.location.origin;
    let port = null;
    const waiting = new Set();  // ids sent on the current port and not answered yet

    function answer(id, data) {
        waiting.delete(id);
        win.postMessage({tag: EXTENSION_TAG, id, answer: data}, origin);
    }

    function connect() {
        const p = runtime.connect({name: "quillon"});
        p.onMessage.addListener((data) => answer(data.id, data.answer));
        // The service worker can be stopped (an update, a crash): its calls get no answer, so
        // say so now rather than at each call's time-out; the next message connects again.
        p.onDisconnect.addListener(() => {
            if (port === p) port = null;
            for (const id of [...waiting]) {
                answer(id, {kind: "no-host", error: "the Quillon extension stopped during the call"});
            }
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
        waiting.add(data.id);
        port.postMessage({id: data.id, message: data.message});
    });
    win.document.documentElement.dataset.quillonExtension = runtime.getManifest().version;
})(window, chrome.runtime);
