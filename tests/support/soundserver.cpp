#include "support/soundserver.h"

#include <QFile>
#include <QStandardPaths>

#include "support/testsupport.h"

namespace testsupport {

namespace {

// Whether a short program ran to a good end (it may have ended before it was waited for).
bool succeeded(QProcess *program) {
    if (program->state() != QProcess::NotRunning)
        program->waitForFinished(5000);
    return program->state() == QProcess::NotRunning && program->exitStatus() == QProcess::NormalExit &&
           program->exitCode() == 0;
}

}  // namespace

SoundServer::SoundServer() {
    m_up = bringUp();
}

SoundServer::~SoundServer() {
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
        (*it)->terminate();
        if (!(*it)->waitForFinished(3000))
            (*it)->kill();
        (*it)->waitForFinished(1000);
    }
}

QStringList SoundServer::environment() const {
    const QString runtime = m_dir.filePath("runtime");
    return {"XDG_RUNTIME_DIR=" + runtime, "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus",
            "PULSE_SERVER=unix:" + runtime + "/pulse/native", "XDG_CONFIG_HOME=" + m_dir.filePath("config"),
            "XDG_STATE_HOME=" + m_dir.filePath("state")};
}

QProcess *SoundServer::start(const QString &program, const QStringList &arguments, const QStringList &extra) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &e : environment() + extra)
        env.insert(e.section('=', 0, 0), e.section('=', 1));
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->setStandardInputFile(QProcess::nullDevice());  // pw-cli with open input waits for more commands
    p->setWorkingDirectory(m_dir.path());
    p->start(program, arguments);
    p->waitForStarted();
    m_processes.push_back(std::move(p));
    return m_processes.back().get();
}

void SoundServer::play(const QString &sink, int hz) {
    start("gst-launch-1.0", {"-q", "audiotestsrc", "is-live=true", "volume=0.5", QString("freq=%1").arg(hz),
                             "!", "pulsesink", "device=" + sink});
}

void SoundServer::record(const QString &sink, const QString &path) {
    start("gst-launch-1.0", {"-q", "pulsesrc", "device=" + sink + ".monitor", "!",
                             "audio/x-raw,format=S16LE,rate=48000,channels=2", "!", "filesink", "sync=false",
                             "buffer-mode=unbuffered", "location=" + path});
}

bool SoundServer::bringUp() {
    for (const char *program : {"dbus-daemon", "pipewire", "wireplumber", "pipewire-pulse", "pw-cli",
                                "pw-metadata", "gst-launch-1.0"}) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            m_error = QString("%1 is not installed (scripts/packages.txt)").arg(program);
            return false;
        }
    }
    const QString runtime = m_dir.filePath("runtime");
    // WirePlumber needs a session bus.
    m_error = startPipeWire(m_dir.path(), runtime, [this](const QString &program, const QStringList &args) {
        return start(program, args);
    });
    if (!m_error.isEmpty())
        return false;
    start("pipewire-pulse", {});
    if (!waitUntil([&] { return QFile::exists(runtime + "/pulse/native"); }, 5000)) {
        m_error = "PipeWire's PulseAudio service did not start";
        return false;
    }
    for (const char *sink : {"speakers", "attendee"}) {
        const QString props =
            QString(
                "{ factory.name=support.null-audio-sink node.name=%1 media.class=Audio/Sink "
                "audio.position=[FL FR] object.linger=true }")
                .arg(sink);
        QProcess *made = start("pw-cli", {"create-node", "adapter", props});
        if (!succeeded(made)) {
            m_error = QString("the null sink %1 was not made (exit %2): %3")
                          .arg(sink)
                          .arg(made->exitCode())
                          .arg(QString::fromUtf8(made->readAll()));
            return false;
        }
    }
    QProcess *chosen =
        start("pw-metadata", {"0", "default.configured.audio.sink", "{ \"name\": \"speakers\" }"});
    if (!succeeded(chosen)) {
        m_error = "the default output was not set";
        return false;
    }
    return true;
}

}  // namespace testsupport
