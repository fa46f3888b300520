// The phone's picture window: 400 wide at first, as high as the picture's ratio asks plus its
// 40-pixel title, unless the screen is lower; the size buttons keep the ratio and stay on the screen.
#include "support/pinlibraries.h"
#include "ui/mobilephonescreenwidget.h"
#include "ui/mobilephonetoolwidget.h"
#include "uiscript.h"
#include "video/argbframe.h"
#include "video/videowidgetinterface.h"

class TestMobileScreen : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<MobilePhoneScreenWidget> w_;
    QRect avail_;

    void frameRatio(float ratio) {
        QMetaObject::invokeMethod(w_.get(), "onFrameSizeChanged", Qt::DirectConnection, Q_ARG(float, ratio));
    }
    void invoke(const char *slot) { QMetaObject::invokeMethod(w_.get(), slot, Qt::DirectConnection); }

private slots:
    void initTestCase() { uitest::watchStyleSheets(); }
    void cleanupTestCase() {
        pinLoadedLibraries();
        QCOMPARE(uitest::styleSheetFailures.loadAcquire(), 0);
    }
    void init() {
        w_ = std::make_unique<MobilePhoneScreenWidget>();
        w_->setName(QStringLiteral("小米"));
        w_->move(100, 50);
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get(), 20000));
        avail_ = w_->screen()->availableGeometry();
        QCOMPARE(w_->width(), 400);
    }
    void cleanup() { w_.reset(); }

    void realFrameSetsTheHeight() {
        // A 300 x 600 picture through the view itself: ratio 0.5.
        auto frame = ARGBFrame::create(300, 600);
        QVERIFY(frame);
        std::shared_ptr<VideoFrameInterface> held = frame;
        QTRY_VERIFY(w_->videoWidget()->renderFrame(held));
        QTRY_COMPARE(w_->ratio(), 0.5f);
        QTRY_COMPARE(w_->height(), qMin(840, avail_.height()));
        QCOMPARE(w_->width(), 400);
        // A small change of ratio does not resize.
        frameRatio(0.505f);
        QTest::qWait(200);
        QCOMPARE(w_->ratio(), 0.5f);
        QCOMPARE(w_->height(), qMin(840, avail_.height()));
    }

    void enlargeAndShrinkKeepTheRatio() {
        frameRatio(1.0f);
        QTRY_COMPARE(w_->height(), 440);
        invoke("onEnlargeBtnClicked");
        QTRY_COMPARE(w_->size(), QSize(480, 520));
        const QRect g = w_->geometry();
        QVERIFY(avail_.contains(g));
        invoke("onNarrowBtnClicked");
        QTRY_COMPARE(w_->size(), QSize(400, 440));
    }

    // Each button that must not change the size here; nothing to wait for, so a pause.
    void refusedSizeChanges_data() {
        QTest::addColumn<float>("ratio");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("slot");
        QTest::newRow("below the minimum width") << 1.0f << 0 << "onNarrowBtnClicked";
        // At ratio 0.4 a 480-pixel width would need 1240 pixels of height.
        QTest::newRow("beyond the screen's height") << 0.4f << 0 << "onEnlargeBtnClicked";
        QTest::newRow("at the screen's width") << 4.0f << -40 << "onEnlargeBtnClicked";
    }
    void refusedSizeChanges() {
        QFETCH(float, ratio);
        QFETCH(int, width);
        QFETCH(QString, slot);
        frameRatio(ratio);
        QTRY_COMPARE(w_->height(), qMin(int(400 / ratio) + 40, avail_.height()));
        if (width < 0) {
            w_->resize(avail_.width() + width, w_->height());
            QTRY_COMPARE(w_->width(), avail_.width() + width);
        }
        const QSize before = w_->size();
        invoke(qPrintable(slot));
        QTest::qWait(200);
        QCOMPARE(w_->size(), before);
    }

    void fullScreenHidesTitleAndSizeButtons() {
        frameRatio(1.0f);
        QTRY_COMPARE(w_->height(), 440);
        invoke("onZoomBtnClicked");
        QTRY_VERIFY(w_->isFullScreen() && w_->titleArea()->isHidden());
        QVERIFY(w_->toolWidget()->showsNarrowIcon());
        QTRY_COMPARE(w_->size(), w_->screen()->geometry().size());
        invoke("onEnlargeBtnClicked");
        invoke("onNarrowBtnClicked");
        QTest::qWait(200);
        QCOMPARE(w_->size(), w_->screen()->geometry().size());
        invoke("onZoomBtnClicked");
        QTRY_VERIFY(!w_->isFullScreen() && !w_->titleArea()->isHidden());
        QVERIFY(!w_->toolWidget()->showsNarrowIcon());
    }

    void overlayFollowsTheMouse() {
        QVERIFY(w_->toolWidget()->isHidden());
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
        QTRY_COMPARE(closed.count(), 1);
        QVERIFY(!w_->isVisible());
        w_->setName(QStringLiteral("again"));
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get(), 20000));
        QVERIFY(w_->windowTitle().startsWith(QStringLiteral("again")));
        frameRatio(1.0f);
        QTRY_COMPARE(w_->height(), 440);
    }
};

QTEST_MAIN(TestMobileScreen)
#include "tst_mobilescreen.moc"
