#include "ui/framelesshittest.h"

namespace frameless {

Hit hitTest(QPoint p, QSize size, QMargins m, int titleHeight,
            const std::function<bool(int, int)> &isTitleArea) {
    const int x = p.x();
    const int y = p.y();
    const int w = size.width();
    const int h = size.height();
    const bool left = m.left() > 0 && x >= 0 && x <= m.left();
    const bool top = m.top() > 0 && y >= 0 && y <= m.top();
    const bool right = m.right() > 0 && x >= w - m.right() && x <= w;
    const bool bottom = m.bottom() > 0 && y >= h - m.bottom() && y <= h;

    // A window shorter than its two bands has points on both; the top band wins there.
    if (bottom && top && left)
        return Hit::TopLeft;
    if (bottom && left)
        return Hit::BottomLeft;
    if (bottom && right && top)
        return Hit::TopRight;
    if (bottom && right)
        return Hit::BottomRight;
    if (bottom && top)
        return Hit::Top;
    if (bottom)
        return Hit::Bottom;
    if (top && left)
        return Hit::TopLeft;
    if (top && right)
        return Hit::TopRight;
    if (left)
        return Hit::Left;
    if (top)
        return Hit::Top;
    if (right)
        return Hit::Right;
    if (y < 1 || y >= titleHeight)
        return Hit::Client;
    if (isTitleArea && isTitleArea(x, y))
        return Hit::Caption;
    return Hit::Client;
}

bool isResizeHit(Hit hit) {
    return hit != Hit::Client && hit != Hit::Caption;
}

Qt::Edges edgesOf(Hit hit) {
    switch (hit) {
        case Hit::Left:
            return Qt::LeftEdge;
        case Hit::Top:
            return Qt::TopEdge;
        case Hit::Right:
            return Qt::RightEdge;
        case Hit::Bottom:
            return Qt::BottomEdge;
        case Hit::TopLeft:
            return Qt::TopEdge | Qt::LeftEdge;
        case Hit::TopRight:
            return Qt::TopEdge | Qt::RightEdge;
        case Hit::BottomLeft:
            return Qt::BottomEdge | Qt::LeftEdge;
        case Hit::BottomRight:
            return Qt::BottomEdge | Qt::RightEdge;
        default:
            return {};
    }
}

Qt::CursorShape cursorOf(Hit hit) {
    switch (hit) {
        case Hit::Left:
        case Hit::Right:
            return Qt::SizeHorCursor;
        case Hit::Top:
        case Hit::Bottom:
            return Qt::SizeVerCursor;
        case Hit::TopLeft:
        case Hit::BottomRight:
            return Qt::SizeFDiagCursor;
        case Hit::TopRight:
        case Hit::BottomLeft:
            return Qt::SizeBDiagCursor;
        default:
            return Qt::ArrowCursor;
    }
}

}  // namespace frameless
