#pragma once

#include <QTabWidget>

namespace common {

// A tab widget whose pages' controls are laid out relative to the tab
// control's own top-left corner (tab strip included), as the window layouts
// give them. The .ui file holds those rectangles; once the tab strip has its
// size, every control is moved up and left by the page's offset.
class TabControl : public QTabWidget {
    Q_OBJECT
public:
    explicit TabControl(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(TabControl)

    // The rectangle a page control was given, relative to the tab control.
    static QRect designGeometry(const QWidget* control);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeControls();
};

}  // namespace common
