// Registers the creation module's code as a static plugin of the program
// that links corvane_creation_linked, which then loads no module.
#include <QtPlugin>

Q_IMPORT_PLUGIN(CorvaneCreationPlugin)
