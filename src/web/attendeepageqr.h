#pragma once

#include <QImage>
#include <QString>

// The QR code of the attendee page's address, for the host page to show beside it.
class AttendeePageQr {
public:
    // A square picture of size by size pixels (at least the code's own modules and its quiet zone),
    // black modules on white; a null image when the text cannot be encoded.
    static QImage render(const QString &url, int size);

    // The code's modules, row by row, true for dark; width by width entries. Empty on failure.
    static QVector<bool> modules(const QString &url, int *width);

    // Modules of white border the picture keeps around the code.
    static constexpr int kQuietZone = 4;
};
