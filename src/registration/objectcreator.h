#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// Creating an object of a registered class to see whether it can be made
// (the test of a registration), pairing with a host and importing the
// classes it serves. The work is done by the creation module, a shared
// library that carries the automation client (Qt Network, OpenSSL), loaded
// on first use so that start-up maps none of it (registration/creation.h
// finds and loads it).
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

// What one pairing with a host came to.
struct PairingOutcome {
    bool ok = false;
    QString reason{};                // why it failed, in English; empty when paired
    QString hostIdentity{};          // recorded for the machine once paired
    QString replacedIdentity{};      // the identity recorded for it before, if another
    bool alreadyAuthorized = false;  // the host knew this user before
};

// The client's side of pairing this user with automation-host on a
// machine: a request that the host's user accepts after comparing a code.
class MachinePairing {
public:
    using CodeShown = std::function<void(const QString& code)>;
    using Finished = std::function<void(const PairingOutcome&)>;

    MachinePairing() = default;
    virtual ~MachinePairing() = default;
    Q_DISABLE_COPY_MOVE(MachinePairing)

    // Starts pairing with machine, used as given, and returns at once.
    // codeShown gets the verification code ("482 019") once it is known;
    // finished is called once, later. Neither is called from inside
    // start(), after cancel() or once the pairing is destroyed. comment is
    // shown to the host's user beside the request.
    virtual void start(const QString& machine, const QString& comment, CodeShown codeShown,
                       Finished finished) = 0;

    // Withdraws the request; nothing is recorded on either side.
    virtual void cancel() = 0;
};

// What asking a host for its classes, or importing them, came to.
struct ClassesOutcome {
    bool ok = false;
    QString reason{};           // why it failed, in English; empty on success
    QStringList classes{};      // the classes the host would create for this user
    bool needsPairing = false;  // as in CreationOutcome
};

// The classes a host serves this user, and their registration here for
// remote activation on that host without a local server.
class ClassImport {
public:
    using Listed = std::function<void(const ClassesOutcome&)>;

    ClassImport() = default;
    virtual ~ClassImport() = default;
    Q_DISABLE_COPY_MOVE(ClassImport)

    // Asks automation-host on machine for its classes and returns at once;
    // listed is called once, later, as ObjectCreator's finished is.
    virtual void list(const QString& machine, Listed listed) = 0;
    virtual void cancel() = 0;

    // Registers classes for remote activation on machine, in this user's
    // class store (no network), stopping at the first failure; the outcome
    // names the classes registered.
    virtual ClassesOutcome import(const QString& machine, const QStringList& classes) = 0;
};

// What the creation module's root object (its Qt plugin instance) offers.
class CreationModule {
public:
    CreationModule() = default;
    virtual ~CreationModule() = default;
    Q_DISABLE_COPY_MOVE(CreationModule)

    virtual std::unique_ptr<ObjectCreator> newCreator() = 0;
    virtual std::unique_ptr<MachinePairing> newPairing() = 0;
    virtual std::unique_ptr<ClassImport> newClassImport() = 0;
};

}  // namespace registration

// The version suffix changes whenever the classes above change, so that a
// module built for another version of them is refused rather than called.
#define CORVANE_CREATION_MODULE_IID "org.corvane.CreationModule/2"
Q_DECLARE_INTERFACE(registration::CreationModule, CORVANE_CREATION_MODULE_IID)
