#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class VideoFrameInterface;
class VideoWidgetInterface;

// One source in the source dialog: a live thumbnail with the source's title above it.
class AppWindowWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 208;
    static constexpr int kHeight = 160;

    explicit AppWindowWidget(QWidget *parent = nullptr);
    ~AppWindowWidget() override;

    void setTitle(const QString &title);
    QString title() const { return title_; }
    void setFrame(std::shared_ptr<VideoFrameInterface> frame);
    void setSelected(bool on);
    bool isSelected() const { return selected_; }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *label_window_name;
    QWidget *app_window_area;
    std::shared_ptr<VideoWidgetInterface> view_;
    std::shared_ptr<VideoFrameInterface> frame_;
    QString title_;
    bool selected_ = false;
};
