#pragma once

// Every window of Corvane in each state a user sees it in, one scene at a
// time, for the tests that look at every text: the pseudo-translation test
// and the layout test in each language. A new window or state is one more
// line in WindowTour::scenes().

#include "testenv.h"
#include "windowtest.h"

#include <functional>
#include <memory>

class frmServerReg;

namespace tour {

// Whose layout a scene shows: ours, laid out to the twip; a message box, whose
// text is ours and whose buttons and size are Qt's; Qt's file dialog, whose
// title and file types alone are ours; a menu, which Qt sizes to its entries.
enum class Layout { Fixed, MessageBox, FileDialog, Menu };

struct Scene;
using Look = std::function<void(const Scene& scene, QWidget* window)>;

struct Scene {
    QString name;
    Layout layout;
    std::function<void(const Scene& scene, const Look& look)> visit;
};

// A text a user sees, and where.
struct Shown {
    QString where;
    QString text;
};

// The windows with what they need to show everything: a store with a
// remembered server and machine, a server file for the wizard's summary,
// message boxes shown for real. Windows are made in the scenes, so that they
// take the translation installed at that time.
class WindowTour {
public:
    WindowTour();
    ~WindowTour();
    Q_DISABLE_COPY_MOVE(WindowTour)

    QList<Scene> scenes();
    // Shows every scene in turn to look, and closes its windows again.
    void visit(const Look& look);

private:
    frmServerReg* main();

    std::unique_ptr<ScopedXdgEnvironment> m_env;
    QPointer<frmServerReg> m_main;
    app::MessagePresenter m_previousPresenter;
};

// The texts of the window's visible controls: captions, titles, tabs, the
// entries of lists that offer fixed choices and of a menu, accessible names
// and descriptions, tool tips and What's-This help. Texts that are the user's
// data (names typed or stored) are left out: see isData().
QList<Shown> textsOf(const Scene& scene, QWidget* window);

// The access keys used more than once in the window (or menu), visible or not.
QStringList repeatedAccessKeys(QWidget* window);

}  // namespace tour
