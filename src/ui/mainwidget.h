#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

#include <memory>

class QLabel;
class QLayout;
class QLineEdit;
class QListWidget;
class QPushButton;
class CreateShareButton;
class HostWidget;
class ScanClient;
class SelectHost_Line;

// The start page: nickname, the shares found on the LAN as tiles, manual address entry and the
// create button. Owns the discovery scanner; joining and creating are left to the main window.
class MainWidget : public QWidget {
    Q_OBJECT

public:
    explicit MainWidget(QWidget *parent = nullptr);
    ~MainWidget() override;

    // What the page shows now, for tests and the screenshot program.
    QList<SelectHost_Line *> rows() const { return rows_; }
    QList<HostWidget *> tiles() const { return tiles_; }
    CreateShareButton *createShareButton() const { return createButton_; }

signals:
    void sigCreateShare();
    void sigJoinShare(QString ip, QString nickName);

private slots:
    void onHostListRefreshed(QStringList hosts);

private:
    QWidget *buildSharesPanel();
    QLayout *buildNicknameRow(QWidget *panel);
    QLayout *buildListHeader(QWidget *panel);
    QWidget *buildNoShares(QWidget *panel);
    QWidget *buildCreateArea();
    void onHostWidgetClicked();
    void onHostWidgetDoubleClicked();
    void refreshHosts();
    // Asks for an address to join; the join follows when the dialog is answered.
    void askForAddress();
    void joinWithNickname(const QString &ip);

    QLabel *label_nickname;
    QLineEdit *lineEdit_nickname;
    QLabel *label_ip;
    QPushButton *btn_inputip_1;
    QPushButton *btn_refresh_host_list;
    QListWidget *listWidget;
    QWidget *widget_none_host;
    QLabel *label_3;
    QPushButton *btn_inputip_2;
    QLabel *main_img;
    QWidget *widget_createshare;
    CreateShareButton *createButton_;

    std::shared_ptr<ScanClient> scanner_;
    // Owned by the list view through its items.
    QList<SelectHost_Line *> rows_;
    QList<HostWidget *> tiles_;
};
