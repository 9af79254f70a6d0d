#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// Creating an object of a registered class to see whether it can be made:
// the test of a registration. The work is done by the creation module, a
// shared library that carries the automation client (Qt Network, OpenSSL),
// loaded on the first test so that start-up maps none of it
// (registration/creation.h finds and loads it).
//
// The module and the program meet only in this header: abstract classes
// with inline or pure virtual members and types from Qt Core and the
// standard library, so that the module needs no symbol of the executable.
// That is also why the outcome comes through a function rather than a
// signal: a signal's meta-object would exist once in each binary.
namespace registration {

// What one creation came to.
struct CreationOutcome {
    bool ok = false;
    QString reason{};       // why it failed, in English; empty on success
    QString description{};  // what the server said of the object it made
    // The host does not know this user, or is not the one recorded for its
    // machine: pairing with it is what fixes that.
    bool needsPairing = false;
};

// Creates one object of a class and releases it at once.
class ObjectCreator {
public:
    using Finished = std::function<void(const CreationOutcome&)>;

    ObjectCreator() = default;
    virtual ~ObjectCreator() = default;
    Q_DISABLE_COPY_MOVE(ObjectCreator)

    // Starts creating an object of className, used exactly as given, and
    // returns at once. finished is called once, later, from the event loop
    // and never from inside create(); not at all after cancel() or once the
    // creator is destroyed. A create() while one is pending abandons that one.
    virtual void create(const QString& className, Finished finished) = 0;

    // Abandons the pending creation: finished is not called for it, and an
    // object that arrives later is released at once.
    virtual void cancel() = 0;
};

// What the creation module's root object (its Qt plugin instance) offers.
class CreationModule {
public:
    CreationModule() = default;
    virtual ~CreationModule() = default;
    Q_DISABLE_COPY_MOVE(CreationModule)

    virtual std::unique_ptr<ObjectCreator> newCreator() = 0;
};

}  // namespace registration

// The version suffix changes whenever the classes above change, so that a
// module built for another version of them is refused rather than called.
#define CORVANE_CREATION_MODULE_IID "org.corvane.CreationModule/2"
Q_DECLARE_INTERFACE(registration::CreationModule, CORVANE_CREATION_MODULE_IID)
