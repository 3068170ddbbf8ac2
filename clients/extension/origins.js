// Which pages may use Quillon: a list of match patterns (scheme://host[:port]/path, the host may
// start with "*." and the path may hold "*"), set by the bank's browser policy or, without one,
// by hand on the options page for a trial. Only https pages count, and plain http on localhost
// or 127.0.0.1 only when a pattern names that host exactly: any program on the counter PC can
// serve a page there.
//
// A classic script with no imports or exports, so the content script (listed before it in the
// manifest), the service worker and the options page (both importing it) share one copy; it
// leaves its functions on globalThis.QuillonOrigins.
(function defineOrigins(root) {
    "use strict";

    // The managed-storage key the policy sets (schema.json) and the local-storage key of the
    // trial list.
    const POLICY_KEY = "AllowedOrigins";
    const TRIAL_KEY = "trialOrigins";
    const LOOPBACK = ["localhost", "127.0.0.1"];
    const PATTERN = /^(\*|https?):\/\/(\*|(?:\*\.)?[a-z0-9-]+(?:\.[a-z0-9-]+)*)(?::(\*|\d{1,5}))?(\/.*)$/i;

    /** {scheme, host, subdomains, port, path} of a pattern, or {error} saying what is wrong. */
    function parsePattern(text) {
        const m = typeof text === "string" ? PATTERN.exec(text) : null;
        if (m === null) return {error: "not a match pattern such as https://counter.bank.test/*"};
        const scheme = m[1].toLowerCase();
        const subdomains = m[2].startsWith("*.");
        const host = (subdomains ? m[2].slice(2) : m[2]).toLowerCase();
        if (scheme === "http" && (subdomains || !LOOPBACK.includes(host))) {
            return {error: "plain http only on localhost or 127.0.0.1, named exactly"};
        }
        if (m[3] !== undefined && m[3] !== "*" && Number(m[3]) > 65535) {
            return {error: "the port is above 65535"};
        }
        const port = m[3] === undefined || m[3] === "*" ? null : String(Number(m[3]));
        // "*" in the path stands for any run of characters; everything else is itself.
        const path = new RegExp("^" + m[4].split("*").map(
            (part) => part.replace(/[.+?^${}()|[\]\\]/g, "\\$&")).join(".*") + "$");
        return {scheme, host, subdomains, port, path};
    }

    /** Whether the pattern names the page at `url` (a scheme "*" stands for https alone). */
    function matches(pattern, url) {
        const p = parsePattern(pattern);
        if (p.error !== undefined) return false;
        let u;
        try {
            u = new URL(url);
        } catch {
            return false;
        }
        const scheme = u.protocol.slice(0, -1);
        if (scheme !== (p.scheme === "*" ? "https" : p.scheme)) return false;
        if (p.host !== "*" && u.hostname !== p.host &&
            !(p.subdomains && u.hostname.endsWith("." + p.host))) {
            return false;
        }
        if (p.port !== null && (u.port || (scheme === "https" ? "443" : "80")) !== p.port) {
            return false;
        }
        return p.path.test(u.pathname + u.search);
    }

    /** Whether any pattern of the list names the page at `url`. */
    function allowedUrl(patterns, url) {
        return Array.isArray(patterns) && patterns.some((pattern) => matches(pattern, url));
    }

    /**
     * The list in force, from what the two storage areas hold: the policy's when it sets one
     * (locked: the options page shows it and cannot change it), else the trial list.
     */
    function currentList(managed, local) {
        const strings = (list) => list.filter((item) => typeof item === "string");
        const policy = managed && managed[POLICY_KEY];
        if (Array.isArray(policy)) return {patterns: strings(policy), locked: true};
        const trial = local && local[TRIAL_KEY];
        return {patterns: Array.isArray(trial) ? strings(trial) : [], locked: false};
    }

    /** The list in force now, read from chrome.storage. */
    async function readList(storage) {
        // Managed storage fails where the browser has no policy support: no policy then.
        const [managed, local] = await Promise.all([
            storage.managed.get(POLICY_KEY).catch(() => ({})), storage.local.get(TRIAL_KEY)]);
        return currentList(managed, local);
    }

    root.QuillonOrigins = Object.freeze(
        {POLICY_KEY, TRIAL_KEY, parsePattern, matches, allowedUrl, currentList, readList});
})(globalThis);
