#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

#include <optional>
#include <utility>
#include <vector>

// Points XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR at fresh private
// directories for the lifetime of the object, so that a test never touches the
// user's files or those of another test. The previous values come back when it
// goes out of scope.
class ScopedXdgEnvironment {
public:
    ScopedXdgEnvironment() {
        const QString root = m_dir.path();
        set("XDG_CONFIG_HOME", root + "/config");
        set("XDG_DATA_HOME", root + "/data");
        set("XDG_RUNTIME_DIR", root + "/runtime");
        QFile::setPermissions(root + "/runtime",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ~ScopedXdgEnvironment() {
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
            if (it->second)
                qputenv(it->first.constData(), it->second.value());
            else
                qunsetenv(it->first.constData());
        }
    }
    Q_DISABLE_COPY_MOVE(ScopedXdgEnvironment)

    QString root() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + "/config"; }
    QString dataHome() const { return m_dir.path() + "/data"; }
    QString runtimeDir() const { return m_dir.path() + "/runtime"; }

private:
    void set(const char* name, const QString& path) {
        QDir().mkpath(path);
        m_saved.emplace_back(QByteArray(name), qEnvironmentVariableIsSet(name)
                                                   ? std::optional<QByteArray>(qgetenv(name))
                                                   : std::nullopt);
        qputenv(name, QFile::encodeName(path));
    }

    QTemporaryDir m_dir;
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};
