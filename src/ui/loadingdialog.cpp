#include "ui/loadingdialog.h"

#include <QLabel>
#include <QMovie>
#include <QVBoxLayout>

#include "ui/uistyle.h"

LoadingDialog::LoadingDialog(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("LoadingDialog"));
    setAttribute(Qt::WA_TranslucentBackground, true);
    setWindowTitle(QStringLiteral("ZuShare"));
    setFixedSize(240, 180);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    widget = new QWidget(this);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setAttribute(Qt::WA_StyledBackground, true);
    // The thin edge keeps the box visible over the white half of the start page.
    widget->setStyleSheet(uistyle::roundedBox(widget->objectName()));
    outer->addWidget(widget);

    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(20, 0, 20, 20);
    layout->setSpacing(0);
    label = new QLabel(widget);
    label->setObjectName(QStringLiteral("label"));
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumSize(1, 1);
    label_2 = new QLabel(tr("努力加载中..."), widget);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setAlignment(Qt::AlignCenter);
    label_2->setStyleSheet(uistyle::text(uistyle::kBlue, 14));
    layout->addWidget(label, 10);
    layout->addWidget(label_2, 1);

    movie_ = std::make_shared<QMovie>(QStringLiteral(":/img/loading.gif"));
    label->setMovie(movie_.get());
}

LoadingDialog::~LoadingDialog() {
    label->setMovie(nullptr);
}

void LoadingDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // The image label's size is known only once the layout has run.
    const QSize area = label->size();
    const int side = qMin(area.width(), area.height());
    movie_->setScaledSize(QSize(side, side));
    movie_->start();
}
