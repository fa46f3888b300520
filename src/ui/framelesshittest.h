#pragma once

#include <QMargins>
#include <QPoint>
#include <QSize>
#include <Qt>

#include <functional>

// What a point of a frameless window stands for, as the system frame would answer it.
namespace frameless {

enum class Hit { Client, Caption, Left, Top, Right, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };

// p is in window coordinates, size the window's size; margins are the resize band widths (0 = no band);
// isTitleArea decides, inside the title band, whether a point drags the window.
Hit hitTest(QPoint p, QSize size, QMargins margins, int titleHeight,
            const std::function<bool(int, int)> &isTitleArea);

bool isResizeHit(Hit hit);
Qt::Edges edgesOf(Hit hit);
Qt::CursorShape cursorOf(Hit hit);

}  // namespace frameless
