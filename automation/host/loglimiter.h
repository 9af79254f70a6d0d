#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

namespace automation {

// Lines about peers for the journal, where a peer that repeats itself (a
// reconnect loop, a flood of requests) must not bury everything else. In
// each window, which opens with a peer's first line, the first `burst`
// lines of that peer are written in full and the rest only counted; when
// the window closes, one summary line says how many were left out (none
// when nothing was). Only the first `peers` peers of a window are told
// apart; the others share one count.
//
// Every line is written through printable(): one event is one line.
class LogLimiter : public QObject {
public:
    struct Rules {
        int windowMs = 10000;
        int burst = 5;
        int peers = 64;
    };
    // The summary of count lines left out for peer (or "other peers") in
    // the window just closed; window is its length as people read it.
    using Summary =
        std::function<QString(const QString& peer, qint64 count, const QString& window)>;

    LogLimiter(const Rules& rules, Summary summary, QObject* parent = nullptr);

    void write(const QString& peer, const QString& line);

private:
    struct Tally {
        int written = 0;
        qint64 left = 0;
    };
    void close(const QString& peer);
    void closeOthers();

    Rules m_rules;
    Summary m_summary;
    QHash<QString, Tally> m_tallies;
    Tally m_others;
    bool m_othersOpen = false;
};

}  // namespace automation
