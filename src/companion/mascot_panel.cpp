#include "companion/mascot_panel.h"

#include "companion/mascot_view.h"
#include "platform/linux/x11_compositing.h"
#include "platform/linux/x11_window_hints.h"

namespace perchwell {

MascotPanel::MascotPanel(MascotViewModel* model, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("Perchwell"));
    setFixedSize(MascotView::panelWidth, MascotView::panelHeight);
    view_ = new MascotView(model, this);
    view_->move(0, 0);
    connect(view_, &MascotView::layoutChanged, this, &MascotPanel::updateShape);
}

void MascotPanel::updateShape() {
    if (view_->hasOpaqueBackdrop()) {
        setMask(view_->backdropRegion());
    } else {
        clearMask();
    }
}

void MascotPanel::orderFront() {
    // A compositor may have come or gone since the last time.
    view_->setOpaqueBackdrop(!windowsAreComposited());
    updateShape();
    const bool wasVisible = isVisible();
    show();
    raise();
    if (!wasVisible) {
        showOnAllDesktopsOutsideWindowLists(winId());
    }
}

} // namespace perchwell
