#include "ui/selecthost_line.h"

#include <QHBoxLayout>

#include "ui/hostwidget.h"

SelectHost_Line::SelectHost_Line(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SelectHost_Line"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    for (int i = 0; i < kMaxHosts; ++i) {
        areas_[i] = new QWidget(this);
        areas_[i]->setObjectName(QStringLiteral("host_widget_%1").arg(i + 1));
        areas_[i]->setFixedSize(65, 53);
        auto *areaLayout = new QHBoxLayout(areas_[i]);
        areaLayout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(areas_[i]);
    }
    layout->addStretch(1);
}

void SelectHost_Line::addHostWidget(const QString &ip) {
    if (hosts_.size() >= kMaxHosts)
        return;
    auto *host = new HostWidget;
    host->setIp(ip);
    areas_[hosts_.size()]->layout()->addWidget(host);
    hosts_.append(host);
}
