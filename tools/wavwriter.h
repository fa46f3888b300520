#pragma once

#include <QFile>
#include <QString>
#include <cstdint>
#include <mutex>

// Received sound into a 16-bit PCM WAV file; its sizes are filled in as it grows, so the file is
// readable even when the tool is killed. Any thread.
class WavWriter {
public:
    bool open(const QString &path);
    void write(const int16_t *samples, int frames, int channels, int rate);
    qint64 framesWritten() const;

private:
    void writeHeader();

    mutable std::mutex mutex_;
    QFile file_;
    int channels_ = 0, rate_ = 0;
    qint64 frames_ = 0;
};
