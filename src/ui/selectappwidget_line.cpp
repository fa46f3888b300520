#include "ui/selectappwidget_line.h"

#include <QHBoxLayout>

#include "ui/appwindowwidget.h"

SelectAppWidget_Line::SelectAppWidget_Line(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SelectAppWidget_Line"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(10);
    for (int i = 0; i < kMaxApps; ++i) {
        areas_[i] = new QWidget(this);
        areas_[i]->setObjectName(QStringLiteral("app_widget_%1").arg(i + 1));
        areas_[i]->setFixedSize(AppWindowWidget::kWidth, AppWindowWidget::kHeight);
        auto *areaLayout = new QHBoxLayout(areas_[i]);
        areaLayout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(areas_[i]);
    }
    layout->addStretch(1);
}

AppWindowWidget *SelectAppWidget_Line::addApp(const QString &title) {
    if (apps_.size() >= kMaxApps)
        return nullptr;
    auto *app = new AppWindowWidget(areas_[apps_.size()]);
    areas_[apps_.size()]->layout()->addWidget(app);
    app->setTitle(title);
    apps_.append(app);
    return app;
}
