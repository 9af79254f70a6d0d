// Corvane benchmarks:
//  - start-up: from process start to the main window painted, against a bare
//    Qt program that shows one empty QDialog (median of 15 runs each), and the
//    peak memory of both;
//  - the settings store: 10,000 AddServer calls, then LoadServers over them.
#include "app/messages.h"
#include "settings/store.h"
#include "ui/main/frmServerReg.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <algorithm>
#include <cstdio>
#include <vector>

extern char** environ;

namespace {

struct Run {
    double ms = 0;
    long peakKiB = 0;
    bool ok = false;
};

Run runOnce(const char* program) {
    char* argv[] = {const_cast<char*>(program), nullptr};
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0)
        return {};
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return {};
    return {timer.nsecsElapsed() / 1e6, usage.ru_maxrss,
            WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

template <typename T>
T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Summary {
    double ms = 0;
    long peakKiB = 0;
};

Summary measure(const char* program, int runs) {
    runOnce(program);  // warm the file cache
    std::vector<double> times;
    std::vector<long> peaks;
    for (int i = 0; i < runs; ++i) {
        const Run run = runOnce(program);
        if (!run.ok) {
            std::fprintf(stderr, "%s failed\n", program);
            return {};
        }
        times.push_back(run.ms);
        peaks.push_back(run.peakKiB);
    }
    return {median(times), median(peaks)};
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/data"));
    QDir().mkpath(home.path() + "/runtime");
    QFile::setPermissions(home.path() + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path() + "/runtime"));
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));

    constexpr int kRuns = 15;
    const Summary corvane = measure(STARTUP_CORVANE, kRuns);
    const Summary bare = measure(STARTUP_BARE, kRuns);
    std::printf("start-up to first paint, median of %d runs:\n", kRuns);
    std::printf("  corvane       %8.1f ms   peak %6ld KiB\n", corvane.ms, corvane.peakKiB);
    std::printf("  bare QDialog  %8.1f ms   peak %6ld KiB\n", bare.ms, bare.peakKiB);
    if (bare.ms > 0 && bare.peakKiB > 0)
        std::printf("  ratio         %8.2f x    memory %.2f x\n", corvane.ms / bare.ms,
                    double(corvane.peakKiB) / double(bare.peakKiB));

    QApplication application(argc, argv);
    app::MessageRecorder quiet;
    constexpr int kNames = 10000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kNames; ++i) {
        if (!settings::AddServer(QStringLiteral("Bench.Class%1").arg(i)))
            return 1;
    }
    const double addMs = timer.nsecsElapsed() / 1e6;
    std::printf("settings store with %d names:\n", kNames);
    std::printf("  AddServer x %d   %8.1f ms  (%.3f ms each)\n", kNames, addMs, addMs / kNames);

    auto* window = new frmServerReg;
    std::vector<double> loads;
    for (int i = 0; i < 11; ++i) {
        timer.restart();
        window->LoadServers();
        loads.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("  LoadServers      %8.1f ms  median of %zu\n", median(loads), loads.size());
    delete window;
    return quiet.count() == 0 ? 0 : 1;
}
