'use strict';
// The receiving end of the file protocol on the data channel: 1024-byte control packages with a
// JSON message at offset 24, 17408-byte data packages whose chunk carries its MD5 digest. Every
// package gets one answer; a chunk that fails its digest is asked for again up to four times.
(function (global) {
  const CONTROL_SIZE = 1024;
  const HEADER_SIZE = 1024;
  const MAX_PACKAGE = 20480;
  const JSON_OFFSET = 24;
  const LENGTH_OFFSET = 8;
  const LENGTH_FIELD = 16;
  const DIGEST_OFFSET = 24;
  const DIGEST_SIZE = 32;
  const MAX_REPEATS = 5;
  const MAX_LENGTH = 2147483647;

  const hasTag = (bytes, tag) => bytes.length >= 5 && bytes[4] === 0 &&
    tag.split('').every((c, i) => bytes[i] === c.charCodeAt(0));

  // Strings as the other end writes them: everything outside printable ASCII as \uXXXX.
  const quote = (s) => {
    let out = '"';
    for (let i = 0; i < s.length; i++) {
      const c = s.charCodeAt(i);
      if (c === 0x22) out += '\\"';
      else if (c === 0x5c) out += '\\\\';
      else if (c >= 0x20 && c < 0x7f) out += s[i];
      else out += '\\u' + c.toString(16).padStart(4, '0');
    }
    return out + '"';
  };

  const controlText = (type, data, name, length) =>
    '{"data":' + quote(data) + ',"length":' + length + ',"name":' + quote(name) + ',"type":' + quote(type) + '}\n';

  function controlPackage(type, data, name, length) {
    const text = new TextEncoder().encode(controlText(type, data, name, length));
    if (text.length + 1 > CONTROL_SIZE - JSON_OFFSET) return null;
    const pkg = new Uint8Array(CONTROL_SIZE);
    pkg.set([0x63, 0x74, 0x72, 0x6c, 0], 0);  // "ctrl"
    pkg.set(text, JSON_OFFSET);
    return pkg;
  }

  function readControl(bytes) {
    let end = bytes.indexOf(0, JSON_OFFSET);
    if (end < 0) end = bytes.length;
    let m;
    try {
      m = JSON.parse(new TextDecoder('utf-8', { fatal: false }).decode(bytes.subarray(JSON_OFFSET, end)));
    } catch (e) {
      return null;
    }
    if (!m || typeof m !== 'object' || Array.isArray(m) || typeof m.type !== 'string') return null;
    if (m.type === 'send_req') {
      if (typeof m.data !== 'string' || typeof m.name !== 'string' || !Number.isInteger(m.length) ||
          m.length < 0 || m.length > MAX_LENGTH) return null;
      return m;
    }
    if (m.type === 'receive_resp' && typeof m.data === 'string') return m;
    return null;
  }

  // The chunk length: decimal digits followed only by zero bytes; -1 when the field is anything else.
  function readChunkLength(bytes) {
    let n = 0, digits = 0, i = LENGTH_OFFSET;
    const end = LENGTH_OFFSET + LENGTH_FIELD;
    for (; i < end && bytes[i] >= 0x30 && bytes[i] <= 0x39; i++, digits++) n = n * 10 + (bytes[i] - 0x30);
    if (digits === 0) return -1;
    for (; i < end; i++) if (bytes[i] !== 0) return -1;
    return n;
  }

  function digestOf(chunk) {
    // md5Bytes hashes a string of byte values, as the library's own raw strings are made.
    let s = '';
    for (let i = 0; i < chunk.length; i += 8192)
      s += String.fromCharCode.apply(null, chunk.subarray(i, Math.min(i + 8192, chunk.length)));
    return global.md5Bytes(s);
  }

  // A name safe to offer for saving: no directory part, no control characters.
  function saveName(name) {
    const base = name.split(/[\\/]/).pop().replace(/[\u0000-\u001f\u007f]/g, '_').trim();
    return base === '' || base === '.' || base === '..' ? 'file' : base;
  }

  class FileReceiver {
    // send(Uint8Array) puts one package on the channel; events: begin(file), progress(file),
    // complete(file, blob), fail(file, reason).
    constructor(send, events) {
      this.send = send;
      this.events = events;
      this.file = null;
      this.serial = 0;
    }

    answer(data) {
      const f = this.file;
      const pkg = controlPackage('receive_resp', data, f.name, f.length);
      if (pkg) this.send(pkg);
    }

    abandon(reason) {
      const f = this.file;
      this.file = null;
      if (f && this.events.fail) this.events.fail(f, reason);
    }

    onPackage(buffer) {
      const bytes = new Uint8Array(buffer);
      if (bytes.length > MAX_PACKAGE) return;
      if (hasTag(bytes, 'ctrl')) this.onControl(bytes);
      else if (hasTag(bytes, 'data')) this.onData(bytes);
    }

    onControl(bytes) {
      const m = readControl(bytes);
      if (!m || m.type !== 'send_req') return;
      if (m.data === 'begin') {
        if (this.file) this.abandon('interrupted');
        this.file = { id: ++this.serial, name: m.name, saveAs: saveName(m.name), length: m.length,
                      received: 0, parts: [], repeats: 0 };
        if (this.events.begin) this.events.begin(this.file);
        this.answer('begin');
      } else if (m.data === 'complete') {
        const f = this.file;
        if (!f) return;
        // Fewer bytes than offered is not a file to hand out; staying silent lets the sender's
        // inactivity time-out report the failure there.
        if (f.received !== f.length) {
          this.abandon('incomplete');
          return;
        }
        this.answer('complete');
        this.file = null;
        const blob = new Blob(f.parts, { type: 'application/octet-stream' });
        f.parts = [];
        if (this.events.complete) this.events.complete(f, blob);
      } else if (m.data === 'cancel') {
        if (this.file) this.abandon('cancelled');
      }
    }

    onData(bytes) {
      const f = this.file;
      if (!f || f.name === '' || f.length === 0) return;
      const n = readChunkLength(bytes);
      if (n < 0 || HEADER_SIZE + n > MAX_PACKAGE || bytes.length < HEADER_SIZE + n) return;
      const chunk = bytes.subarray(HEADER_SIZE, HEADER_SIZE + n);
      const expected = String.fromCharCode.apply(null, bytes.subarray(DIGEST_OFFSET, DIGEST_OFFSET + DIGEST_SIZE));
      if (digestOf(chunk) !== expected) {
        f.repeats++;
        if (f.repeats < MAX_REPEATS) this.answer('repeat');
        else this.abandon('damaged');
        return;
      }
      if (f.received + n > f.length) {
        this.abandon('too long');
        return;
      }
      f.repeats = 0;
      f.parts.push(chunk.slice());
      f.received += n;
      this.answer('continue');
      if (this.events.progress) this.events.progress(f);
    }

    // The channel went away: whatever was arriving is lost.
    close() {
      if (this.file) this.abandon('interrupted');
    }
  }

  global.ZuTransfer = { FileReceiver, controlPackage, controlText, readChunkLength, saveName };
})(window);
