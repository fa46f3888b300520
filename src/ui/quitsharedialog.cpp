#include "ui/quitsharedialog.h"

QuitShareDialog::QuitShareDialog(QWidget *parent)
    : ChoiceDialog(parent, QStringLiteral("closeButton"), QStringLiteral("label"),
                   tr("确认退出？退出将结束此次共享"), tr("退出")) {
    setObjectName(QStringLiteral("QuitShareDialog"));
    setFixedSize(280, 176);
}
