// The service worker: the relay, wired to the extension API. The relay reads the allow-list in
// force (policy or trial list, origins.js) again for every message.
import {createRelay} from "./relay.js";

const relay = createRelay(chrome);
chrome.runtime.onConnect.addListener((port) => relay.onConnect(port));
