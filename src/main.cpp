#include "BrowseDialog.h"
#include "Form3.h"
#include "MessageBoxes.h"
#include "Module1.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnic"));
    QApplication::setWindowIcon(tarnic::programIcon());
    // The program ends through its Exit command only, which also runs when the
    // main window is closed; closing the splash must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    tarnic::QtMessageBoxes messages;
    tarnic::QtFolderPicker folders;
    tarnic::EventLoopSplashWait splashWait;
    const QString folder = tarnic::programFolder();
    tarnic::ProgramServices services{messages, folders, folder, tarnic::settingsFilePath(folder),
                                     nullptr,  {}};
    tarnic::Module1 program(services, splashWait);
    program.Main();
    return app.exec();
}
