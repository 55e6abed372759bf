#include "Module1.h"

#include "BrowseDialog.h"
#include "Form1.h"
#include "Form2.h"
#include "Form3.h"
#include "MessageBoxes.h"
#include "ProgramIcon.h"
#include "texts/BuildInfo.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <optional>
#include <string_view>

namespace tarnic {

void EventLoopSplashWait::wait(std::chrono::milliseconds duration) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < duration.count()) {
        QEventLoop loop;
        QTimer::singleShot(duration.count() - clock.elapsed(), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

QString programFolder() {
    return QCoreApplication::applicationDirPath();
}

namespace {

// --help and --version, answered before the window system is opened.
std::optional<int> answerWithoutWindow(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--") // what follows are files
            break;
        if (argument == "-h" || argument == "--help") {
            std::fputs("Usage: tarnic [FILE...]\n"
                       "Applies patches to Nintendo 64 ROM images in a window. Each FILE is\n"
                       "opened as its click would open it: a patch in the patch list, an image\n"
                       "in the image list, a folder as the patch list's folder.\n\n"
                       "Options:\n"
                       "  -h, --help     Shows this help.\n"
                       "  -v, --version  Shows the version.\n\n"
                       "tarnic-cli does the same from the command line.\n",
                       stdout);
            return std::fflush(stdout) == 0 ? 0 : 2;
        }
        if (argument == "-v" || argument == "--version") {
            std::printf("tarnic %s\n", kProgramVersion);
            return std::fflush(stdout) == 0 ? 0 : 2;
        }
    }
    return std::nullopt;
}

} // namespace

int runProgram(int &argc, char **argv) {
    if (const std::optional<int> answered = answerWithoutWindow(argc, argv))
        return *answered;
    QApplication application(argc, argv);
    // What Qt left of the arguments are files, named by their bytes.
    QList<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) != "--")
            files << std::filesystem::path(argv[i]);
    }
    QApplication::setApplicationName(QStringLiteral("Tarnic"));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
    QApplication::setWindowIcon(programIcon());
    // The program ends through its Exit command only, which also runs when the
    // main window is closed; closing the splash must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    QtMessageBoxes messages;
    QtFolderPicker folders;
    EventLoopSplashWait splashWait;
    const QString folder = programFolder();
    Module1 program({messages,
                     folders,
                     folder,
                     settingsFilePath(folder, QString::fromLatin1(kApplicationId)),
                     nullptr,
                     {}},
                    splashWait);
    program.Main();
    program.openFiles(files);
    return QApplication::exec();
}

Module1::Module1(ProgramServices services, SplashWait &splashWait)
    : services_(std::move(services)), splashWait_(splashWait) {}

Module1::~Module1() {
    form1_.reset();
    delete form2_;
}

void Module1::Main() {
    settings = Settings{};
    QDir::setCurrent(services_.programFolder);
    readSettingsFile(services_.settingsFile, settings);
    makeFoldersAbsolute(settings, services_.programFolder);

    // Creating the settings window (hidden) sets both boxes from the options.
    form2_ = new Form2(settings);

    checkFolders(settings);

    if (settings.SplashOpt != kOptionOff) {
        QPointer<Form3> splash = new Form3();
        splash->show();
        splash->repaint();
        splashWait_.wait(kSplashTime);
        if (splash)
            splash->close();
    }

    form1_ = std::make_unique<Form1>(settings, services_);
    form1_->adoptSettingsWindow(form2_);
    form1_->show();
}

void Module1::openFiles(const QList<std::filesystem::path> &files) {
    if (form1_ && !files.isEmpty())
        form1_->openFiles(files);
}

} // namespace tarnic
