// Quillon for web pages: one function per counter command. Each builds the bracketed request,
// sends it through the Quillon browser extension to the native bridge, and resolves with the
// reply taken apart, or rejects with a QuillonError that says why.

// The library's result codes, with the meaning its result-code table gives (a test keeps the two
// the same).
export const RESULTS = Object.freeze({
    0: ["QUILLON_RESULT_OK", "success"],
    [-9999]: ["QUILLON_RESULT_WRONG_ACCESS",
              "the access code differs; nothing ran, the reply buffer is untouched"],
    [-1007]: ["QUILLON_RESULT_NO_COMMAND", "field 1 holds no command keyword"],
    [-1008]: ["QUILLON_RESULT_BUSY",
              "another call was still running; that call goes on undisturbed. From a web page: " +
                  "another bridge process on the PC (a second browser or profile) is running a " +
                  "call; the answer's heldBy names it. MyKad: the " +
                  "card-reader thread of an earlier MyKad call that was given up is still inside " +
                  "a call of OrvMyKad.dll that overran its budget and has not come back (the " +
                  "library is never entered twice at once); this lasts only until that call " +
                  "comes back: ask again later, other commands work meanwhile"],
    [-1009]: ["QUILLON_RESULT_INTERNAL_ERROR",
              "the call failed inside the library (out of memory, the card-reader thread " +
                  "could not be started, or another internal fault); " +
                  "the reply is [field 1][-1009][123], field 1 as received (cut to 499 " +
                  "characters). A command that drives the terminal or the reader may have run in " +
                  "part; the next call runs as usual"],
    [-5]: ["QUILLON_RESULT_TEMPLATE_REFUSED",
           "a template to verify has byte 17 ≠ 2 (checked before the terminal is asked); " +
               "ENROLL: the terminal reported a failed enrolment"],
    [-4]: ["QUILLON_RESULT_PORT_OPEN_FAILED",
           "the terminal's COM port could not be opened; MyKad: the card reader could not be " +
               "initialised (no OrvMyKad.dll, or its init failed)"],
    [-9]: ["QUILLON_RESULT_NO_RESULT",
           "the port was open but the operation ended without a result (the dialog was closed); " +
               "GETSIGNATURE: the terminal refused; MyKad: cancelled with the Cancel button"],
    [-10]: ["QUILLON_RESULT_NOT_STARTED",
            "the dialog ended before it opened a port or set a result"],
    [-30]: ["QUILLON_RESULT_TIMEOUT",
            "the terminal did not answer within [MYKAD] TIMEOUT (a step) or GLOBTIMEOUT (all); " +
                "MyKad: no card within [MYKAD] INSERT_COUNT polls, the library gave up the card wait, " +
                "or a call of OrvMyKad.dll overran its budget ([CSSSERVER] GLOBTIMEOUT alone " +
                "never ends a read that makes progress)"],
    [-1]: ["QUILLON_RESULT_MYKAD_NOT_VERIFIED",
           "MyKad: a card was already in the reader when the command started; a terminal's MyKad " +
               "fingerprint check failed"],
    [-2]: ["QUILLON_RESULT_MYKAD_READ_FAILED",
           "the terminal sent its own MyKad events during a terminal command (a card it could " +
               "not read, or a MyKad check of its own)"],
    [-3]: ["QUILLON_RESULT_TERMINAL_ERROR",
           "ENROLL / VERIFY: the terminal answered with an error status (in the file log as " +
               "RECV: Error Code 0x..); MyKad: the finger did not match the card in [MYKAD] " +
               "VERIFY_TIMES attempts"],
});
const OTHER = "MyKad commands: the failing result of the card-reader library OrvMyKad.dll, " +
              "passed on unchanged (see its maker's documentation)";

/** The meaning of a result code, as the library documents it. */
export function meaningOf(code) {
    const known = RESULTS[code];
    return known ? known[1] : OTHER;
}

// How long a page waits for each command, in milliseconds: the longest call with the library's
// default settings, plus a margin for the bridge and the browser. A bank whose QUILLON.ini
// lengthens the time-outs passes its own through createClient({timeouts}). A MyKad read is never
// cut while the reader makes progress: its bound (docs/time-bounds.md) is that of a reader whose
// every call takes just under its budget, about 14 minutes.
export const TIMEOUTS = Object.freeze({
    GETBRANCHCODE: 6000,
    GETFIRMWAREVERSION: 21000,
    GETSERIALNUMBER: 36500,
    ENROLL: 36500,
    VERIFY: 36500,
    VERIFY2F: 36500,
    GETSIGNATURE: 21000,
    SETDATETIME: 17000,
    READMYKAD: 840000,
    version: 5000,
});

export const MYKAD_MODES = Object.freeze(["READMYKAD", "READMYKADNOPHOTO",
                                          "READMYKADNOVERIFYWITHPHOTO", "READMYKADNOVERIFYNOPHOTO"]);
const TEMPLATE_HEX = 1196;  // one 598-byte template
const MYKAD_TEXT_MAX = 19;

/**
 * Every failure of a call. kind tells which side failed: "result" (the library answered with a
 * nonzero code: code, codeName and meaning are set; a busy answer, -1008, also names in heldBy
 * the call that holds the terminal), "timeout", "no-extension", "not-visible" (the page was not
 * in view), "no-host", "bridge" (the bridge refused the message: errorCode says why) or "reply"
 * (a reply the client cannot read).
 */
export class QuillonError extends Error {
    constructor(kind, message, details = {}) {
        super(message);
        this.name = "QuillonError";
        this.kind = kind;
        this.code = details.code ?? null;
        this.codeName = details.code == null ? null : (RESULTS[details.code] || ["", ""])[0] || null;
        this.meaning = details.code == null ? null : meaningOf(details.code);
        this.command = details.command ?? null;
        this.reply = details.reply ?? null;
        this.errorCode = details.errorCode ?? null;
        this.heldBy = details.heldBy ?? null;
    }
}

function fieldText(value, what) {
    const text = String(value);
    // A field ends at the next bracket and the library does no unescaping: refuse, never mangle.
    if (/[[\]]/.test(text)) throw new TypeError(`${what} must not contain brackets`);
    if (!/^[\x20-\x7e]*$/.test(text)) {
        throw new TypeError(`${what} must be printable ASCII`);
    }
    return text;
}

function flag(show) {
    return show ? "1" : "0";
}

function portNumber(port) {
    if (!Number.isInteger(port) || port < 0 || port > 255) {
        throw new RangeError("port must be an integer from 0 (find the terminal) to 255");
    }
    return String(port);
}

function hexTemplates(value, count, what) {
    if (typeof value !== "string" || !/^[0-9A-Fa-f]*$/.test(value)) {
        throw new TypeError(`${what} must be a string of hexadecimal digits`);
    }
    if (value.length !== TEMPLATE_HEX * count) {
        throw new RangeError(`${what} must be ${TEMPLATE_HEX * count} hexadecimal digits, not ` +
                             value.length);
    }
    return value.toUpperCase();
}

function two(n) {
    return String(n).padStart(2, "0");
}

function clock(when) {
    if (when === undefined || when === null) return null;  // the PC's own clock
    if (when instanceof Date) {
        if (Number.isNaN(when.getTime())) throw new RangeError("the date is invalid");
        return two(when.getFullYear() % 100) + two(when.getMonth() + 1) + two(when.getDate()) +
               two(when.getHours()) + two(when.getMinutes()) + two(when.getSeconds());
    }
    if (typeof when === "string" && /^\d{12}$/.test(when)) return when;
    throw new TypeError("the time must be a Date or twelve digits YYMMDDhhmmss");
}

/** The bracketed request, from its fields. */
export function bracket(fields) {
    return fields.map((f) => `[${f}]`).join("");
}

/** The fields of a bracketed reply, text outside the brackets ignored. */
export function fieldsOf(reply) {
    return Array.from(String(reply).matchAll(/\[([^\]]*)\]/g), (m) => m[1]);
}

// Each command: its request from the caller's arguments, and its result object from the reply
// fields after the code. Argument mistakes throw before anything is sent.
const COMMANDS = {
    getBranchCode: {
        keyword: "GETBRANCHCODE",
        request: () => ["GETBRANCHCODE"],
        // Its second field is the branch's status (1 while the branch name is not set), not a
        // result code: the function itself always succeeds.
        status: true,
        result: ([branchCode, name, address]) => ({branchCode, name, address}),
    },
    getSerialNumber: {
        keyword: "GETSERIALNUMBER",
        request: ({show, port = 0} = {}) => ["GETSERIALNUMBER", flag(show), portNumber(port)],
        result: ([serialNumber]) => ({serialNumber}),
    },
    getFirmwareVersion: {
        keyword: "GETFIRMWAREVERSION",
        request: ({show, port = 0} = {}) => ["GETFIRMWAREVERSION", flag(show), portNumber(port)],
        result: ([customerName]) => ({customerName}),
    },
    enroll: {
        keyword: "ENROLL",
        request: ({show, port = 0} = {}) => ["ENROLL", flag(show), portNumber(port)],
        result: ([template]) => ({template}),
    },
    getSignature: {
        keyword: "GETSIGNATURE",
        request: ({show, port = 0} = {}) => ["GETSIGNATURE", flag(show), portNumber(port)],
        result: ([signature]) => ({signature}),
    },
    verify: {
        keyword: "VERIFY",
        request: (template, {show, port = 0} = {}) =>
            ["VERIFY", flag(show), portNumber(port), hexTemplates(template, 1, "the template")],
        result: () => ({}),
    },
    verify2f: {
        keyword: "VERIFY2F",
        request: (first, second, {show, port = 0} = {}) =>
            ["VERIFY2F", flag(show), portNumber(port),
             hexTemplates(first, 1, "the first template") +
                 hexTemplates(second, 1, "the second template")],
        result: () => ({}),
    },
    setDateTime: {
        keyword: "SETDATETIME",
        request: (when, {port = 0} = {}) => {
            const time = clock(when);
            return ["SETDATETIME", portNumber(port)].concat(time === null ? [] : [time]);
        },
        result: () => ({}),
    },
    readMyKad: {
        keyword: "READMYKAD",
        request: ({mode = "READMYKAD", texts = [], show, port = 0} = {}) => {
            if (!MYKAD_MODES.includes(mode)) {
                throw new RangeError(`mode must be one of ${MYKAD_MODES.join(", ")}`);
            }
            if (!Array.isArray(texts) || texts.length > 3) {
                throw new TypeError("texts must be an array of up to three texts");
            }
            const three = [0, 1, 2].map((i) => {
                const text = fieldText(texts[i] ?? "", `text ${i + 1}`);
                if (text.length > MYKAD_TEXT_MAX) {
                    throw new RangeError(`text ${i + 1} is longer than ${MYKAD_TEXT_MAX} characters`);
                }
                return text;
            });
            return [mode, flag(show), portNumber(port), ...three];
        },
        result: ([type, payload, photo]) => ({
            cardType: type === "1" ? "MyKid" : "MyKad",
            payload,
            photo: photo ?? null,
        }),
    },
};

/** The request text a call would send (throws on arguments the library cannot take). */
export function buildRequest(name, ...args) {
    const command = COMMANDS[name];
    if (!command) throw new TypeError(`no such command: ${name}`);
    return bracket(command.request(...args));
}

/**
 * The result object of a reply, or a QuillonError for a nonzero code or an unreadable reply.
 * Every result carries the code and the reply text as received; heldBy is a busy answer's.
 */
export function parseReply(name, reply, code, heldBy) {
    const command = COMMANDS[name];
    const fields = fieldsOf(reply);
    if (Number.isInteger(code) && code !== 0) {
        // A wrong access code leaves no reply at all: the code alone tells the caller.
        return new QuillonError("result", `${command.keyword} failed with ${code}: ` +
                                              meaningOf(code),
                                {code, command: command.keyword, reply, heldBy});
    }
    const fieldCode = Number.parseInt(fields[1], 10);
    if (code !== 0 || fields[0] !== command.keyword && !command.keyword.startsWith("READMYKAD") ||
        !/^-?\d+$/.test(fields[1] ?? "") || (!command.status && fieldCode !== 0)) {
        return new QuillonError("reply", `${command.keyword}: the reply cannot be read`,
                                {command: command.keyword, reply});
    }
    const data = fields.slice(2);
    if (data[data.length - 1] === "123") data.pop();  // the end mark of all but MyKad replies
    const result = command.result(data);
    if (command.status) result.status = fieldCode;
    return Object.assign(result, {code, reply});
}

/**
 * A client over a transport: an object whose send(message) resolves with the bridge's answer
 * ({code, reply}, {bridge, dll} or {error}) or rejects with a QuillonError.
 */
export function createClient(transport, {timeouts = {}} = {}) {
    const limits = Object.assign({}, TIMEOUTS, timeouts);

    function exchange(message, limit, what) {
        let timer;
        const late = new Promise((_, reject) => {
            timer = setTimeout(() => reject(new QuillonError(
                                   "timeout", `${what}: no answer within ${limit / 1000} s`)),
                               limit);
        });
        return Promise.race([transport.send(message), late]).finally(() => clearTimeout(timer));
    }

    async function call(name, args) {
        const command = COMMANDS[name];
        const request = buildRequest(name, ...args);
        const options = args[args.length - 1];
        const limit = (options && typeof options === "object" && options.timeout) ||
                      limits[command.keyword];
        const answer = await exchange({request}, limit, command.keyword);
        if (answer.error !== undefined) {
            throw new QuillonError(answer.kind || "bridge", `${command.keyword}: ${answer.error}`,
                                   {command: command.keyword, errorCode: answer.errorCode});
        }
        const parsed = parseReply(name, answer.reply, answer.code, answer.heldBy);
        if (parsed instanceof Error) throw parsed;
        return parsed;
    }

    const client = {
        /** True when the extension and the bridge both answer and the bridge has its library. */
        async available() {
            try {
                return (await client.version()).dll !== null;
            } catch (e) {
                if (e instanceof QuillonError) return false;
                throw e;
            }
        },
        /** {bridge, dll, extension}: the versions of the parts that answered. */
        async version() {
            const answer = await exchange({cmd: "version"}, limits.version, "version");
            if (answer.error !== undefined) {
                throw new QuillonError(answer.kind || "bridge", answer.error,
                                       {errorCode: answer.errorCode});
            }
            return {bridge: answer.bridge, dll: answer.dll, extension: answer.extension ?? null};
        },
    };
    for (const name of Object.keys(COMMANDS)) {
        client[name] = (...args) => call(name, args);
    }
    return client;
}

// The page's side of the extension: messages to and from the extension's content script go
// through window.postMessage, tagged, to and from this page's own origin only.
export const PAGE_TAG = "quillon/page";
export const EXTENSION_TAG = "quillon/extension";

// How long a call waits for the content script to say it is here, counted from the
// transport's creation: it reads the allow-list before it marks the page, so a call made while
// the page loads may come first.
export const READY_WAIT = 1000;

/**
 * The transport through the Quillon extension in window `win`. Its ids carry a random prefix of
 * its own, so two clients in one page never take each other's answers.
 */
export function extensionTransport(win) {
    const pending = new Map();
    const prefix = Array.from((win.crypto || globalThis.crypto).getRandomValues(new Uint32Array(2)),
                              (n) => n.toString(16).padStart(8, "0")).join("");
    let next = 1;
    const marked = () => Boolean(win.document.documentElement.dataset.quillonExtension);
    let readied;
    const ready = marked() ? Promise.resolve() : new Promise((resolve) => {
        readied = resolve;
        setTimeout(resolve, READY_WAIT);
    });
    win.addEventListener("message", (event) => {
        const data = event.data;
        if (event.source !== win || event.origin !== win.location.origin || !data ||
            data.tag !== EXTENSION_TAG) {
            return;
        }
        if (data.ready !== undefined && readied) readied();
        if (!pending.has(data.id)) return;
        const settle = pending.get(data.id);
        pending.delete(data.id);
        settle(data.answer);
    });
    return {
        async send(message) {
            await ready;
            // The content script marks the page when it runs: without the mark no answer can come.
            if (!marked()) {
                throw new QuillonError("no-extension", "the Quillon extension is not installed, " +
                                                           "or not allowed on " + win.location.origin);
            }
            const id = `${prefix}:${next++}`;
            return new Promise((resolve) => {
                pending.set(id, resolve);
                win.postMessage({tag: PAGE_TAG, id, message}, win.location.origin);
            });
        },
    };
}

/** The client of this page, through the extension (null outside a browser). */
export const quillon = typeof window === "undefined" ? null : createClient(extensionTransport(window));
export default quillon;
