#include "loglimiter.h"

#include <automation/printable.h>

#include <QTextStream>
#include <QTimer>

namespace automation {

namespace {

void emitLine(const QString& line) {
    QTextStream(stderr) << printable(line) << Qt::endl;
}

QString lengthOf(int ms) {
    return ms % 1000 == 0 ? QStringLiteral("%1 s").arg(ms / 1000) : QStringLiteral("%1 ms").arg(ms);
}

}  // namespace

LogLimiter::LogLimiter(const Rules& rules, Summary summary, QObject* parent)
    : QObject(parent), m_rules(rules), m_summary(std::move(summary)) {}

void LogLimiter::write(const QString& peer, const QString& line) {
    auto tally = m_tallies.find(peer);
    if (tally == m_tallies.end()) {
        if (m_tallies.size() >= m_rules.peers) {
            if (!m_othersOpen) {
                m_othersOpen = true;
                QTimer::singleShot(m_rules.windowMs, this, &LogLimiter::closeOthers);
            }
            if (m_others.written < m_rules.burst) {
                ++m_others.written;
                emitLine(line);
            } else {
                ++m_others.left;
            }
            return;
        }
        tally = m_tallies.insert(peer, {});
        QTimer::singleShot(m_rules.windowMs, this, [this, peer] { close(peer); });
    }
    if (tally->written < m_rules.burst) {
        ++tally->written;
        emitLine(line);
    } else {
        ++tally->left;
    }
}

void LogLimiter::close(const QString& peer) {
    const Tally tally = m_tallies.take(peer);
    if (tally.left > 0)
        emitLine(m_summary(peer, tally.left, lengthOf(m_rules.windowMs)));
}

void LogLimiter::closeOthers() {
    if (m_others.left > 0)
        emitLine(
            m_summary(QStringLiteral("other peers"), m_others.left, lengthOf(m_rules.windowMs)));
    m_others = {};
    m_othersOpen = false;
}

}  // namespace automation
