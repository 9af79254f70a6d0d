// The least a Qt program does to show a window: one empty dialog, ending as
// soon as it is painted.
#include "exitonshow.h"

#include <QApplication>
#include <QDialog>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ExitOnFirstPaint exitOnPaint;
    QDialog dialog;
    dialog.installEventFilter(&exitOnPaint);
    dialog.show();
    return QApplication::exec();
}
