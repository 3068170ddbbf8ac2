// The options page: shows the allow-list in force. Without a policy a person may add and remove
// patterns for a trial (kept in chrome.storage.local); a policy replaces that list and locks it.
import "./origins.js";

const {TRIAL_KEY, parsePattern, readList} = globalThis.QuillonOrigins;
const $ = (id) => document.getElementById(id);

async function trialList() {
    const list = (await chrome.storage.local.get(TRIAL_KEY))[TRIAL_KEY];
    return Array.isArray(list) ? list : [];
}

async function show() {
    const {patterns, locked} = await readList(chrome.storage);
    $("source").textContent = locked ?
        "Set by your organisation's browser policy: it cannot be changed here." :
        "No policy is set: only the pages listed here may use Quillon, for a trial.";
    $("source").className = locked ? "locked" : "";
    $("add").hidden = locked;
    const items = patterns.map((pattern) => {
        const li = document.createElement("li");
        li.textContent = pattern;
        if (!locked) {
            const remove = document.createElement("button");
            remove.textContent = "Remove";
            remove.addEventListener("click", async () => {
                const rest = (await trialList()).filter((p) => p !== pattern);
                await chrome.storage.local.set({[TRIAL_KEY]: rest});
            });
            li.append(remove);
        }
        return li;
    });
    if (items.length === 0) {
        items.push(Object.assign(document.createElement("li"), {textContent: "none: no page may use Quillon"}));
    }
    $("patterns").replaceChildren(...items);
}

$("add").addEventListener("submit", async (event) => {
    event.preventDefault();
    const pattern = $("pattern").value.trim();
    const {error} = parsePattern(pattern);
    $("error").textContent = error === undefined ? "" : `${pattern}: ${error}`;
    if (error !== undefined) return;
    const list = await trialList();
    if (!list.includes(pattern)) await chrome.storage.local.set({[TRIAL_KEY]: [...list, pattern]});
    $("pattern").value = "";
});

chrome.storage.onChanged.addListener(() => show());
show();
