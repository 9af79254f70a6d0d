#pragma once

#include "registration/objectcreator.h"

#include <QString>
#include <QStringList>

#include <memory>

// Finding and loading the creation module (registration/objectcreator.h).
//
// The module is a Qt plugin, opened with QPluginLoader, which checks that it
// was built for this Qt and reads its interface name before running any of
// its code. A program that links the module's code in as a static plugin
// (the tests that tune the automation layer in their own process do) uses
// that instead and loads nothing.
namespace registration {

// Where the creation module of the executable in programDir may be, in the
// order tried: beside it (a build tree), then the installation's private
// library folder (lib/corvane beside bin), found relative to programDir so
// that an installation moved as a whole still finds its module.
QStringList creationModuleCandidates(const QString& programDir);

// A creator through the creation module: the one linked in, else the first
// candidate for this executable that exists. When there is none, or it
// cannot be loaded, the creator's every creation fails (through the event
// loop, as any outcome comes) with a reason that names the module and why;
// the next creator tries again. Never null.
std::unique_ptr<ObjectCreator> newObjectCreator();

// The same with the module file at modulePath, whether or not one is linked in.
std::unique_ptr<ObjectCreator> newObjectCreator(const QString& modulePath);

// A pairing and a class import through the creation module, found as
// newObjectCreator() finds it; when it cannot be had, they fail in the same
// way, with the same reason. Never null.
std::unique_ptr<MachinePairing> newMachinePairing();
std::unique_ptr<ClassImport> newClassImport();

}  // namespace registration
