#pragma once
// The view of the installation's archive on the page "Архив". For now an
// empty panel that fills its page; the table comes with the archive view
// itself.

#include <QFrame>

class TDeviceArchiveView : public QFrame {
    Q_OBJECT
public:
    explicit TDeviceArchiveView(QWidget *parent = nullptr);
};
