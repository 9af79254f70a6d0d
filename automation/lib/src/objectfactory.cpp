#include <automation/objectfactory.h>

#include "operation.h"

#include <QEventLoop>
#include <QMutex>
#include <QPointer>
#include <QTimer>

namespace automation {

namespace {
QMutex defaultsMutex;
Timeouts defaults;
}  // namespace

struct ObjectFactory::Private {
    Timeouts timeouts;
    bool localOnly = false;
    bool forRelay = false;
    QList<QPointer<Operation>> pending;
};

ObjectFactory::ObjectFactory(QObject* parent) : QObject(parent), d(std::make_unique<Private>()) {
    d->timeouts = defaultTimeouts();
}

ObjectFactory::~ObjectFactory() {
    cancel();
}

void ObjectFactory::setTimeouts(const Timeouts& timeouts) {
    d->timeouts = timeouts;
}

Timeouts ObjectFactory::timeouts() const {
    return d->timeouts;
}

void ObjectFactory::setDefaultTimeouts(const Timeouts& timeouts) {
    QMutexLocker lock(&defaultsMutex);
    defaults = timeouts;
}

Timeouts ObjectFactory::defaultTimeouts() {
    QMutexLocker lock(&defaultsMutex);
    return defaults;
}

void ObjectFactory::setLocalOnly(bool localOnly) {
    d->localOnly = localOnly;
}

bool ObjectFactory::localOnly() const {
    return d->localOnly;
}

void ObjectFactory::setForRelay(bool forRelay) {
    d->forRelay = forRelay;
}

void ObjectFactory::create(const QString& className) {
    createAt(QString(), className);
}

void ObjectFactory::createAt(const QString& socketPath, const QString& className) {
    auto* op = new Operation(className, d->timeouts, d->localOnly, d->forRelay, this);
    op->setSocketPath(socketPath);
    d->pending.append(op);
    connect(op, &Operation::finished, this, [this, op](const CreateResult& result) {
        d->pending.removeAll(op);
        op->deleteLater();
        emit finished(result);
    });
    QTimer::singleShot(0, op, &Operation::start);
}

void ObjectFactory::cancel() {
    for (const QPointer<Operation>& op : std::as_const(d->pending))
        delete op.data();
    d->pending.clear();
}

bool ObjectFactory::isBusy() const {
    return !d->pending.isEmpty();
}

CreateResult createObject(const QString& className, const QString& socketPath) {
    ObjectFactory factory;
    CreateResult result;
    QEventLoop loop;
    QObject::connect(&factory, &ObjectFactory::finished, &loop, [&](const CreateResult& r) {
        result = r;
        loop.quit();
    });
    factory.createAt(socketPath, className);
    loop.exec();
    return result;
}

}  // namespace automation
