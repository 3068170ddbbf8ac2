// The demo's buttons: one per command, each showing the reply, the result code's meaning and
// the fields the client took out of the reply.
import {quillon, meaningOf} from "../js/quillon.js";
import {decodeMyKad} from "./mykad.js";

const $ = (id) => document.getElementById(id);
const options = () => ({show: $("show").checked, port: Number($("port").value)});
let enrolled = null;  // the last enrolled template, for the two verify buttons

// Long fields (templates, MyKad payloads) shown as their start and length, as the docs show them.
export function shorten(reply) {
    return reply.replace(/\[([^\]]{49,})\]/g,
                         (_, f) => `[${f.slice(0, 24)}…(${f.length} characters)]`);
}

const COMMANDS = [
    ["version", "Versions", () => quillon.version(), (r) => ({
        bridge: r.bridge, "quillon.dll": r.dll, extension: r.extension})],
    ["branch", "Branch code", () => quillon.getBranchCode(), (r) => ({
        status: r.status, "branch code": r.branchCode, name: r.name, address: r.address})],
    ["serial", "Serial number", () => quillon.getSerialNumber(options()),
     (r) => ({"serial number": r.serialNumber})],
    ["firmware", "Firmware version", () => quillon.getFirmwareVersion(options()),
     (r) => ({"customer name": r.customerName})],
    ["datetime", "Set date and time", () => quillon.setDateTime(new Date(), options()), () => ({})],
    ["signature", "Signature", () => quillon.getSignature(options()), (r) => ({
        signature: `${r.signature.length / 2} bytes`})],
    ["enroll", "Enrol a finger", () => quillon.enroll(options()), (r) => {
        enrolled = r.template;
        return {template: `${r.template.length} hex digits (${r.template.length / 2} bytes)`};
    }],
    ["verify", "Verify the enrolled finger", () => quillon.verify(need(), options()), () => ({})],
    ["verify2f", "Verify two fingers", () => quillon.verify2f(need(), need(), options()),
     () => ({})],
    ["mykad", "Read MyKad", () => quillon.readMyKad({
        ...options(), mode: $("mode").value, texts: [1, 2, 3].map((i) => $(`text${i}`).value)}),
     (r) => ({"card type": r.cardType, ...decodeMyKad(r.reply)})],
];

function need() {
    if (enrolled === null) throw new Error("enrol a finger first");
    return enrolled;
}

function show(out, parts) {
    out.replaceChildren(...parts.filter(Boolean));
}

function line(cls, text) {
    const el = document.createElement(cls === "reply" ? "pre" : "div");
    el.className = cls;
    el.textContent = text;
    return el;
}

function fieldList(fields) {
    const dl = document.createElement("dl");
    for (const [name, value] of Object.entries(fields)) {
        const dt = document.createElement("dt"), dd = document.createElement("dd");
        dt.textContent = name;
        dd.textContent = String(value);
        dl.append(dt, dd);
    }
    return dl;
}

// Who holds the terminal, from a busy answer.
function heldText({command, origin, elsewhere}) {
    const what = [command, origin && `from ${origin}`].filter(Boolean).join(" ");
    return `held by ${what || "another call"}${elsewhere ? " in another browser or profile" : ""}`;
}

async function run(out, call, fields) {
    show(out, [line("busy", "waiting…")]);
    try {
        const result = await call();
        const code = result.code ?? 0;
        out.dataset.reply = result.reply ?? "";  // the whole reply, for a decoder to check
        show(out, [line("code ok", `${code}: ${meaningOf(code)}`),
                   result.reply !== undefined && line("reply", shorten(result.reply)),
                   fieldList(fields(result))]);
    } catch (e) {
        if (e.kind === "result") {
            show(out, [line("code fail", `${e.code}: ${e.meaning}`), line("reply", e.reply),
                       e.heldBy && line("held", heldText(e.heldBy))]);
        } else {
            show(out, [line("code fail", e.message)]);
        }
    }
}

for (const [id, label, call, fields] of COMMANDS) {
    const row = document.createElement("div"), button = document.createElement("button");
    const out = document.createElement("div");
    row.className = "row";
    button.id = `run-${id}`;
    button.textContent = label;
    out.id = `out-${id}`;
    out.className = "out";
    button.addEventListener("click", () => run(out, call, fields));
    row.append(button, out);
    $("commands").append(row);
}

const status = $("status");
quillon.version().then(
    (v) => { status.textContent = `Ready: extension ${v.extension}, bridge ${v.bridge}, quillon.dll ${v.dll}`; },
    (e) => { status.textContent = e.message; status.className = "bad"; });
