#include "companion/mascot_panel.h"

#include "companion/mascot_view.h"

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
}

void MascotPanel::orderFront() {
    show();
    raise();
}

} // namespace perchwell
