#include "stdinlines.h"

#include <unistd.h>

StdinLines::StdinLines(QObject *parent) : QObject(parent), notifier_(0, QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, &StdinLines::onReadable);
}

void StdinLines::onReadable() {
    char chunk[256];
    const ssize_t got = ::read(0, chunk, sizeof chunk);
    if (got <= 0) {
        notifier_.setEnabled(false);  // the input has ended; whatever waits for it waits on
        return;
    }
    input_.append(chunk, int(got));
    for (int end = input_.indexOf('\n'); end >= 0; end = input_.indexOf('\n')) {
        const QByteArray text = input_.left(end).trimmed();
        input_.remove(0, end + 1);
        emit line(text);
    }
    if (input_.size() > 1024) {
        input_.clear();
    }
}
