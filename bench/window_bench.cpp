// Times the window with a given template (and database): from the start of making the window
// to its first paint, and the send that writes the list file. Prints one line of figures.
//
//   wfb_window_bench <template> [database [more settings]]
//
// "more settings" is a file whose lines are added to the settings file.
//
// The figures count from main(); the last line, "at ...", gives the moments of the first paint
// and of the written list on the real-time clock in nanoseconds, for a caller that timed the
// start of the process itself.

#include "app/main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace {

long long realTime() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// Notes the first paint of the text area and ends the event loop.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(const QElapsedTimer& clock) : clock_(clock) {}

    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint && at == 0) {
            elapsed = clock_.nsecsElapsed() / 1e6;
            at = realTime();
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
        }
        return QObject::eventFilter(object, event);
    }

    double elapsed = 0;
    long long at = 0;

private:
    const QElapsedTimer& clock_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <template> [database [more settings]]\n", argv[0]);
        return 2;
    }
    QElapsedTimer clock;
    clock.start();
    const std::string templatePath = std::filesystem::absolute(argv[1]).string();
    const std::string database = argc > 2 ? std::filesystem::absolute(argv[2]).string() : "";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    char folder[] = "/tmp/wfb-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        return 2;
    }
    const std::string executable = std::string(folder) + "/wiegenfestbote";
    std::ofstream settings(executable + ".ini");
    settings << "[DB]\nMain=" << database << "\n[Option]\ntext=" << templatePath << "\n";
    if (argc > 3) {
        settings << std::ifstream(argv[3]).rdbuf();
    }
    settings.close();

    QApplication application(argc, argv);
    const double qtStarted = clock.nsecsElapsed() / 1e6;

    wfb::Tfmain fmain({executable, {executable}});
    const double created = clock.nsecsElapsed() / 1e6;
    FirstPaint firstPaint(clock);
    fmain.memo->viewport()->installEventFilter(&firstPaint);
    fmain.show();
    application.exec();

    fmain.BTsendClick();
    const double sent = clock.nsecsElapsed() / 1e6;
    const long long writtenAt = realTime();

    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("qt %.1f ms, window made %.1f ms, first paint %.1f ms, list written %.1f ms "
                "(send %.1f ms), peak %ld KB\n",
                qtStarted, created, firstPaint.elapsed, sent, sent - firstPaint.elapsed,
                usage.ru_maxrss);
    std::printf("at painted=%lld written=%lld\n", firstPaint.at, writtenAt);
    std::filesystem::remove_all(folder);
    return firstPaint.at != 0 ? 0 : 1;
}
