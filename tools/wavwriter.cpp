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
    std::lock_guard<std::mutex> lock(m_mutex);
    m_file.setFileName(path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void WavWriter::write(const int16_t *samples, int frames, int channels, int rate) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file.isOpen() || frames <= 0 || channels <= 0 || rate <= 0)
        return;
    if (m_channels == 0) {
        m_channels = channels;
        m_rate = rate;
        writeHeader();
    }
    if (channels != m_channels || rate != m_rate)
        return;  // one format a file
    m_file.seek(44 + m_frames * 2 * m_channels);
    m_file.write(reinterpret_cast<const char *>(samples), qint64(frames) * channels * 2);
    m_frames += frames;
    writeHeader();
}

qint64 WavWriter::framesWritten() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

void WavWriter::writeHeader() {
    const quint32 data = quint32(m_frames * 2 * m_channels);
    char h[44];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + data);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);  // PCM
    put16(h + 22, quint16(m_channels));
    put32(h + 24, quint32(m_rate));
    put32(h + 28, quint32(m_rate * m_channels * 2));
    put16(h + 32, quint16(m_channels * 2));
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, data);
    m_file.seek(0);
    m_file.write(h, sizeof h);
    m_file.flush();
}
