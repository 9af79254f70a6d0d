#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVariant>

struct sd_bus_message;

// QVariant values to and from D-Bus messages (sd-bus), in both directions of
// a call. Types map as the server kit documents (serverkit.h).
namespace automation::busvalues {

// The D-Bus signature of a parameter, result or property type; empty when
// the type has none.
QByteArray signatureOf(QMetaType type);

// The length of the first complete type at the start of signature, or 0 when
// it is not a valid one.
int completeTypeLength(const char* signature);

// Appends value as one value of the complete type signature. Conversion is
// strict: a text that is not a number of the type's range, a list of the
// wrong length for a structure and the like fail with a reason.
bool append(sd_bus_message* message, const char* signature, const QVariant& value, QString* error);

// Reads every value left in the message (or in the open container), within
// the call channel's bounds on nesting and on the number of values.
bool readAll(sd_bus_message* message, QVariantList* values, QString* error);

// Converts a value as read from a message to a parameter's type.
bool toType(const QVariant& value, QMetaType type, QVariant* out);

}  // namespace automation::busvalues
