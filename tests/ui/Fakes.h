#pragma once
// Stand-ins for the outside world of the windows: they record what the
// program shows and answer what it asks.

#include "BrowseDialog.h"
#include "Form3.h"
#include "Form4.h"
#include "MessageBoxes.h"
#include "Module1.h"

#include <QApplication>
#include <QStringList>

#include <chrono>
#include <deque>
#include <optional>
#include <vector>

namespace fakes {

struct Messages final : tarnic::MessageBoxes {
    void showMessage(const QString &text) override { shown << text; }
    bool askYesNo(const QString &text, const QString &title) override {
        asked << title + QStringLiteral(": ") + text;
        return answer;
    }
    QStringList shown;
    QStringList asked;
    bool answer = true;
};

struct Folders final : tarnic::FolderPicker {
    std::optional<QString> pickFolder(QWidget *, const QString &prompt,
                                      const QString &start) override {
        prompts << prompt;
        starts << start;
        return choice;
    }
    std::optional<QString> choice;
    QStringList prompts;
    QStringList starts;
};

struct Busy final : tarnic::BusyWindow {
    void setTexts(const QString &caption, const QString &text) override {
        calls << QStringLiteral("texts ") + caption + QStringLiteral(" / ") + text;
    }
    void showAndPaint() override { calls << QStringLiteral("show"); }
    void closeWindow() override { calls << QStringLiteral("close"); }
    QStringList calls;
};

// Returns at once, noting whether the splash window was up while it "waited".
struct Wait final : tarnic::SplashWait {
    void wait(std::chrono::milliseconds duration) override {
        waits.push_back(duration);
        for (QWidget *w : QApplication::topLevelWidgets())
            splashShownMeanwhile |= qobject_cast<tarnic::Form3 *>(w) && w->isVisible();
    }
    std::vector<std::chrono::milliseconds> waits;
    bool splashShownMeanwhile = false;
};

} // namespace fakes
