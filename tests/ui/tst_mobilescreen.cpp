#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "stylesheetwatch.h"
#include "support/pinlibraries.h"
#include "ui/mobilephonescreenwidget.h"
#include "ui/mobilephonetoolwidget.h"
#include "video/argbframe.h"
#include "video/videowidgetinterface.h"

namespace {

void frameRatio(MobilePhoneScreenWidget &w, float ratio) {
    QMetaObject::invokeMethod(&w, "onFrameSizeChanged", Qt::DirectConnection, Q_ARG(float, ratio));
}

void invoke(MobilePhoneScreenWidget &w, const char *slot) {
    QMetaObject::invokeMethod(&w, slot, Qt::DirectConnection);
}

}  // namespace

class TestMobileScreen : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<MobilePhoneScreenWidget> w_;
    QRect avail_;

private slots:
    void cleanupTestCase() {
        pinLoadedLibraries();
        QCOMPARE(stylesheetwatch::failures().loadAcquire(), 0);
    }
    void initTestCase() { stylesheetwatch::install(); }
    void init() {
        w_ = std::make_unique<MobilePhoneScreenWidget>();
        w_->setName(QStringLiteral("小米"));
        w_->move(100, 50);
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get(), 20000));
        avail_ = w_->screen()->availableGeometry();
        QCOMPARE(w_->titleArea()->height(), 40);
        QCOMPARE(w_->width(), 400);
    }

    void cleanup() { w_.reset(); }

    void construction() {
        QCOMPARE(w_->findChild<QLabel *>("label_text")->text(), QStringLiteral("小米 投屏中"));
        QCOMPARE(w_->windowTitle(), QStringLiteral("小米 投屏中"));
        QCOMPARE(w_->minimumWidth(), 400);
        QVERIFY(w_->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!w_->windowIcon().isNull());
        QVERIFY(w_->toolWidget()->isHidden());
        QCOMPARE(w_->toolWidget()->height(), 80);
        QVERIFY(w_->videoWidget() != nullptr);
    }

    void firstPictureSetsTheHeight() {
        frameRatio(*w_, 0.5f);
        const int expected = qMin(840, avail_.height());
        QTRY_COMPARE(w_->height(), expected);
        QCOMPARE(w_->width(), 400);
    }

    void smallRatioChangeDoesNotResize() {
        frameRatio(*w_, 0.5f);
        QTRY_COMPARE(w_->height(), qMin(840, avail_.height()));
        frameRatio(*w_, 0.505f);
        QTest::qWait(200);
        QCOMPARE(w_->ratio(), 0.5f);
        QCOMPARE(w_->height(), qMin(840, avail_.height()));
    }

    void realFrameResizesTheWindow() {
        // A 300 x 600 picture through the view itself: ratio 0.5.
        auto frame = ARGBFrame::create(300, 600);
        QVERIFY(frame);
        std::shared_ptr<VideoFrameInterface> held = frame;
        QTRY_VERIFY(w_->videoWidget()->renderFrame(held));
        QTRY_COMPARE(w_->ratio(), 0.5f);
        QTRY_COMPARE(w_->height(), qMin(840, avail_.height()));
    }

    void enlargeAndShrinkKeepTheRatio() {
        frameRatio(*w_, 1.0f);
        QTRY_COMPARE(w_->height(), 440);
        invoke(*w_, "onEnlargeBtnClicked");
        QTRY_COMPARE(w_->size(), QSize(480, 520));
        invoke(*w_, "onNarrowBtnClicked");
        QTRY_COMPARE(w_->size(), QSize(400, 440));
        // Below the minimum width: refused.
        invoke(*w_, "onNarrowBtnClicked");
        QTest::qWait(200);
        QCOMPARE(w_->size(), QSize(400, 440));
    }

    void enlargeBeyondTheScreenIsRefused() {
        // At ratio 0.4 a 480-pixel width would need 1240 pixels of height.
        frameRatio(*w_, 0.4f);
        QTRY_COMPARE(w_->height(), qMin(1040, avail_.height()));
        const QSize before = w_->size();
        invoke(*w_, "onEnlargeBtnClicked");
        QTest::qWait(200);
        QCOMPARE(w_->size(), before);
    }

    void enlargeAtScreenWidthIsRefused() {
        frameRatio(*w_, 4.0f);
        QTRY_COMPARE(w_->height(), 140);
        w_->resize(avail_.width() - 40, 140);
        QTRY_COMPARE(w_->width(), avail_.width() - 40);
        invoke(*w_, "onEnlargeBtnClicked");
        QTest::qWait(200);
        QCOMPARE(w_->width(), avail_.width() - 40);
    }

    void enlargeStaysOnTheScreen() {
        frameRatio(*w_, 1.0f);
        QTRY_COMPARE(w_->height(), 440);
        invoke(*w_, "onEnlargeBtnClicked");
        QTRY_COMPARE(w_->width(), 480);
        const QRect g = w_->geometry();
        QVERIFY(g.left() >= avail_.left());
        QVERIFY(g.top() >= avail_.top());
        QVERIFY(g.right() <= avail_.right());
    }

    void fullScreenHidesTitleAndSizeButtons() {
        frameRatio(*w_, 1.0f);
        QTRY_COMPARE(w_->height(), 440);
        invoke(*w_, "onZoomBtnClicked");
        QTRY_VERIFY(w_->isFullScreen());
        QTRY_VERIFY(w_->titleArea()->isHidden());
        QVERIFY(w_->toolWidget()->showsNarrowIcon());
        QTRY_COMPARE(w_->size(), w_->screen()->geometry().size());
        const QSize full = w_->size();
        invoke(*w_, "onEnlargeBtnClicked");
        invoke(*w_, "onNarrowBtnClicked");
        QTest::qWait(200);
        QCOMPARE(w_->size(), full);
        invoke(*w_, "onZoomBtnClicked");
        QTRY_VERIFY(!w_->isFullScreen());
        QTRY_VERIFY(!w_->titleArea()->isHidden());
        QVERIFY(!w_->toolWidget()->showsNarrowIcon());
    }

    void overlayFollowsTheMouse() {
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(w_.get(), &enter);
        QVERIFY(!w_->toolWidget()->isHidden());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w_.get(), &leave);
        QVERIFY(w_->toolWidget()->isHidden());
    }

    void closeHidesAndTheWindowComesBack() {
        QSignalSpy closed(w_.get(), &MobilePhoneScreenWidget::sigClosed);
        QTest::mouseClick(w_->findChild<QPushButton *>("btn_close"), Qt::LeftButton);
        QVERIFY(w_->isVisible());
        QTRY_COMPARE(closed.count(), 1);
        QVERIFY(!w_->isVisible());
        w_->setName(QStringLiteral("again"));
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get(), 20000));
        QCOMPARE(w_->windowTitle(), QStringLiteral("again 投屏中"));
        frameRatio(*w_, 1.0f);
        QTRY_COMPARE(w_->height(), 440);
    }
};

QTEST_MAIN(TestMobileScreen)
#include "tst_mobilescreen.moc"
