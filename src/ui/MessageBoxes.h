#pragma once
// Every message box and the one Yes/No question go through MessageBoxes, so
// that tests can record the texts and answer the question.

#include "texts/Messages.h"

#include <QString>

namespace tarnic {

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // A modal box titled "Tarnic 1.0a" with `text`, an OK button and no icon.
    virtual void showMessage(const QString &text) = 0;
    // A modal box with Yes and No (Yes the default) and no icon; true for Yes.
    virtual bool askYesNo(const QString &text, const QString &title) = 0;
};

class QtMessageBoxes final : public MessageBoxes {
  public:
    void showMessage(const QString &text) override;
    bool askYesNo(const QString &text, const QString &title) override;
};

} // namespace tarnic
