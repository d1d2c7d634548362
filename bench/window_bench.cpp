// Times the window with a given template (and database): from the start of making the window
// to its first paint, and the send that writes the list file. Prints one line of figures.
//
//   wfb_window_bench <template> [database]

#include "app/main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace {

// Notes the first paint of the text area.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted) {
            painted = true;
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
        }
        return QObject::eventFilter(object, event);
    }
    bool painted = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <template> [database]\n", argv[0]);
        return 2;
    }
    const std::string templatePath = std::filesystem::absolute(argv[1]).string();
    const std::string database = argc > 2 ? std::filesystem::absolute(argv[2]).string() : "";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    char folder[] = "/tmp/wfb-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        return 2;
    }
    const std::string executable = std::string(folder) + "/wiegenfestbote";
    std::ofstream(executable + ".ini")
        << "[DB]\nMain=" << database << "\n[Option]\ntext=" << templatePath << "\n";

    QElapsedTimer clock;
    clock.start();
    QApplication application(argc, argv);
    const double qtStarted = clock.nsecsElapsed() / 1e6;

    wfb::Tfmain fmain({executable, {executable}});
    const double created = clock.nsecsElapsed() / 1e6;
    FirstPaint firstPaint;
    fmain.memo->viewport()->installEventFilter(&firstPaint);
    fmain.show();
    application.exec();
    const double painted = clock.nsecsElapsed() / 1e6;

    fmain.BTsendClick();
    const double sent = clock.nsecsElapsed() / 1e6;

    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("qt %.1f ms, window made %.1f ms, first paint %.1f ms, list written %.1f ms "
                "(send %.1f ms), peak %ld KB\n",
                qtStarted, created, painted, sent, sent - painted, usage.ru_maxrss);
    std::filesystem::remove_all(folder);
    return firstPaint.painted ? 0 : 1;
}
