#pragma once

#include <QtTest>
#include <QtWidgets>

#include <functional>

// Drives an interface through its nested modal loops: the steps run one after the other from a
// timer, which keeps firing inside every dialog's exec(). A step returns true when it is done;
// actions that open a modal dialog go through later(), so that no step blocks the driver.
class UiScript : public QObject {
public:
    explicit UiScript(int stepTimeoutMs = 60000) : timeoutMs_(stepTimeoutMs) {
        timer_.setInterval(30);
        connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    }
    void add(const QString &name, std::function<bool()> step) { steps_.append({name, std::move(step)}); }
    static void later(std::function<void()> action) { QTimer::singleShot(0, qApp, std::move(action)); }
    // A step that clicks a widget from the event loop (the click may open a modal dialog).
    static std::function<bool()> clicking(std::function<QWidget *()> widget) {
        return [widget] {
            later([widget] { QTest::mouseClick(widget(), Qt::LeftButton); });
            return true;
        };
    }
    void start() {
        clock_.start();
        timer_.start();
    }
    bool finished() const { return index_ >= steps_.size() || !failure_.isEmpty(); }
    bool succeeded() const { return index_ >= steps_.size() && failure_.isEmpty(); }
    QString failure() const { return failure_; }
    qint64 stepElapsed() const { return clock_.elapsed(); }
    void fail(const QString &why) {
        if (failure_.isEmpty())
            failure_ = (index_ < steps_.size() ? steps_[index_].first : QString()) + ": " + why;
        closeModals();  // the test function waits under every modal loop still running
    }
    static void closeModals() {
        QTimer::singleShot(0, qApp, [] {
            QWidget *any = QApplication::activePopupWidget();
            if (any)
                any->close();
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *d = qobject_cast<QDialog *>(w); d && d->isVisible() && d->isModal())
                    d->reject(), any = d;
            }
            if (any)
                closeModals();
        });
    }

private:
    void tick() {
        if (busy_ || finished())
            return;
        if (clock_.elapsed() > timeoutMs_)
            fail("timed out");
        busy_ = true;
        const bool done = failure_.isEmpty() && steps_[index_].second();
        busy_ = false;
        if (done && failure_.isEmpty()) {
            qInfo("step %d \"%s\": %lld ms", index_, qPrintable(steps_[index_].first), clock_.elapsed());
            ++index_;
            clock_.restart();
        }
        if (finished())
            timer_.stop();
    }

    QList<QPair<QString, std::function<bool()>>> steps_;
    int index_ = 0;
    QTimer timer_;
    QElapsedTimer clock_;
    QString failure_;
    bool busy_ = false;
    int timeoutMs_;
};

// Runs the script's steps and fails the test function with the first step that failed.
#define UI_RUN(script, timeoutMs)                                       \
    do {                                                                \
        (script).start();                                               \
        QTRY_VERIFY_WITH_TIMEOUT((script).finished(), timeoutMs);       \
        QVERIFY2((script).succeeded(), qPrintable((script).failure())); \
    } while (false)

namespace uitest {

// The visible top-level widget of the given type (only a modal one if asked).
template <class T>
T *visible(bool modalOnly = false) {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *t = qobject_cast<T *>(w);
        if (t && t->isVisible() && (!modalOnly || t->isModal()))
            return t;
    }
    return nullptr;
}
template <class T>
T *modal() {
    return visible<T>(true);
}

template <class T>
T *child(QObject *parent, const char *name) {
    return parent->findChild<T *>(QLatin1String(name));
}

// Clicks the named button of the open modal dialog D from the event loop; false while none is up.
template <class D>
bool answer(const char *button) {
    D *d = modal<D>();
    if (d)
        UiScript::later([d, button] { QTest::mouseClick(child<QPushButton>(d, button), Qt::LeftButton); });
    return d != nullptr;
}

// Takes the label texts of the open modal dialog D and closes it; false while none is up.
template <class D>
bool takeTexts(QString &texts) {
    D *d = modal<D>();
    for (QLabel *label : d ? d->template findChildren<QLabel *>() : QList<QLabel *>())
        texts += label->text() + '\n';
    if (d)
        UiScript::later([d] { d->accept(); });
    return d != nullptr;
}

// Types text as key presses; characters without a key of their own arrive as an input method
// would deliver them (QTest's key table knows only Latin-1).
inline void typeText(QWidget *widget, const QString &text) {
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(widget, ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

// Counts Qt's complaints about style sheets it cannot parse (a broken sheet silently drops pictures).
inline QAtomicInt styleSheetFailures;
inline void watchStyleSheets() {
    static const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &msg) {
            if (msg.contains(QLatin1String("Could not parse stylesheet")))
                styleSheetFailures.ref();
            if (previous)
                previous(type, context, msg);
        });
}

}  // namespace uitest
