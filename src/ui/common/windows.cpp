#include "windows.h"

#include "app/help.h"
#include "app/messages.h"
#include "app/placement.h"
#include "settings/options.h"
#include "settings/store.h"
#include "ui/common/simplecombo.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QWhatsThis>

#include <cmath>

namespace common {

namespace {

// Twips (1440 to the inch) to pixels and back, at 15 twips to a pixel.
int twipsToPixels(double twips) {
    return int(std::lround(twips / app::kTwipsPerPixel));
}

double pixelsToTwips(int pixels) {
    return double(pixels) * app::kTwipsPerPixel;
}

QSizeF screenTwips(const QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->geometry().size() : QSize(1024, 768);
    return {pixelsToTwips(size.width()), pixelsToTwips(size.height())};
}

// The outer size of a window, frame included once the window system has
// given it one.
QSizeF windowTwips(const QWidget* window) {
    const QSize size = window->isVisible() ? window->frameGeometry().size() : window->size();
    return {pixelsToTwips(size.width()), pixelsToTwips(size.height())};
}

void moveToTwips(QWidget* window, const QPointF& topLeft) {
    const QRect screen = window->screen() ? window->screen()->geometry() : QRect();
    window->move(screen.topLeft() + QPoint(twipsToPixels(topLeft.x()), twipsToPixels(topLeft.y())));
}

QWidget* mainWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("frmServerReg"))
            return widget;
    }
    return nullptr;
}

QString helpHtml(int number) {
    const app::HelpTopic topic = app::helpTopic(number);
    if (topic.title.isEmpty() && topic.body.isEmpty())
        return {};
    QString html = QStringLiteral("<p><b>%1</b></p>").arg(topic.title.toHtmlEscaped());
    for (const QString& paragraph : topic.body.split(QStringLiteral("\n\n"), Qt::SkipEmptyParts))
        html += QStringLiteral("<p>%1</p>").arg(paragraph.trimmed().toHtmlEscaped());
    return html;
}

// The topic's text without its title, as a screen reader reads it.
QString helpText(int number) {
    QStringList paragraphs;
    for (const QString& paragraph :
         app::helpTopic(number).body.split(QStringLiteral("\n\n"), Qt::SkipEmptyParts))
        paragraphs << paragraph.simplified();
    return paragraphs.join(QLatin1Char('\n'));
}

// Relative luminance and contrast ratio as accessibility guidelines define
// them; 4.5 is what ordinary text needs to read well.
double luminance(const QColor& colour) {
    const auto linear = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

constexpr double kReadableContrast = 4.5;
constexpr int kAzureHue = 210;

// Keeps a label in the layout blue across palette changes.
class LayoutBlueKeeper : public QObject {
public:
    using QObject::QObject;

    static void apply(QLabel* label) {
        const QWidget* parent = label->parentWidget();
        const QColor blue = layoutBlue(parent ? parent->palette() : QApplication::palette(label));
        // Setting the colour changes the palette once more: stop there.
        if (label->testAttribute(Qt::WA_SetPalette) &&
            label->palette().color(QPalette::WindowText) == blue)
            return;
        QPalette palette;
        palette.setColor(QPalette::WindowText, blue);
        label->setPalette(palette);
    }

protected:
    // A new application palette reaches the label as a change of the
    // palette it inherits from its window.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::PaletteChange)
            apply(static_cast<QLabel*>(watched));
        return false;
    }
};

// An empty widget that assistive technology sees as a notification: screen
// readers read a notification when it shows, wherever the focus is.
class StatusNotice : public QWidget {
public:
    explicit StatusNotice(QWidget* window) : QWidget(window) { setObjectName(name()); }

    // The window's notice, made on first use.
    static StatusNotice* of(QWidget* window) {
        static const bool factory = (QAccessible::installFactory(&accessible), true);
        Q_UNUSED(factory);
        auto* notice = dynamic_cast<StatusNotice*>(
            window->findChild<QWidget*>(name(), Qt::FindDirectChildrenOnly));
        return notice ? notice : new StatusNotice(window);
    }

    // Shows the notice anew, telling text, at a point of the window.
    void tell(const QString& text, const QPoint& at) {
        hide();
        setAccessibleName(text);
        setGeometry(QRect(at, QSize()));
        show();
    }

private:
    static QString name() { return QStringLiteral("statusNotice"); }

    static QAccessibleInterface* accessible(const QString&, QObject* object) {
        auto* notice = dynamic_cast<StatusNotice*>(object);
        return notice ? new QAccessibleWidget(notice, QAccessible::Notification) : nullptr;
    }
};

}  // namespace

void CentreForm(QWidget* window) {
    moveToTwips(window, app::CentrePosition(screenTwips(window), windowTwips(window)));
}

void PlaceForm(QWidget* window) {
    const QWidget* main = mainWindow();
    QPointF mainTwips;
    if (main) {
        const QPoint corner =
            main->pos() - (main->screen() ? main->screen()->geometry().topLeft() : QPoint());
        mainTwips = {pixelsToTwips(corner.x()), pixelsToTwips(corner.y())};
    }
    moveToTwips(window, app::PlacePosition(mainTwips, windowTwips(window), screenTwips(window)));
}

void SelectAllText(QLineEdit* edit) {
    edit->setSelection(0, int(edit->text().size()));
}

void SelectAllText(QComboBox* combo) {
    if (QLineEdit* edit = combo->lineEdit())
        SelectAllText(edit);
}

void FillMachines(QListWidget* list) {
    list->clear();
    list->addItems(settings::Machines());
}

void FillMachines(QComboBox* combo) {
    combo->clear();
    combo->addItems(settings::Machines());
    combo->setCurrentIndex(-1);
}

void FillProtocols(QComboBox* list) {
    for (const QString& name : settings::kProtocolNames)
        list->addItem(name);
    list->setCurrentIndex(0);
}

void FillAuthLevels(QComboBox* list) {
    for (const QString& name : settings::kAuthLevelNames)
        list->addItem(name);
    list->setCurrentIndex(0);
}

void setupLayoutWindow(QWidget* window, Qt::WindowFlags titleButtons, const QString& icon) {
    window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           titleButtons);
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (!icon.isEmpty())
        window->setWindowIcon(QIcon(icon));
    window->setFixedSize(window->size());
    setLayoutFont(window, QStringLiteral("Arial"), 8.25);
    nameInnerParts(window);
    const QList<QLabel*> labels = window->findChildren<QLabel*>();
    for (QLabel* label : labels) {
        if (label->property("layoutBlue").toBool()) {
            LayoutBlueKeeper::apply(label);
            label->installEventFilter(new LayoutBlueKeeper(label));
        }
    }
}

void setLayoutFont(QWidget* widget, const QString& family, double pointSize, bool bold) {
    QFont font(family);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    widget->setFont(font);
}

void installContextHelp(QWidget* window) {
    const QList<QWidget*> controls = window->findChildren<QWidget*>();
    for (QWidget* control : controls) {
        const QVariant topic = control->property("helpTopic");
        if (!topic.isValid())
            continue;
        control->setWhatsThis(helpHtml(topic.toInt()));
        control->setAccessibleDescription(helpText(topic.toInt()));
        if (QWidget* edit = control->focusProxy())
            edit->setAccessibleDescription(control->accessibleDescription());
    }
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), window);
    QObject::connect(f1, &QShortcut::activated, window, [window] {
        QWidget* focus = window->focusWidget();
        // The edit field of a composite control carries its parent's topic.
        while (focus && focus != window && focus->whatsThis().isEmpty())
            focus = focus->parentWidget();
        if (focus && focus != window)
            QWhatsThis::showText(focus->mapToGlobal(focus->rect().center()), focus->whatsThis(),
                                 focus);
    });
    QAction* whatsThis = QWhatsThis::createAction(window);
    whatsThis->setShortcutContext(Qt::WindowShortcut);
    window->addAction(whatsThis);
}

void nameInnerParts(QWidget* window) {
    const QList<QWidget*> controls = window->findChildren<QWidget*>();
    for (QWidget* control : controls) {
        QWidget* edit = nullptr;
        QWidget* list = nullptr;
        if (auto* simple = qobject_cast<SimpleCombo*>(control)) {
            edit = simple->lineEdit();
            list = simple->listWidget();
        } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
            edit = combo->lineEdit();
            list = combo->view();
        } else if (auto* tabs = qobject_cast<QTabWidget*>(control)) {
            list = tabs->tabBar();
        }
        const QString editName = control->property("editAccessibleName").toString();
        if (edit && !editName.isEmpty())
            edit->setAccessibleName(editName);
        const QString listName = control->property("listAccessibleName").toString();
        if (list && !listName.isEmpty())
            list->setAccessibleName(listName);
    }
}

void announce(QLabel* status) {
    // Setting the text tells of the label's new name, but screen readers
    // pass over name changes of labels that do not have the focus. An alert
    // on the label reaches the platforms that pass alerts on; a notice that
    // shows with the text reaches those that do not.
    QAccessibleEvent alert(status, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
    QWidget* window = status->window();
    StatusNotice::of(window)->tell(status->text(), status->mapTo(window, QPoint(0, 0)));
}

bool isDarkScheme(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() <
           palette.color(QPalette::WindowText).lightnessF();
}

QColor layoutBlue(const QPalette& palette) {
    if (!isDarkScheme(palette))
        return QColor(0, 0, 255);
    // Pure blue is all but invisible on a dark window, and lightened it turns
    // lavender: an azure keeps its colour as it lightens. It must read well
    // on the window and on the panes that styles draw a shade lighter than
    // the buttons (a tab page).
    const QColor window = palette.color(QPalette::Window);
    const QColor pane = palette.color(QPalette::Button).lighter(130);
    const QColor surface = luminance(pane) > luminance(window) ? pane : window;
    QColor azure;
    for (int lightness = 128; lightness <= 255; ++lightness) {
        azure = QColor::fromHsl(kAzureHue, 255, lightness);
        if (contrast(azure, surface) >= kReadableContrast)
            break;
    }
    return azure;
}

void installMessageBoxes() {
    app::setMessagePresenter([](const app::ShownMessage& message) {
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(message.title);
        // Names and paths in a message are the user's: never taken for markup.
        box.setTextFormat(Qt::PlainText);
        box.setText(message.text);
        switch (message.flags) {
            case app::kYesNoQuestion:
                box.setIcon(QMessageBox::Question);
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
                box.setDefaultButton(QMessageBox::Yes);
                break;
            case app::kOkExclamation:
                box.setIcon(QMessageBox::Warning);
                box.setStandardButtons(QMessageBox::Ok);
                break;
            default:
                box.setIcon(QMessageBox::NoIcon);
                box.setStandardButtons(QMessageBox::Ok);
                break;
        }
        return box.exec() == QMessageBox::Yes         ? app::kAnswerYes
               : message.flags == app::kYesNoQuestion ? app::kAnswerNo
                                                      : app::kAnswerOk;
    });
}

}  // namespace common
