'use strict';
// A browser attendee of a share: joins the host's signaling server like the desktop program does,
// offers a receive-only video peer with one data channel to the share's owner, shows the screen and
// receives files over the data channel.
(function () {
  const SIGNALING_PORT = 5678;
  const SIGNALING_PATH = '/zu_remote_ctrl';
  const OWNER_POLL_MS = 200;
  const RETRY_MS = 3000;
  const LOST_RETRY_MS = 1000;
  const ENDED_RETRY_MS = 5000;
  const FULL_RETRY_MS = 10000;
  // How long a host that asks before someone watches may leave us waiting.
  const ADMISSION_WAIT_MS = 120000;
  const NICKNAME_KEY = 'zushare.nickname';

  const $ = (id) => document.getElementById(id);
  const params = new URLSearchParams(location.search);
  const signalingPort = Number(params.get('port')) || SIGNALING_PORT;
  const signalingUrl = 'ws://' + (location.hostname.includes(':') ? '[' + location.hostname + ']' : location.hostname) +
                       ':' + signalingPort + SIGNALING_PATH;

  // The page speaks the browser's language: the first Chinese or English one it prefers, else English.
  const english = (() => {
    const preferred = navigator.languages && navigator.languages.length ? navigator.languages : [navigator.language];
    for (const tag of preferred) {
      const language = String(tag || '').toLowerCase().split(/[-_]/)[0];
      if (language === 'zh') return false;
      if (language === 'en') return true;
    }
    return true;
  })();
  // Every text of the page, Chinese then English; {n} and {size} are filled in. A state's notice
  // is its "Title" and "Text".
  const words = {
    title: ['观看共享', 'Watch share'],
    sound: ['点击开启声音', 'Tap to turn on sound'],
    fullscreen: ['全屏', 'Full screen'],
    exitFullscreen: ['退出全屏', 'Exit full screen'],
    joinTitle: ['加入共享', 'Join the share'],
    joinText: ['输入昵称后即可观看主持人的屏幕。', 'Enter a nickname to watch the host\'s screen.'],
    nickname: ['昵称', 'Nickname'],
    join: ['加入', 'Join'],
    rejoin: ['重新加入', 'Join again'],
    connectingTitle: ['正在连接', 'Connecting'],
    connectingText: ['正在连接主持人的共享…', 'Connecting to the host\'s share…'],
    waitingTitle: ['正在加入', 'Joining'],
    waitingText: ['已连接，正在等待主持人的画面…', 'Connected, waiting for the host\'s picture…'],
    admissionTitle: ['等待主持人同意', 'Waiting for the host'],
    admissionText: ['正在等待主持人允许你观看…', 'Waiting for the host to let you watch…'],
    notadmittedTitle: ['未获允许', 'Not allowed'],
    notadmittedText: ['主持人没有允许你观看这个共享。', 'The host did not let you watch this share.'],
    endedTitle: ['共享已结束', 'The share has ended'],
    endedText: ['主持人已结束共享或将你移出了共享。', 'The host ended the share or removed you from it.'],
    goneTitle: ['共享已结束', 'The share has ended'],
    goneText: ['主持人已结束共享，重新开始共享时会自动加入。', 'The host ended the share. You rejoin when it starts again.'],
    lostTitle: ['连接已断开', 'Connection lost'],
    lostText: ['与主持人的连接中断，正在自动重新连接…', 'Lost the connection to the host, reconnecting…'],
    unreachableTitle: ['无法连接', 'Cannot connect'],
    unreachableText: ['找不到这个地址上的共享，正在自动重试…', 'No share found at this address, trying again…'],
    fullTitle: ['共享人数已满', 'The share is full'],
    fullText: ['这个共享最多允许 5 位观看者，稍后自动重试…', 'This share takes at most 5 watchers, trying again soon…'],
    watching: ['{n} 人正在观看', '{n} watching'],
    received: ['收到的文件', 'Received files'],
    save: ['保存 ({size})', 'Save ({size})'],
    failed: ['传输失败', 'Transfer failed'],
    interrupted: ['传输中断', 'Transfer interrupted'],
    damaged: ['文件校验失败', 'File check failed'],
    incomplete: ['文件不完整', 'File incomplete'],
    'too long': ['文件长度不符', 'File size mismatch'],
    cancelled: ['发送方取消了传输', 'The sender cancelled'],
  };
  const say = (key, fill) => words[key][english ? 1 : 0].replace(/\{(\w+)\}/g, (m, name) => fill[name]);
  document.documentElement.lang = english ? 'en' : 'zh-CN';
  document.title = say('title');
  document.querySelectorAll('[data-text]').forEach((e) => { e.textContent = say(e.dataset.text); });
  document.querySelectorAll('[data-placeholder]').forEach((e) => { e.placeholder = say(e.dataset.placeholder); });

  const storage = (() => {
    try { return window.localStorage; } catch (e) { return null; }
  })();

  function setState(state) {
    document.body.dataset.state = state;
    if (words[state + 'Title']) {
      $('notice-title').textContent = say(state + 'Title');
      $('notice-text').textContent = say(state + 'Text');
    }
    $('rejoin').hidden = state !== 'ended' && state !== 'gone' && state !== 'notadmitted';
    // Both say the share ended; "gone" keeps looking for a new one.
    if (state === 'gone' || state === 'notadmitted') document.body.dataset.state = 'ended';
  }

  // Signaling texts are written the way the desktop program writes them: keys in ascending order,
  // everything outside ASCII as \u escapes, one line feed at the end.
  const wire = (o) => JSON.stringify(o).replace(/[\u007f-\uffff]/g,
    (c) => '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0')) + '\n';
  const body = (dataType, data, requestData) => ({ data: data, data_type: dataType, id: '', request_data: requestData || '' });
  const envelope = (type, sender, target, data) => ({ data: data, error: '', error_code: 0, sender: sender, target: target, type: type });

  class Session {
    constructor(nickname) {
      this.nickname = nickname;
      this.ws = null;
      this.pc = null;
      this.dc = null;
      this.receiver = null;
      this.myId = '';
      this.ownerId = '';
      this.opened = false;
      this.gotId = false;
      this.remoteSet = false;
      this.pendingCandidates = [];
      this.ownerTimer = 0;
      this.retryTimer = 0;
      this.admissionTimer = 0;
      this.stopped = false;
      this.wasJoined = false;
    }

    // quiet: the message on screen stays until the attempt succeeds.
    start(quiet) {
      clearTimeout(this.retryTimer);
      this.myId = this.ownerId = '';
      this.opened = this.gotId = false;
      if (!quiet) setState('connecting');
      let ws;
      try {
        ws = new WebSocket(signalingUrl);
      } catch (e) {
        this.onClosed(null, 1006);
        return;
      }
      this.ws = ws;
      ws.onopen = () => this.onOpen();
      ws.onmessage = (e) => this.onMessage(e.data);
      ws.onclose = (e) => this.onClosed(ws, e.code);
    }

    send(o) {
      if (this.ws && this.ws.readyState === WebSocket.OPEN) this.ws.send(wire(o));
    }

    onOpen() {
      this.opened = true;
      this.wasJoined = false;
      setState('waiting');
      this.send(envelope('ctrl', this.myId, '', body('modify', { data: this.nickname, modify_type: 'nickname' })));
      this.requestOwner();
    }

    requestOwner() {
      if (this.ownerId !== '' || !this.opened) return;
      this.send(envelope('ctrl', this.myId, '', body('request', null, 'owner')));
      this.ownerTimer = setTimeout(() => this.requestOwner(), OWNER_POLL_MS);
    }

    onMessage(text) {
      let m;
      try { m = JSON.parse(text); } catch (e) { return; }
      if (!m || typeof m !== 'object' || !m.data || typeof m.data !== 'object') return;
      const b = m.data;
      const sender = typeof m.sender === 'string' ? m.sender : '';
      if (m.type !== 'data') return;
      const payload = b.data && typeof b.data === 'object' ? b.data : {};
      switch (b.data_type) {
        case 'id':
          if (typeof b.id === 'string') { this.myId = b.id; this.gotId = true; }
          break;
        case 'owner':
          if (typeof b.id === 'string' && b.id !== '' && this.ownerId === '') {
            this.ownerId = b.id;
            this.call();
          }
          break;
        case 'sdp':
          if (sender === this.ownerId && payload.sdp_type === 'answer' && typeof payload.sdp === 'string')
            this.onAnswer(payload.sdp);
          break;
        case 'ice_candidate':
          if (sender === this.ownerId && typeof payload.candidate === 'string' && payload.candidate !== '')
            this.onCandidate({ candidate: payload.candidate,
                               sdpMLineIndex: Number.isInteger(payload.sdp_mline_index) ? payload.sdp_mline_index : 0,
                               sdpMid: typeof payload.sdp_mid === 'string' ? payload.sdp_mid : null });
          break;
        case 'admit_wait':
          if (sender === this.ownerId && this.ownerId !== '' && !this.admissionTimer) {
            setState('admission');
            this.admissionTimer = setTimeout(() => this.notAdmitted(), ADMISSION_WAIT_MS);
          }
          break;
        case 'admit_ok':
          if (sender === this.ownerId && this.ownerId !== '' && this.admissionTimer) {
            clearTimeout(this.admissionTimer);
            this.admissionTimer = 0;
            setState('waiting');
          }
          break;
        case 'allUser':
          if (Array.isArray(payload)) showMembers(payload.length);
          else showMembers(0);
          break;
        default:
          break;
      }
    }

    async call() {
      if (this.pc) return;
      const pc = new RTCPeerConnection({ iceServers: [] });
      this.pc = pc;
      this.remoteSet = false;
      this.pendingCandidates = [];
      pc.addTransceiver('video', { direction: 'recvonly' });
      pc.addTransceiver('audio', { direction: 'recvonly' });
      const dc = pc.createDataChannel('zushare', { ordered: true });
      dc.binaryType = 'arraybuffer';
      this.dc = dc;
      this.receiver = new ZuTransfer.FileReceiver((pkg) => {
        if (dc.readyState === 'open') dc.send(pkg);
      }, downloads);
      const receiver = this.receiver;
      dc.onmessage = (e) => { if (e.data instanceof ArrayBuffer) receiver.onPackage(e.data); };
      dc.onclose = () => receiver.close();
      pc.onicecandidate = (e) => {
        if (!e.candidate || !e.candidate.candidate) return;
        this.send(envelope('data', this.myId, this.ownerId, body('ice_candidate', {
          candidate: e.candidate.candidate, sdp_mid: e.candidate.sdpMid || '',
          sdp_mline_index: e.candidate.sdpMLineIndex || 0 })));
      };
      // The sound has an element of its own: a stream whose audio track gets nothing (a host that
      // shares no sound) would hold the picture back. Browsers play sound only after a tap.
      pc.ontrack = (e) => {
        if (e.receiver.jitterBufferTarget !== undefined) e.receiver.jitterBufferTarget = 0;
        if (e.track.kind === 'audio') {
          $('hear').srcObject = new MediaStream([e.track]);
          if (soundTapped) $('hear').play().catch(() => {});
          else $('sound').hidden = false;
          return;
        }
        const video = $('screen');
        video.srcObject = new MediaStream([e.track]);
        video.play().catch(() => {});
      };
      pc.onconnectionstatechange = () => {
        // A peer that cannot be reached any more ends this attempt; the retry makes a new one.
        if (pc.connectionState === 'failed' && this.ws) this.ws.close(4000, 'peer failed');
      };
      try {
        const offer = await pc.createOffer();
        await pc.setLocalDescription(offer);
        this.send(envelope('data', this.myId, this.ownerId, body('sdp', { sdp: pc.localDescription.sdp, sdp_type: 'offer' })));
      } catch (e) {
        console.warn('offer failed', e);
      }
    }

    async onAnswer(sdp) {
      if (!this.pc) return;
      try {
        await this.pc.setRemoteDescription({ type: 'answer', sdp: sdp });
        this.remoteSet = true;
        const waiting = this.pendingCandidates;
        this.pendingCandidates = [];
        for (const c of waiting) await this.addCandidate(c);
      } catch (e) {
        console.warn('answer refused', e);
      }
    }

    async onCandidate(c) {
      if (!this.pc) return;
      if (!this.remoteSet) this.pendingCandidates.push(c);
      else await this.addCandidate(c);
    }

    async addCandidate(c) {
      try { await this.pc.addIceCandidate(c); } catch (e) { console.warn('candidate refused', e); }
    }

    notAdmitted() {
      this.admissionTimer = 0;
      this.stopped = true;
      if (this.ws) this.ws.close(1000);
      this.closePeer();
      setState('notadmitted');
    }

    closePeer() {
      clearTimeout(this.ownerTimer);
      clearTimeout(this.admissionTimer);
      this.admissionTimer = 0;
      if (this.receiver) this.receiver.close();
      if (this.pc) this.pc.close();
      this.pc = this.dc = this.receiver = null;
      const video = $('screen');
      video.srcObject = null;
      $('hear').srcObject = null;
      $('sound').hidden = true;
    }

    onClosed(ws, code) {
      if (ws && ws !== this.ws) return;
      this.ws = null;
      this.closePeer();
      showMembers(-1);
      if (this.stopped) return;
      // The server closes a connection it has no room for before greeting it; a greeted connection
      // closed normally was ended by the host (the share stopped, or the host removed us), and is
      // not rejoined behind the host's back.
      // A host that quits may take its server down before it has closed every connection, so a
      // lost connection whose server no longer answers is an ended share as well.
      if (!this.opened && this.wasJoined) {
        setState('gone');
        this.retryTimer = setTimeout(() => this.start(true), ENDED_RETRY_MS);
      } else if (!this.opened) {
        setState('unreachable');
        this.retryTimer = setTimeout(() => this.start(true), RETRY_MS);
      } else if (!this.gotId) {
        setState('full');
        this.retryTimer = setTimeout(() => this.start(true), FULL_RETRY_MS);
      } else if (code === 1000) {
        setState('ended');
      } else {
        this.wasJoined = true;
        setState('lost');
        this.retryTimer = setTimeout(() => this.start(true), LOST_RETRY_MS);
      }
    }

    stop() {
      this.stopped = true;
      clearTimeout(this.retryTimer);
      if (this.ws) this.ws.close(1000);
      this.closePeer();
    }
  }

  function showMembers(count) {
    $('members').textContent = count > 0 ? say('watching', { n: count }) : '';
  }

  // ---- received files ----
  const items = new Map();
  const sizeText = (n) => n < 1024 ? n + ' B' : n < 1048576 ? (n / 1024).toFixed(1) + ' KB' : (n / 1048576).toFixed(1) + ' MB';
  const downloads = {
    begin(f) {
      $('downloads').hidden = false;
      const li = document.createElement('li');
      li.dataset.state = 'receiving';
      const name = document.createElement('span');
      name.className = 'name';
      name.textContent = f.saveAs;
      const bar = document.createElement('progress');
      bar.max = Math.max(1, f.length);
      bar.value = 0;
      const status = document.createElement('span');
      status.className = 'status';
      status.textContent = '0 / ' + sizeText(f.length);
      li.append(name, bar, status);
      $('download-list').prepend(li);
      items.set(f.id, { li, bar, status });
    },
    progress(f) {
      const it = items.get(f.id);
      if (!it) return;
      it.bar.value = f.received;
      it.status.textContent = sizeText(f.received) + ' / ' + sizeText(f.length);
    },
    complete(f, blob) {
      const it = items.get(f.id);
      if (!it) return;
      it.bar.value = it.bar.max;
      it.li.dataset.state = 'done';
      const link = document.createElement('a');
      link.href = URL.createObjectURL(blob);
      link.download = f.saveAs;
      link.textContent = say('save', { size: sizeText(f.length) });
      it.status.replaceChildren(link);
      link.click();
    },
    fail(f, reason) {
      const it = items.get(f.id);
      if (!it) return;
      it.li.dataset.state = 'failed';
      it.status.className = 'status failed';
      it.status.textContent = say(words[reason] ? reason : 'failed');
    },
  };

  // ---- full screen ----
  const stage = $('stage');
  const fullscreenElement = () => document.fullscreenElement || document.webkitFullscreenElement;
  function toggleFullscreen() {
    const video = $('screen');
    if (fullscreenElement()) {
      (document.exitFullscreen || document.webkitExitFullscreen).call(document);
    } else if (stage.requestFullscreen) {
      stage.requestFullscreen().catch(() => {});
    } else if (stage.webkitRequestFullscreen) {
      stage.webkitRequestFullscreen();
    } else if (video.webkitEnterFullscreen) {
      video.webkitEnterFullscreen();  // phones that only let a video element go full screen
    }
  }
  const updateFullscreenButton = () => { $('fullscreen').textContent = say(fullscreenElement() ? 'exitFullscreen' : 'fullscreen'); };
  document.addEventListener('fullscreenchange', updateFullscreenButton);
  document.addEventListener('webkitfullscreenchange', updateFullscreenButton);
  $('fullscreen').addEventListener('click', toggleFullscreen);
  $('screen').addEventListener('dblclick', toggleFullscreen);

  let toolbarTimer = 0;
  const showToolbar = () => {
    document.body.classList.add('show-toolbar');
    clearTimeout(toolbarTimer);
    toolbarTimer = setTimeout(() => document.body.classList.remove('show-toolbar'), 2500);
  };
  stage.addEventListener('pointermove', showToolbar);
  stage.addEventListener('touchstart', showToolbar, { passive: true });

  $('screen').addEventListener('playing', () => {
    if (document.body.dataset.state === 'waiting') setState('watching');
  });
  $('screen').addEventListener('resize', () => {
    if (document.body.dataset.state === 'waiting' && $('screen').videoWidth > 0) setState('watching');
  });

  let soundTapped = false;
  $('sound').addEventListener('click', () => {
    soundTapped = true;
    $('hear').play().catch(() => {});
    $('sound').hidden = true;
  });

  // ---- joining ----
  let session = null;
  const remembered = storage ? storage.getItem(NICKNAME_KEY) : null;
  if (remembered) $('nickname').value = remembered;

  function join(nickname) {
    if (storage) {
      try { storage.setItem(NICKNAME_KEY, nickname); } catch (e) { /* private mode: not remembered */ }
    }
    if (session) session.stop();
    session = new Session(nickname);
    session.start();
  }

  $('join').addEventListener('submit', (e) => {
    e.preventDefault();
    const nickname = $('nickname').value.trim();
    if (nickname !== '') join(nickname);
  });
  $('rejoin').addEventListener('click', () => { if (session) join(session.nickname); });
  window.addEventListener('pagehide', () => { if (session) session.stop(); });
  setState('join');
})();
