// Figures of the media engine, measured side by side in one run (inside a private namespace):
//   - time from CreateOffer to the first decoded frame, and frames per second received over 10 s,
//     at 1280x720 and 1920x1080 of the moving synthetic picture at 30 fps (both peers in this
//     process);
//   - the host's CPU time per second with 1, 3 and 5 viewers, each viewer a process of its own, so
//     that only the sending side (one capture, one encoder, the fan-out) is counted; the ratio of
//     5 viewers to 1 is the figure that matters;
//   - data channel: stop-and-wait (17408 bytes out, 1024 back) in MB/s with its round trip, beside
//     the raw rate of 17408-byte messages sent back to back.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "enginepair.h"
#include "rtc/gst/zuwebrtc_testing.h"
#include "rtc/zuwebrtc.h"

using enginetest::EnginePair;
using enginetest::monotonicNs;

namespace {

double seconds(int64_t ns) {
    return ns / 1e9;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

template <typename Pred>
bool waitFor(Pred pred, int timeoutMs) {
    const int64_t end = monotonicNs() + int64_t(timeoutMs) * 1000000;
    while (!pred()) {
        if (monotonicNs() > end)
            return false;
        sleepMs(5);
    }
    return true;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// ---------------------------------------------------------------- a line channel between processes

// SDP goes on one line: its CRLFs become '|', which SDP text of the engine never holds.
std::string flatten(std::string s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
            out += '|';
            ++i;
        } else if (s[i] == '\n') {
            out += '|';
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string unflatten(const std::string &s) {
    std::string out;
    for (char c : s)
        out += c == '|' ? std::string("\r\n") : std::string(1, c);
    return out;
}

class LineChannel {
public:
    explicit LineChannel(int fd) : fd_(fd) {}
    void send(const std::string &line) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string l = line + "\n";
        const char *p = l.data();
        size_t left = l.size();
        while (left > 0) {
            ssize_t n = ::write(fd_, p, left);
            if (n <= 0)
                return;
            p += n;
            left -= n;
        }
    }
    bool read(std::string &line) {
        for (;;) {
            auto nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return true;
            }
            char chunk[65536];
            ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n <= 0)
                return false;
            buffer_.append(chunk, n);
        }
    }
    int fd() const { return fd_; }

private:
    int fd_;
    std::mutex mutex_;
    std::string buffer_;
};

// ---------------------------------------------------------------- viewer process

std::atomic<int> g_viewerFrames{0};

void viewerSdp(const char *type, const char *sdp, void *user, int) {
    static_cast<LineChannel *>(user)->send(std::string("S ") + type + " " + flatten(sdp));
}

void viewerIce(const char *candidate, int mline, const char *, void *user, int) {
    static_cast<LineChannel *>(user)->send("C " + std::to_string(mline) + " " + candidate);
}

void viewerFrame(const uint8_t *, const uint8_t *, const uint8_t *, int, int, int, int, int, int, int, void *,
                 int) {
    g_viewerFrames++;
}

int runViewer(int fd) {
    LineChannel channel(fd);
    int pc = CreatePeerConnection(0, 0, 0, 0, 1);
    RegisterOnLocalSdpReadytoSend(pc, viewerSdp, &channel, pc);
    RegisterOnIceCandiateReadytoSend(pc, viewerIce, &channel, pc);
    RegisterOnRemoteI420FrameReady(pc, viewerFrame, nullptr, pc);
    AddDataChannel(pc);
    CreateOffer(pc);
    std::atomic<bool> done{false};
    std::thread reporter([&] {
        while (!done) {
            channel.send("F " + std::to_string(g_viewerFrames.load()));
            sleepMs(250);
        }
    });
    std::string line;
    while (channel.read(line)) {
        if (line.rfind("S answer ", 0) == 0) {
            SetRemoteDescription(pc, "answer", unflatten(line.substr(9)).c_str());
        } else if (line.rfind("C ", 0) == 0) {
            auto sp = line.find(' ', 2);
            AddIceCandidate(pc, line.substr(sp + 1).c_str(), std::atoi(line.substr(2, sp - 2).c_str()), "");
        } else if (line == "Q") {
            break;
        }
    }
    done = true;
    reporter.join();
    ClosePeerConnection(pc);
    sleepMs(200);
    return 0;
}

// ---------------------------------------------------------------- host side of the CPU figure

struct Viewer {
    pid_t pid = -1;
    std::unique_ptr<LineChannel> channel;
    std::thread reader;
    int pc = 0;
    std::atomic<int> frames{0};
};

void hostSdp(const char *type, const char *sdp, void *user, int) {
    static_cast<Viewer *>(user)->channel->send(std::string("S ") + type + " " + flatten(sdp));
}

void hostIce(const char *candidate, int mline, const char *, void *user, int) {
    static_cast<Viewer *>(user)->channel->send("C " + std::to_string(mline) + " " + candidate);
}

std::unique_ptr<Viewer> startViewer(const char *self) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return nullptr;
    auto v = std::make_unique<Viewer>();
    v->pid = fork();
    if (v->pid == 0) {
        // Only async-signal-safe calls until exec: the parent has threads.
        ::close(fds[0]);
        char fdText[16];
        snprintf(fdText, sizeof fdText, "%d", fds[1]);
        execl(self, self, "--viewer", fdText, static_cast<char *>(nullptr));
        _exit(127);
    }
    ::close(fds[1]);
    v->channel = std::make_unique<LineChannel>(fds[0]);
    Viewer *raw = v.get();
    v->reader = std::thread([raw] {
        std::string line;
        while (raw->channel->read(line)) {
            if (line.rfind("S offer ", 0) == 0) {
                raw->pc = CreatePeerConnection(0, 0, 0, 0, 0);
                AddStream(raw->pc, 1, 0);
                AddDataChannel(raw->pc);
                RegisterOnLocalSdpReadytoSend(raw->pc, hostSdp, raw, raw->pc);
                RegisterOnIceCandiateReadytoSend(raw->pc, hostIce, raw, raw->pc);
                SetRemoteDescription(raw->pc, "offer", unflatten(line.substr(8)).c_str());
                CreateAnswer(raw->pc);
            } else if (line.rfind("C ", 0) == 0 && raw->pc > 0) {
                auto sp = line.find(' ', 2);
                AddIceCandidate(raw->pc, line.substr(sp + 1).c_str(),
                                std::atoi(line.substr(2, sp - 2).c_str()), "");
            } else if (line.rfind("F ", 0) == 0) {
                raw->frames = std::atoi(line.c_str() + 2);
            }
        }
    });
    return v;
}

void stopViewer(Viewer &v) {
    v.channel->send("Q");
    int status = 0;
    waitpid(v.pid, &status, 0);
    ::shutdown(v.channel->fd(), SHUT_RDWR);
    v.reader.join();
    ::close(v.channel->fd());
    if (v.pc > 0)
        ClosePeerConnection(v.pc);
}

// CPU seconds per second of the host with n viewers in their own processes; also their fps.
bool hostCpu(const char *self, int n, double &cpuPerSecond, double &minFps) {
    std::vector<std::unique_ptr<Viewer>> viewers;
    for (int i = 0; i < n; ++i) {
        auto v = startViewer(self);
        if (!v)
            return false;
        viewers.push_back(std::move(v));
    }
    bool ok = waitFor(
        [&] {
            return std::all_of(viewers.begin(), viewers.end(), [](auto &v) { return v->frames.load() > 30; });
        },
        30000);
    if (ok) {
        sleepMs(1000);
        std::vector<int> before;
        for (auto &v : viewers)
            before.push_back(v->frames);
        const double c0 = cpuSeconds();
        const int64_t t0 = monotonicNs();
        sleepMs(5000);
        const double elapsed = seconds(monotonicNs() - t0);
        cpuPerSecond = (cpuSeconds() - c0) / elapsed;
        minFps = 1e9;
        for (size_t i = 0; i < viewers.size(); ++i)
            minFps = std::min(minFps, (viewers[i]->frames - before[i]) / elapsed);
    }
    for (auto &v : viewers)
        stopViewer(*v);
    waitFor([] { return zuengine::testing::encodersRunning() == 0; }, 10000);
    return ok;
}

// ---------------------------------------------------------------- data channel figures

struct DataBench {
    std::mutex mutex;
    std::condition_variable cv;
    int replies = 0;
    int received = 0;
    int pcReceiver = 0;
    std::atomic<bool> echo{true};  // written by the main thread, read on the engine's
    uint8_t receiverBuffer[ZUWEBRTC_RECEIVE_BUFFER];
    uint8_t senderBuffer[ZUWEBRTC_RECEIVE_BUFFER];
};

DataBench *g_data = nullptr;

void dataAtReceiver(uint8_t *, int length, void *) {
    static const std::vector<uint8_t> reply(1024, 0x5a);
    if (g_data->echo && length != 1024)
        SendDataViaDataChannel(g_data->pcReceiver, reply.data(), 1024);
    std::lock_guard<std::mutex> lock(g_data->mutex);
    g_data->received++;
    g_data->cv.notify_all();
}

void dataAtSender(uint8_t *, int, void *) {
    std::lock_guard<std::mutex> lock(g_data->mutex);
    g_data->replies++;
    g_data->cv.notify_all();
}

void dataFigures() {
    DataBench bench;
    g_data = &bench;
    EnginePair pair;
    pair.start();
    if (!waitFor([&] { return pair.receiver.ready == 1 && pair.sender.ready == 1; }, 20000)) {
        std::printf("data channel: did not open\n");
        return;
    }
    bench.pcReceiver = pair.receiver.pc;
    RegisterOnDataFromDataChannelReady(pair.receiver.pc, dataAtReceiver, bench.receiverBuffer, nullptr, 1);
    RegisterOnDataFromDataChannelReady(pair.sender.pc, dataAtSender, bench.senderBuffer, nullptr, 1);
    std::vector<uint8_t> chunk(ZUWEBRTC_MAX_MESSAGE, 0xa5);
    // Rounds of one message out and the 1024-byte reply back, each waiting for the last.
    struct Rounds {
        std::vector<double> rttsMs;
        int64_t totalNs = 0, sendCallNs = 0, deliveryWaitNs = 0;
        bool ok = true;
    };
    auto stopAndWait = [&](int size, int rounds) {
        Rounds r;
        const int64_t waitBefore = zuengine::testing::deliveryWaitNs(pair.sender.pc) +
                                   zuengine::testing::deliveryWaitNs(pair.receiver.pc);
        const int base = bench.replies;
        const int64_t t0 = monotonicNs();
        for (int i = 0; i < rounds && r.ok; ++i) {
            const int64_t s = monotonicNs();
            SendDataViaDataChannel(pair.sender.pc, chunk.data(), size);
            r.sendCallNs += monotonicNs() - s;
            std::unique_lock<std::mutex> lock(bench.mutex);
            r.ok = bench.cv.wait_for(lock, std::chrono::seconds(5), [&] { return bench.replies > base + i; });
            r.rttsMs.push_back((monotonicNs() - s) / 1e6);
        }
        r.totalNs = monotonicNs() - t0;
        r.deliveryWaitNs = zuengine::testing::deliveryWaitNs(pair.sender.pc) +
                           zuengine::testing::deliveryWaitNs(pair.receiver.pc) - waitBefore;
        std::sort(r.rttsMs.begin(), r.rttsMs.end());
        return r;
    };
    const int rounds = 3000;
    const Rounds full = stopAndWait(ZUWEBRTC_MAX_MESSAGE, rounds);
    const Rounds small = stopAndWait(1000, 1000);
    if (!full.ok || !small.ok) {
        std::printf("data channel: a reply was lost\n");
        return;
    }
    const double stopAndWaitRate = rounds * double(ZUWEBRTC_MAX_MESSAGE) / 1e6 / seconds(full.totalNs);
    const std::vector<double> &rtts = full.rttsMs;

    bench.echo = false;
    int base;
    {
        std::lock_guard<std::mutex> lock(bench.mutex);
        base = bench.received;
    }
    const int burst = 3000;
    const int64_t t0 = monotonicNs();
    for (int i = 0; i < burst; ++i)
        SendDataViaDataChannel(pair.sender.pc, chunk.data(), ZUWEBRTC_MAX_MESSAGE);
    {
        std::unique_lock<std::mutex> lock(bench.mutex);
        bench.cv.wait_for(lock, std::chrono::seconds(60), [&] { return bench.received >= base + burst; });
    }
    const int got = bench.received - base;
    const double raw = got * double(ZUWEBRTC_MAX_MESSAGE) / 1e6 / seconds(monotonicNs() - t0);
    std::printf(
        "data channel, stop-and-wait 17408 out / 1024 back: %.1f MB/s, round trip p50 %.2f ms, p99 %.2f ms\n",
        stopAndWaitRate, rtts[rtts.size() / 2], rtts[rtts.size() * 99 / 100]);
    // The reply is sent from the receiver's callback: a round holds two sends and two deliveries.
    const double roundUs = full.totalNs / 1e3 / rounds;
    const double sendUs = full.sendCallNs / 1e3 / rounds;
    const double deliveryUs = full.deliveryWaitNs / 1e3 / rounds;
    std::printf(
        "data channel, one round of %.0f us: the engine's send call %.0f us, its delivery hop %.0f us "
        "(both ways), the rest %.0f us (the reply's send call, GStreamer's SCTP, DTLS and ICE threads, the "
        "kernel)\n",
        roundUs, sendUs, deliveryUs, roundUs - sendUs - deliveryUs);
    // One SCTP packet each way: what the stack's threads cost without a message's bursts and acks.
    std::printf("data channel, stop-and-wait 1000 out / 1024 back: round trip p50 %.2f ms, p99 %.2f ms\n",
                small.rttsMs[small.rttsMs.size() / 2], small.rttsMs[small.rttsMs.size() * 99 / 100]);
    std::printf(
        "data channel, 17408-byte messages back to back:    %.1f MB/s (%d of %d arrived)  ratio %.2f\n", raw,
        got, burst, raw / stopAndWaitRate);
    RegisterOnDataFromDataChannelReady(pair.receiver.pc, nullptr, nullptr, nullptr, 0);
    RegisterOnDataFromDataChannelReady(pair.sender.pc, nullptr, nullptr, nullptr, 0);
    g_data = nullptr;
}

// ---------------------------------------------------------------- first frame and frame rate

void streamFigures(int width, int height, zuengine::VideoCodec codec) {
    zuengine::setOfferPreference(codec);
    ShareSyntheticPicture(width, height, 30);
    std::vector<double> firsts;
    double fps = 0;
    for (int run = 0; run < 3; ++run) {
        EnginePair pair;
        pair.start();
        if (!waitFor([&] { return pair.receiver.frames > 0; }, 20000)) {
            std::printf("%dx%d: no frame\n", width, height);
            return;
        }
        firsts.push_back((pair.receiver.firstFrameNs - pair.offerCreatedNs) / 1e6);
        if (run == 0) {
            sleepMs(500);
            const int f0 = pair.receiver.frames;
            const int64_t t0 = monotonicNs();
            sleepMs(10000);
            fps = (pair.receiver.frames - f0) / seconds(monotonicNs() - t0);
        }
        pair.closeReceiver();
        pair.closeSender();
        waitFor([] { return zuengine::testing::encodersRunning() == 0; }, 10000);
    }
    std::sort(firsts.begin(), firsts.end());
    std::printf(
        "%dx%d@30 %s: CreateOffer to first decoded frame %.0f ms (median of 3: %.0f / %.0f / %.0f), "
        "received %.1f fps over 10 s\n",
        width, height, zuengine::codecName(codec), firsts[1], firsts[0], firsts[1], firsts[2], fps);
    zuengine::setOfferPreference(zuengine::VideoCodec::H264);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "--viewer") == 0)
        return runViewer(std::atoi(argv[2]));
    if (!std::getenv("ZU_TEST_NETNS")) {
        std::fprintf(stderr,
                     "run me inside a private namespace: unshare --net --fork -- "
                     "tests/support/in-netns.sh %s\n",
                     argv[0]);
        return 2;
    }
    std::printf("media engine figures (%ld cores online, shared; synthetic moving picture)\n",
                sysconf(_SC_NPROCESSORS_ONLN));
    if (argc == 2 && std::strcmp(argv[1], "--data") == 0) {
        dataFigures();
        return 0;
    }
    streamFigures(1280, 720, zuengine::VideoCodec::H264);
    streamFigures(1920, 1080, zuengine::VideoCodec::H264);
    streamFigures(1280, 720, zuengine::VideoCodec::VP8);

    ShareSyntheticPicture(1280, 720, 30);
    zuengine::setOfferPreference(zuengine::VideoCodec::H264);
    std::map<int, double> cpu, fps;
    for (int n : {1, 3, 5}) {
        double c = 0, f = 0;
        if (!hostCpu(argv[0], n, c, f)) {
            std::printf("host CPU with %d viewers: viewers did not all receive\n", n);
            continue;
        }
        cpu[n] = c;
        fps[n] = f;
    }
    for (auto &e : cpu)
        std::printf(
            "host CPU, 1280x720@30 H264, %d viewer(s) in own processes: %.3f s/s  (slowest viewer %.1f fps)  "
            "ratio to 1 viewer %.2f\n",
            e.first, e.second, fps[e.first], cpu.count(1) ? e.second / cpu[1] : 0.0);
    std::printf("encoders made in this run: %d\n", zuengine::testing::encodersCreated());
    dataFigures();
    return 0;
}
