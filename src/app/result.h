#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

// How a routine of the program's core reports that it failed. The core never
// tells the user anything: it returns a Result, and the windows word the
// message from its Failure (common::report, common::failureText).
namespace app {

struct Failure {
    enum class Kind {
        SettingsUnreadable,      // the settings file could not be read
        NotRemembered,           // a name could not be written to the settings file
        NotForgotten,            // a name could not be deleted from the settings file
        RegistrationNotUpdated,  // the remote-activation component refused the update
        RegistrationUnreadable,  // the class registration could not be read
        ServerNotStarted,        // a server executable could not be started
    };

    Kind kind;
    QString reason{};  // why, in the words of the library or system that failed
    QString file{};    // the file concerned, when there is one
    QString name{};    // the entry concerned, when there is one
    // The same failure as the one before, with no success in between: the
    // user has been told already.
    bool repeated = false;
};

// What a routine that can fail returns: its value, or the failure that
// stopped it. Result<> has no value. After a failure the value is T's
// default (an empty list, say), so that a caller may go on with it.
template <typename T = std::monostate>
class [[nodiscard]] Result {
public:
    Result(T value = T()) : m_value(std::move(value)) {}
    Result(Failure failure) : m_failure(std::move(failure)) {}

    bool ok() const { return !m_failure; }
    explicit operator bool() const { return ok(); }
    const T& value() const { return m_value; }
    const std::optional<Failure>& failure() const { return m_failure; }

private:
    T m_value{};
    std::optional<Failure> m_failure;
};

}  // namespace app
