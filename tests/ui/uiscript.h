#pragma once

#include <QApplication>
#include <QDialog>
#include <QList>
#include <QObject>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <functional>

// Drives an interface through its nested modal loops: the steps run one after the other from a
// timer, which keeps firing inside every dialog's exec(). A step returns true when it is done;
// actions that open a modal dialog go through later(), so that no step blocks the driver.
class UiScript : public QObject {
public:
    explicit UiScript(int timeoutMs = 60000) : timeoutMs_(timeoutMs) {
        timer_.setInterval(30);
        connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    }

    void add(const QString &name, std::function<bool()> step) { steps_.append({name, std::move(step)}); }
    // Runs the action from the event loop, outside the step that asked for it.
    static void later(std::function<void()> action) { QTimer::singleShot(0, qApp, std::move(action)); }

    void start() {
        clock_.start();
        stepClock_.start();
        timer_.start();
    }
    bool finished() const { return index_ >= steps_.size() || !failure_.isEmpty(); }
    bool succeeded() const { return index_ >= steps_.size() && failure_.isEmpty(); }
    QString failure() const { return failure_; }
    QString current() const { return index_ < steps_.size() ? steps_[index_].name : QStringLiteral("done"); }
    // Milliseconds since the current step began.
    qint64 stepElapsed() const { return stepClock_.elapsed(); }
    void fail(const QString &why) {
        if (failure_.isEmpty())
            failure_ = current() + QStringLiteral(": ") + why;
        // The test function waits under every modal loop still running; end them all.
        closeModals();
    }

    static void closeModals() {
        QTimer::singleShot(0, qApp, [] {
            if (QWidget *popup = QApplication::activePopupWidget())
                popup->close();
            bool any = false;
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *d = qobject_cast<QDialog *>(w)) {
                    if (d->isVisible() && d->isModal()) {
                        d->reject();
                        any = true;
                    }
                }
            }
            if (any || QApplication::activePopupWidget())
                closeModals();
        });
    }

private:
    void tick() {
        if (busy_ || finished())
            return;
        if (clock_.elapsed() > timeoutMs_ + 0 && stepClock_.elapsed() > timeoutMs_) {
            fail(QStringLiteral("timed out"));
            timer_.stop();
            return;
        }
        busy_ = true;
        const bool done = steps_[index_].step();
        busy_ = false;
        if (done && failure_.isEmpty()) {
            // Where the time of a long run went.
            qInfo("step %d \"%s\": %lld ms", index_, qPrintable(steps_[index_].name), stepClock_.elapsed());
            ++index_;
            stepClock_.restart();
        }
        if (finished())
            timer_.stop();
    }

    struct Step {
        QString name;
        std::function<bool()> step;
    };
    QList<Step> steps_;
    int index_ = 0;
    QTimer timer_;
    QElapsedTimer clock_;
    QElapsedTimer stepClock_;
    QString failure_;
    bool busy_ = false;
    int timeoutMs_;
};

namespace uitest {

// The visible modal dialog of the given type, if one is up now.
template <class T>
T *modal() {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *t = qobject_cast<T *>(w)) {
            if (t->isVisible() && t->isModal())
                return t;
        }
    }
    return nullptr;
}

template <class T>
T *child(QObject *parent, const char *name) {
    return parent->findChild<T *>(QLatin1String(name));
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

// A button whose confirmation dialog (of type D, with "btn_cancel" and "btn_ok") is first cancelled,
// checked by cancelled() while nothing should have happened, then confirmed.
template <class D>
void addCancelThenConfirm(UiScript &script, const QString &name, std::function<QPushButton *()> button,
                          std::function<void()> cancelled) {
    auto clickLater = [button] {
        QPushButton *b = button();
        UiScript::later([b] { QTest::mouseClick(b, Qt::LeftButton); });
    };
    auto answer = [](const char *which) {
        return [which] {
            D *d = modal<D>();
            if (!d)
                return false;
            UiScript::later([d, which] { QTest::mouseClick(child<QPushButton>(d, which), Qt::LeftButton); });
            return true;
        };
    };
    script.add(name + QStringLiteral(", cancelled the first time"), [clickLater] {
        clickLater();
        return true;
    });
    script.add(QStringLiteral("cancel"), answer("btn_cancel"));
    script.add(QStringLiteral("nothing happened"), [clickLater, cancelled] {
        if (modal<D>())
            return false;
        cancelled();
        clickLater();
        return true;
    });
    script.add(QStringLiteral("confirm"), answer("btn_ok"));
}

}  // namespace uitest
