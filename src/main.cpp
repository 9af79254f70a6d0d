#include "startup.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The program ends when its last window has closed.
    startCorvane();
    return QApplication::exec();
}
