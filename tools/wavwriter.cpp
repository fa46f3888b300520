#include "wavwriter.h"

#include <QtEndian>
#include <cstring>

namespace {

void put32(char *at, quint32 v) {
    qToLittleEndian<quint32>(v, at);
}

void put16(char *at, quint16 v) {
    qToLittleEndian<quint16>(v, at);
}

}  // namespace

bool WavWriter::open(const QString &path) {
    std::lock_guard<std::mutex> lock(mutex_);
    file_.setFileName(path);
    return file_.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void WavWriter::write(const int16_t *samples, int frames, int channels, int rate) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_.isOpen() || frames <= 0 || channels <= 0 || rate <= 0)
        return;
    if (channels_ == 0) {
        channels_ = channels;
        rate_ = rate;
        writeHeader();
    }
    if (channels != channels_ || rate != rate_)
        return;  // one format a file
    file_.seek(44 + frames_ * 2 * channels_);
    file_.write(reinterpret_cast<const char *>(samples), qint64(frames) * channels * 2);
    frames_ += frames;
    writeHeader();
}

qint64 WavWriter::framesWritten() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

void WavWriter::writeHeader() {
    const quint32 data = quint32(frames_ * 2 * channels_);
    char h[44];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + data);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);  // PCM
    put16(h + 22, quint16(channels_));
    put32(h + 24, quint32(rate_));
    put32(h + 28, quint32(rate_ * channels_ * 2));
    put16(h + 32, quint16(channels_ * 2));
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, data);
    file_.seek(0);
    file_.write(h, sizeof h);
    file_.flush();
}
