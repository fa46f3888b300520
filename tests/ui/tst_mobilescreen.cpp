// The phone's picture window: 400 wide, as high as the picture asks plus a 40-pixel title, on the screen.
#include "support/pinlibraries.h"
#include "ui/mobilephonescreenwidget.h"
#include "ui/mobilephonetoolwidget.h"
#include "uiscript.h"
#include "video/argbframe.h"
#include "video/videowidgetinterface.h"

class TestMobileScreen : public QObject {
    Q_OBJECT

    std::unique_ptr<MobilePhoneScreenWidget> w_;
    QRect avail_;

    void invoke(const char *slot) { QMetaObject::invokeMethod(w_.get(), slot, Qt::DirectConnection); }

private slots:
    void initTestCase() { uitest::watchStyleSheets(); }
    void cleanupTestCase() {
        pinLoadedLibraries();
        QCOMPARE(uitest::styleSheetFailures.loadAcquire(), 0);
    }
    void init() {
        w_ = std::make_unique<MobilePhoneScreenWidget>();
        w_->move(100, 50);
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get(), 20000));
        avail_ = w_->screen()->availableGeometry();
    }
    void cleanup() { w_.reset(); }

    // A picture, a width (< 0: from the screen's), a button or a new ratio; no size: it must not change.
    void sizes_data() {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("step");
        QTest::addColumn<QSize>("expected");
        using QTest::newRow;
        newRow("small ratio change") << QSize(300, 600) << 400 << "0.505" << QSize();
        newRow("enlarge") << QSize(400, 400) << 400 << "onEnlargeBtnClicked" << QSize(480, 520);
        newRow("shrink") << QSize(400, 400) << 480 << "onNarrowBtnClicked" << QSize(400, 440);
        newRow("below the minimum width") << QSize(400, 400) << 400 << "onNarrowBtnClicked" << QSize();
        newRow("too high for the screen") << QSize(200, 500) << 400 << "onEnlargeBtnClicked" << QSize();
        newRow("at the screen's width") << QSize(400, 100) << -40 << "onEnlargeBtnClicked" << QSize();
    }
    void sizes() {
        QFETCH(QSize, frame);
        QFETCH(int, width);
        QFETCH(QString, step);
        QFETCH(QSize, expected);
        QTRY_VERIFY(w_->videoWidget()->renderFrame(ARGBFrame::create(frame.width(), frame.height())));
        QTRY_COMPARE(w_->size(),
                     QSize(400, qMin(400 * frame.height() / frame.width() + 40, avail_.height())));
        w_->resize(width > 0 ? width : avail_.width() + width, w_->height());
        QTRY_COMPARE(w_->width(), width > 0 ? width : avail_.width() + width);
        const QSize before = w_->size();
        if (step.startsWith("on"))
            invoke(qPrintable(step));
        else
            QMetaObject::invokeMethod(w_.get(), "onFrameSizeChanged", Q_ARG(float, step.toFloat()));
        if (expected.isEmpty())
            QTest::qWait(200);  // nothing to wait for
        QTRY_COMPARE(w_->size(), expected.isEmpty() ? before : expected);
        QVERIFY(expected.isEmpty() || avail_.contains(w_->geometry()));
    }

    // The overlay follows the mouse; full screen hides the title, ignores the size buttons; close, show
    // again.
    void overlayFullScreenAndClose() {
        for (QEvent::Type type : {QEvent::Enter, QEvent::Leave}) {
            QEvent event(type);
            QApplication::sendEvent(w_.get(), &event);
            QCOMPARE(w_->toolWidget()->isHidden(), type == QEvent::Leave);
        }
        invoke("onZoomBtnClicked");
        QTRY_VERIFY(w_->isFullScreen() && w_->titleArea()->isHidden() &&
                    w_->size() == w_->screen()->geometry().size() && w_->toolWidget()->showsNarrowIcon());
        invoke("onEnlargeBtnClicked");
        QTest::qWait(200);
        QCOMPARE(w_->size(), w_->screen()->geometry().size());
        invoke("onZoomBtnClicked");
        QTRY_VERIFY(!w_->isFullScreen() && !w_->titleArea()->isHidden() &&
                    !w_->toolWidget()->showsNarrowIcon());
        QSignalSpy closed(w_.get(), &MobilePhoneScreenWidget::sigClosed);
        QTest::mouseClick(w_->findChild<QPushButton *>("btn_close"), Qt::LeftButton);
        QTRY_VERIFY(closed.count() == 1 && !w_->isVisible());
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get(), 20000));
        QTRY_VERIFY(w_->videoWidget()->renderFrame(ARGBFrame::create(300, 600)));
        QTRY_COMPARE(w_->height(), qMin(840, avail_.height()));
    }
};

QTEST_MAIN(TestMobileScreen)
#include "tst_mobilescreen.moc"
