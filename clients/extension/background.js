// The service worker: the relay, wired to the extension API. The content scripts' match
// patterns are the allow-list the relay checks each connecting page against as well.
import {createRelay} from "./relay.js";

const patterns = chrome.runtime.getManifest().content_scripts.flatMap((c) => c.matches);
const relay = createRelay(chrome, patterns);
chrome.runtime.onConnect.addListener((port) => relay.onConnect(port));
