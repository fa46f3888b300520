#pragma once

#include <QList>
#include <QWidget>

class HostWidget;

// One row of the start page's share list: up to four tiles side by side.
class SelectHost_Line : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaxHosts = 4;

    explicit SelectHost_Line(QWidget *parent = nullptr);

    void addHostWidget(const QString &ip);
    int hostCount() const { return hosts_.size(); }
    HostWidget *hostAt(int index) const { return hosts_.value(index); }

private:
    QWidget *areas_[kMaxHosts];
    QList<HostWidget *> hosts_;
};
