#include "contexthelp.h"

#include "app/help.h"

#include <QAction>
#include <QShortcut>
#include <QWhatsThis>
#include <QWidget>

namespace common {

namespace {

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

}  // namespace

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

}  // namespace common
