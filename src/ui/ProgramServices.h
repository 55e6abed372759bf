#pragma once
// What the windows need from outside the program: message boxes, the folder
// dialog, the busy window, where the program and its settings file live, and
// how the program ends. The real program and the tests fill it differently.

#include <QString>

#include <functional>

namespace tarnic {

class BusyWindow;
class FolderPicker;
class MessageBoxes;

struct ProgramServices {
    MessageBoxes &messages;
    FolderPicker &folders;
    QString programFolder;
    QString settingsFile;
    BusyWindow *busy = nullptr;       // none: the main window's own Form4
    std::function<void()> endProgram; // none: leave the application's event loop
};

} // namespace tarnic
