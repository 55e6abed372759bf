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

int runProgram() {
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
    Module1 program({messages, folders, folder, settingsFilePath(folder), nullptr, {}}, splashWait);
    program.Main();
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

} // namespace tarnic
