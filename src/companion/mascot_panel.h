#pragma once

#include <QWidget>

namespace perchwell {

class MascotView;
class MascotViewModel;

// The floating panel: frameless, above ordinary windows, never focused, translucent,
// left out of the task bar; it hosts the mascot view at 280 × 64.
class MascotPanel : public QWidget {
    Q_OBJECT
public:
    explicit MascotPanel(MascotViewModel* model, QWidget* parent = nullptr);

    MascotView* view() const { return view_; }
    // Shows the panel above other windows without taking focus.
    void orderFront();

private:
    void updateShape();

    MascotView* view_;
};

} // namespace perchwell
