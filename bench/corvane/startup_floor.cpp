// The floor of Corvane's start-up: the main window's own form, with the texts,
// fonts, size and starting page the running program shows, on a bare QDialog
// with no behaviour (no settings store, no help file, no automation, no icon),
// ending as soon as it is painted. Whatever Corvane needs beyond this to reach
// its first paint is its own cost; this much is Qt's (font set-up, glyphs,
// widgets).
//
// The form names two custom widgets, common::TabControl and
// common::SimpleCombo. The floor uses Corvane's own classes, compiled from
// their sources into this program alone: both are plain widgets (a tab widget
// that places its pages' controls where the form puts them, an edit field
// over a list) with nothing behind them, and plain Qt stand-ins would draw a
// different window (controls shifted by the tab strip, a drop-down instead of
// an open list), so the floor would no longer be the same picture.
#include "app/version.h"
#include "exitonshow.h"
#include "ui_frmServerReg.h"

#include <QApplication>
#include <QColor>
#include <QDialog>
#include <QFont>
#include <QPalette>

namespace {

QFont layoutFont(double pointSize, bool bold = false) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The least it takes to draw in the window's font: set once, before any
    // widget exists, so that nothing is polished in another font first.
    QApplication::setFont(layoutFont(8.25));

    ExitOnFirstPaint exitOnPaint;
    QDialog dialog;
    Ui::frmServerReg form;
    form.setupUi(&dialog);
    dialog.setWindowTitle(app::kAppTitle);
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowContextHelpButtonHint);
    dialog.setFixedSize(dialog.size());

    // The About page, on which the form opens, as the main window fills it.
    form.lblTitle->setFont(layoutFont(9.75, true));
    QPalette blue = form.lblTitle->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    form.lblTitle->setPalette(blue);
    form.lblTitle->setText(QStringLiteral("%1 - v%2.%3.%4")
                               .arg(app::kAppTitle)
                               .arg(app::kVersionMajor)
                               .arg(app::kVersionMinor)
                               .arg(app::kVersionRevision));
    form.lblCopyright->setText(QString::fromUtf8(app::kLegalNotice));
    form.lblComments->setText(QString::fromUtf8(app::kComments));
    form.cmdRemServer->setEnabled(false);
    form.cmdRemMachine->setEnabled(false);

    dialog.installEventFilter(&exitOnPaint);
    dialog.show();
    return QApplication::exec();
}
