#include "stdinlines.h"

#include <unistd.h>

StdinLines::StdinLines(QObject *parent) : QObject(parent), m_notifier(0, QSocketNotifier::Read) {
    connect(&m_notifier, &QSocketNotifier::activated, this, &StdinLines::onReadable);
}

void StdinLines::onReadable() {
    char chunk[256];
    const ssize_t got = ::read(0, chunk, sizeof chunk);
    if (got <= 0) {
        m_notifier.setEnabled(false);  // the input has ended; whatever waits for it waits on
        return;
    }
    m_input.append(chunk, int(got));
    for (int end = m_input.indexOf('\n'); end >= 0; end = m_input.indexOf('\n')) {
        const QByteArray text = m_input.left(end).trimmed();
        m_input.remove(0, end + 1);
        emit line(text);
    }
    if (m_input.size() > 1024) {
        m_input.clear();
    }
}
