// Corvane benchmarks:
//  - start-up: from process start to the main window painted, and the peak
//    memory, of Corvane, of the floor program (the main window's own form on a
//    bare QDialog, with no behaviour) and of a bare Qt program that shows one
//    empty QDialog. The three run in turn, run by run, so that a machine
//    busier at one moment than at another weighs on all of them alike;
//  - the settings store: 10,000 AddServer calls, then LoadServers over them.
// Each figure is printed beside its goal. The exit code says whether every run
// worked, not whether the goals were met.
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
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kRuns = 51;
constexpr double kStartupGoal = 1.10;  // times the floor
constexpr double kMemoryGoal = 1.05;   // times the floor
constexpr double kLoadServersGoalMs = 10;

struct Run {
    double ms = 0;
    long peakKiB = 0;
    std::string failure;  // empty when the program ended well
};

double monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Runs the program once: the time from just before it is spawned to its exit,
// and its peak resident memory as the kernel counted it.
Run runOnce(const char* program) {
    char* argv[] = {const_cast<char*>(program), nullptr};
    Run run;
    const double start = monotonicMs();
    pid_t pid = 0;
    if (const int error = posix_spawn(&pid, program, nullptr, nullptr, argv, environ)) {
        run.failure = std::string("cannot start: ") + std::strerror(error);
        return run;
    }
    int status = 0;
    rusage usage{};
    pid_t waited = 0;
    do {
        waited = wait4(pid, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
    const int waitError = errno;
    run.ms = monotonicMs() - start;
    run.peakKiB = usage.ru_maxrss;
    if (waited != pid)
        run.failure = std::string("cannot wait for it: ") + std::strerror(waitError);
    else if (WIFSIGNALED(status))
        run.failure = std::string("killed by signal ") + std::to_string(WTERMSIG(status));
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        run.failure = "exit status " + std::to_string(WEXITSTATUS(status));
    return run;
}

// The value at fraction p of the sorted values (0.5: the median).
template <typename T>
T quantile(std::vector<T> values, double p) {
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1) + 0.5)];
}

struct Program {
    const char* label;
    const char* path;
    std::vector<double> ms;
    std::vector<double> peakKiB;
};

// The median and the interquartile range, with the given decimals.
std::string spread(const std::vector<double>& values, int decimals) {
    char text[96];
    std::snprintf(text, sizeof text, "%9.*f  %.*f-%.*f", decimals, quantile(values, 0.5), decimals,
                  quantile(values, 0.25), decimals, quantile(values, 0.75));
    return text;
}

// The ratio of the medians, against the goal when there is one, and beside
// it the ratios of the runs of one round (which ran side by side): their
// median and quartiles show how far the machine's noise moves the figure.
void printRatio(const char* what, const std::vector<double>& program,
                const std::vector<double>& baseline, double goal) {
    std::vector<double> rounds;
    for (size_t i = 0; i < program.size(); ++i)
        rounds.push_back(program[i] / baseline[i]);
    const double ratio = quantile(program, 0.5) / quantile(baseline, 0.5);
    std::printf("    %-7s %5.2f x", what, ratio);
    if (goal > 0)
        std::printf("  goal <= %.2f x  %s", goal, ratio <= goal ? "pass" : "FAIL");
    else
        std::printf("%22s", "");
    std::printf("   by round: median %.2f, IQR %.2f-%.2f\n", quantile(rounds, 0.5),
                quantile(rounds, 0.25), quantile(rounds, 0.75));
}

// Start-up of the three programs in turn after one warm-up run of each
// (which fills the file cache and creates the settings store). False, after
// saying which run failed and why, when a run fails.
bool measureStartup() {
    std::vector<Program> programs = {{"corvane", STARTUP_CORVANE, {}, {}},
                                     {"floor (same form)", STARTUP_FLOOR, {}, {}},
                                     {"empty QDialog", STARTUP_BARE, {}, {}}};
    for (int round = -1; round < kRuns; ++round) {
        for (Program& program : programs) {
            const Run run = runOnce(program.path);
            if (!run.failure.empty()) {
                const std::string which =
                    round < 0 ? std::string("warm-up run") : "run " + std::to_string(round + 1);
                std::fprintf(stderr, "start-up of %s, %s: %s (%s)\n", program.label, which.c_str(),
                             run.failure.c_str(), program.path);
                return false;
            }
            if (round < 0)
                continue;
            program.ms.push_back(run.ms);
            program.peakKiB.push_back(double(run.peakKiB));
        }
    }

    std::printf("start-up to the first paint, %d runs of each in turn after a warm-up:\n", kRuns);
    std::printf("  %-18s  %-24s  %s\n", "", "     time (ms)", "     peak memory (KiB)");
    std::printf("  %-18s  %9s  %-13s  %9s  %s\n", "", "median", "IQR", "median", "IQR");
    for (const Program& program : programs)
        std::printf("  %-18s  %-24s  %s\n", program.label, spread(program.ms, 1).c_str(),
                    spread(program.peakKiB, 0).c_str());
    const Program& corvane = programs[0];
    const Program& floor = programs[1];
    const Program& bare = programs[2];
    std::printf("  corvane against the floor:\n");
    printRatio("time", corvane.ms, floor.ms, kStartupGoal);
    printRatio("memory", corvane.peakKiB, floor.peakKiB, kMemoryGoal);
    std::printf("  corvane against the empty QDialog:\n");
    printRatio("time", corvane.ms, bare.ms, 0);
    printRatio("memory", corvane.peakKiB, bare.peakKiB, 0);
    std::printf("  the floor against the empty QDialog:\n");
    printRatio("time", floor.ms, bare.ms, 0);
    printRatio("memory", floor.peakKiB, bare.peakKiB, 0);
    return true;
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

    const bool startupRan = measureStartup();
    std::fflush(stdout);

    QApplication application(argc, argv);
    app::MessageRecorder quiet;
    constexpr int kNames = 10000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kNames; ++i) {
        const app::Result<> added = settings::AddServer(QStringLiteral("Bench.Class%1").arg(i));
        if (!added) {
            std::fprintf(stderr, "AddServer failed at name %d: %s (%s)\n", i,
                         qPrintable(added.failure()->reason), qPrintable(added.failure()->file));
            return 1;
        }
    }
    const double addMs = timer.nsecsElapsed() / 1e6;
    std::printf("settings store with %d names:\n", kNames);
    std::printf("  AddServer x %d  %8.1f ms   %.3f ms each\n", kNames, addMs, addMs / kNames);

    auto* window = new frmServerReg;
    std::vector<double> loads;
    for (int i = 0; i < 21; ++i) {
        timer.restart();
        window->LoadServers();
        loads.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double loadMs = quantile(loads, 0.5);
    std::printf(
        "  LoadServers        %8.1f ms   median of %zu (IQR %.1f-%.1f)   goal <= %.0f ms  %s\n",
        loadMs, loads.size(), quantile(loads, 0.25), quantile(loads, 0.75), kLoadServersGoalMs,
        loadMs <= kLoadServersGoalMs ? "pass" : "FAIL");
    delete window;
    if (quiet.count() != 0)
        std::fprintf(stderr, "the settings store reported %d failures\n", quiet.count());
    return startupRan && quiet.count() == 0 ? 0 : 1;
}
