#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class FramelessWidgetHelper;
class MobilePhoneToolWidget;
class VideoWidgetInterface;

// The window that shows a member's projected (mobile) screen, sized to the picture's proportions.
class MobilePhoneScreenWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMinimumWidth = 400;
    static constexpr int kSizeStep = 80;

    explicit MobilePhoneScreenWidget(QWidget *parent = nullptr);
    ~MobilePhoneScreenWidget() override;

    // The sink of the member's video, for the host session manager.
    std::shared_ptr<VideoWidgetInterface> videoWidget() const { return view_; }
    void setName(const QString &name);

    QWidget *titleArea() const { return title_area; }
    MobilePhoneToolWidget *toolWidget() const { return tool_.get(); }

signals:
    void sigClosed();

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private slots:
    void onCloseClicked();
    void onZoomBtnClicked();
    void onEnlargeBtnClicked();
    void onNarrowBtnClicked();
    void onFrameSizeChanged(float ratio);

private:
    QWidget *buildTitle();
    QWidget *buildView();
    void adapt(int widghtOff);

    QWidget *title_area;
    QLabel *label_text;
    QPushButton *btn_close;
    QWidget *main_area;
    std::shared_ptr<VideoWidgetInterface> view_;
    std::shared_ptr<FramelessWidgetHelper> helper_;
    std::shared_ptr<MobilePhoneToolWidget> tool_;
    float ratio_ = 0.7f;
};
