// The message boxes of the dialogs, all captioned "Quelvox", behind one
// interface so that tests answer them without a box ever blocking.
#pragma once

#include <QString>

class QWidget;

namespace quelvox::ui {

class IPrompts {
public:
    virtual ~IPrompts() = default;
    // A message with the information icon and an OK button.
    virtual void Information(QWidget* parent, const QString& text) = 0;
    // A message with the exclamation icon and an OK button.
    virtual void Warning(QWidget* parent, const QString& text) = 0;
    // A Yes/No question with the question icon; true for Yes.
    virtual bool Question(QWidget* parent, const QString& text) = 0;
};

// The real message boxes.
class CMessageBoxPrompts : public IPrompts {
public:
    void Information(QWidget* parent, const QString& text) override;
    void Warning(QWidget* parent, const QString& text) override;
    bool Question(QWidget* parent, const QString& text) override;
};

}  // namespace quelvox::ui
