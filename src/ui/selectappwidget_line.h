#pragma once

#include <QList>
#include <QWidget>

class AppWindowWidget;

// One row of the source dialog: up to four thumbnails side by side.
class SelectAppWidget_Line : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaxApps = 4;

    explicit SelectAppWidget_Line(QWidget *parent = nullptr);

    AppWindowWidget *addApp(const QString &title);
    int appCount() const { return apps_.size(); }

private:
    QWidget *areas_[kMaxApps];
    QList<AppWindowWidget *> apps_;
};
