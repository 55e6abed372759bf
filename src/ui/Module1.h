#pragma once
// Start-up: defaults, the program folder made current, the settings file read
// silently, the settings window prepared hidden, vanished folders replaced, the
// splash for four seconds unless switched off, then the main window.

#include "ProgramServices.h"
#include "startup/Settings.h"

#include <QPointer>

#include <QList>

#include <chrono>
#include <filesystem>
#include <memory>

namespace tarnic {

class Form1;
class Form2;
class Form3;

// The splash wait, behind an interface so tests need not wait.
class SplashWait {
  public:
    virtual ~SplashWait() = default;
    // Returns once `duration` of elapsed time has passed, letting window events
    // run meanwhile. Nothing but the time ends it.
    virtual void wait(std::chrono::milliseconds duration) = 0;
};

// Waits on a monotonic clock (midnight does not matter) without spinning.
class EventLoopSplashWait final : public SplashWait {
  public:
    void wait(std::chrono::milliseconds duration) override;
};

inline constexpr std::chrono::seconds kSplashTime{4};

class Module1 {
  public:
    Module1(ProgramServices services, SplashWait &splashWait);
    ~Module1();

    // Runs start-up to the point where the main window is shown.
    void Main();
    // Once the main window is shown: opens `files` in it as clicks would.
    void openFiles(const QList<std::filesystem::path> &files);

    Settings settings;

  private:
    ProgramServices services_;
    SplashWait &splashWait_;
    QPointer<Form2> form2_;
    std::unique_ptr<Form1> form1_;
};

// The folder of the running executable.
QString programFolder();

// Starts the program with the real message boxes, folder dialog and splash
// wait, opens the files named on its command line (what a file manager's
// "Open with" passes), and runs it until its Exit command; returns the exit
// code. --help and --version answer on standard output without a window.
int runProgram(int &argc, char **argv);

} // namespace tarnic
