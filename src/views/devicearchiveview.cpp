#include "views/devicearchiveview.h"

TDeviceArchiveView::TDeviceArchiveView(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}
