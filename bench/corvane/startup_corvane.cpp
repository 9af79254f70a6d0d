// Corvane's start-up, ending as soon as the main window is painted.
#include "exitonshow.h"
#include "startup.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ExitOnFirstPaint exitOnPaint;
    QWidget* main = startCorvane();
    main->installEventFilter(&exitOnPaint);
    return QApplication::exec();
}
