// Injected into every https page and the two loopback hosts, but inert (no listener, no mark, no
// reply) unless the allow-list in force names the page. On such a page it relays the page's
// tagged messages to the service worker and the answers back, to this page's own window and
// origin and nowhere else, and refuses calls while the page is not in view.
(function relayPage(win, chrome, origins) {
    const PAGE_TAG = "quillon/page";
    const EXTENSION_TAG = "quillon/extension";
    const NOT_VISIBLE = "the page is not in view (a background tab or a minimised window): " +
                        "Quillon takes calls only from the page in front";
    const origin = win.location.origin;
    let port = null;
    const waiting = new Set();  // ids sent on the current port and not answered yet

    function answer(id, data) {
        waiting.delete(id);
        win.postMessage({tag: EXTENSION_TAG, id, answer: data}, origin);
    }

    function connect() {
        const p = chrome.runtime.connect({name: "quillon"});
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

    function start() {
        win.addEventListener("message", (event) => {
            const data = event.data;
            // Only this window's own script: not a frame, not another window that holds a handle.
            if (event.source !== win || event.origin !== origin || !data || data.tag !== PAGE_TAG) {
                return;
            }
            // A background tab must not start a read the teller in front cannot see, nor hold
            // the terminal from the tab in front.
            if (win.document.visibilityState !== "visible") {
                answer(data.id, {kind: "not-visible", error: NOT_VISIBLE});
                return;
            }
            port = port || connect();
            waiting.add(data.id);
            port.postMessage({id: data.id, message: data.message});
        });
        const version = chrome.runtime.getManifest().version;
        win.document.documentElement.dataset.quillonExtension = version;
        // A page whose client is already waiting learns at once that the extension is here.
        win.postMessage({tag: EXTENSION_TAG, ready: version}, origin);
    }

    origins.readList(chrome.storage).then(({patterns}) => {
        if (origins.allowedUrl(patterns, win.location.href)) start();
    }, () => {});
})(window, chrome, globalThis.QuillonOrigins);
