#pragma once

#include <QtTest>
#include <QtWidgets>

#include "ui/uilanguage.h"

namespace uitest {

// The guide's pictures are taken in both languages: ZU_SCREENSHOT_LANGUAGE=en gives the English ones.
inline void applyScreenshotLanguage() {
    UiLanguage::Language language = UiLanguage::Language::Chinese;
    UiLanguage::fromCode(qEnvironmentVariable("ZU_SCREENSHOT_LANGUAGE"), &language);
    UiLanguage::apply(language);
}

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
// Runs an action from the event loop, so that one opening a modal dialog blocks nobody.
inline void later(std::function<void()> action) {
    QTimer::singleShot(0, qApp, std::move(action));
}
// Clicks the named button of the open modal dialog D from the event loop; false while none is up.
template <class D>
bool answer(const char *button) {
    D *d = modal<D>();
    if (d)
        later([d, b = QByteArray(button)] { QTest::mouseClick(child<QPushButton>(d, b), Qt::LeftButton); });
    return d != nullptr;
}
// Takes the label texts of the open modal dialog D and closes it; false while none is up.
template <class D>
bool takeTexts(QString &texts) {
    D *d = modal<D>();
    for (QLabel *label : d ? d->template findChildren<QLabel *>() : QList<QLabel *>())
        texts += label->text() + '\n';
    if (d)
        later([d] { d->accept(); });
    return d != nullptr;
}

// Types text one character at a time, the way an input method delivers it.
inline void typeText(QWidget *widget, const QString &text) {
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
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

// Runs steps (each true when done) from a timer that keeps firing inside every dialog's exec(); actions
// that open a modal dialog go through uitest::later(), so no step blocks.
class UiScript : public QObject {
public:
    explicit UiScript(int stepTimeoutMs = 60000) : timeoutMs_(stepTimeoutMs) {
        connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
        timer_.start(30);
        clock_.start();
    }
    void add(const QString &name, std::function<bool()> step) { steps_.append({name, std::move(step)}); }
    static std::function<bool()> clicking(QWidget *widget) {
        return [widget] {
            uitest::later([widget] { QTest::mouseClick(widget, Qt::LeftButton); });
            return true;
        };
    }
    bool finished() const { return index_ >= steps_.size() || !failure_.isEmpty(); }
    QString failure() const { return failure_; }
    qint64 stepElapsed() const { return clock_.elapsed(); }
    void fail(const QString &why) {
        if (failure_.isEmpty())
            failure_ = (index_ < steps_.size() ? steps_[index_].first : QString()) + ": " + why;
        closeModals();  // the test function waits under every modal loop still running
    }
    static void closeModals() {
        uitest::later([] {
            QWidget *open = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                              : uitest::modal<QDialog>();
            if (open && open->close())  // a dialog's close rejects it
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
        if (failure_.isEmpty() && steps_[index_].second() && failure_.isEmpty()) {
            ++index_;
            clock_.restart();
        }
        busy_ = false;
    }

    QList<QPair<QString, std::function<bool()>>> steps_;
    int index_ = 0, timeoutMs_;
    QTimer timer_;
    QElapsedTimer clock_;
    QString failure_;
    bool busy_ = false;
};

// Waits until the script's steps have run and fails the test function with the first step that failed.
#define UI_RUN(script, timeoutMs)                                               \
    do {                                                                        \
        QTRY_VERIFY_WITH_TIMEOUT((script).finished(), timeoutMs);               \
        QVERIFY2((script).failure().isEmpty(), qPrintable((script).failure())); \
    } while (false)
