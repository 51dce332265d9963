#pragma once
// The view of one gamma spectrum on the page "Спектр". For now an empty
// panel that fills its sub-page; the drawing, zoom, markers and calibration
// come with the spectrum view itself.

#include <QFrame>

class TSpectrView : public QFrame {
    Q_OBJECT
public:
    explicit TSpectrView(QWidget *parent = nullptr);
};
