// Takes a MyKad reply apart as tools/mykad-decoder does, for the demo page: the random block
// gives the key, each block's last byte checks it, and the data block carries the host's record.
// The masks are the library's build options (QUILLON_MYKAD_MASK_EVEN / _ODD); these are their
// defaults.
const MASKS = {even: 0xa7, odd: 0x3d};
const RANDOM = 16;
const MARKER = 32;
// Data block length: where the record starts, and whether a 14-character label leads it.
const LAYOUTS = {683: ["plain (record at 603)", 603, 0], 397: ["labelled (record at 303)", 303, 14],
                 1445: ["MyKid (no record)", null, 0]};

function bytesOf(base64) {
    const binary = atob(base64.replace(/=+$/, "").padEnd(Math.ceil(base64.replace(/=+$/, "").length / 4) * 4, "="));
    return Uint8Array.from(binary, (c) => c.charCodeAt(0));
}

// A block without its check byte, and whether the check byte is right. A byte that is, or would
// become, 0x00 or 0x20 was left as it is.
function unscramble(block, key) {
    let check = 0;
    const out = [];
    for (let i = 0; i + 1 < block.length; i++) {
        const x = block[i], y = x ^ key[i % 16];
        check ^= x;
        out.push(x === 0 || x === 0x20 || y === 0 || y === 0x20 ? x : y);
    }
    return {bytes: out, ok: block.length > 0 && block[block.length - 1] === check};
}

// A column as the decoder prints it: quoted, other than printable ASCII as \xHH.
const text = (bytes, from, width) => `"${bytes.slice(from, from + width).map((b) =>
    b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : `\\x${b.toString(16).toUpperCase().padStart(2, "0")}`).join("")}"`;

/** The decoded parts of a MyKad success reply `[keyword][0][type][payload]([photo])`. */
export function decodeMyKad(reply, masks = MASKS) {
    const fields = Array.from(reply.matchAll(/\[([^\]]*)\]/g), (m) => m[1]);
    const payload = bytesOf(fields[3]);
    const key = Array.from(payload.slice(0, RANDOM), (b, i) => b ^ (i % 2 ? masks.odd : masks.even));
    const marker = unscramble(Array.from(payload.slice(RANDOM, RANDOM + MARKER)), key);
    const data = unscramble(Array.from(payload.slice(RANDOM + MARKER)), key);
    const [layout, offset, label] = LAYOUTS[payload.length - RANDOM - MARKER] || ["unknown", null, 0];
    const out = {marker: text(marker.bytes, 0, 31), layout, data: `${data.bytes.length} bytes`};
    if (offset !== null) {
        const at = offset + label;
        Object.assign(out, label ? {label: text(data.bytes, offset, label)} : {}, {
            "first text": text(data.bytes, at, 20), "second text": text(data.bytes, at + 20, 6),
            "time stamp": text(data.bytes, at + 26, 14), "third text": text(data.bytes, at + 40, 20),
            address: text(data.bytes, at + 60, 20)});
    }
    let checks = marker.ok && data.ok;
    if (fields[4] !== undefined) {
        const photo = unscramble(Array.from(bytesOf(fields[4])), key);
        checks = checks && photo.ok;
        out.photo = `${photo.bytes.length + 1} bytes`;  // the block, its check byte included
    }
    out["check bytes"] = checks ? "right" : "WRONG";
    return out;
}
