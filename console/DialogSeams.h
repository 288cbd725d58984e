#pragma once
// What the account dialogs ask of the desktop: message boxes, a yes/no question, the
// folder chooser and running a child dialog. Each is a replaceable member, so widget
// tests answer them instead of a modal window; the defaults use the real widgets.

#include <QString>
#include <functional>

class QBoxLayout;
class QDialog;
class QLabel;
class QLineEdit;
class QWidget;

namespace nubo {

struct TDialogSeams {
    // Fills every member with the modal widgets, owned by parent.
    explicit TDialogSeams(QWidget* parent);

    std::function<void(const QString& text)> ShowMessage;
    // OK and Cancel, titled with the application title: true for OK.
    std::function<bool(const QString& text)> Confirm;
    // An existing folder, or an empty text when the operator cancels.
    std::function<QString(const QString& title)> ChooseFolder;
    // Runs a child dialog modally and returns its result code.
    std::function<int(QDialog& dialog)> RunDialog;
};

// An account name that keeps the user file whole: no "]", "=", line break, and no blank
// at either end (the section line would not read back as the same name).
bool IsSafeAccountId(const QString& id);
// A folder or alias of a DirN value: "|" joins the fields and a line break ends the key.
bool IsSafeEntryField(const QString& text);

// "ANONYMOUS" in any letter case: the account without a password that is never deleted.
bool IsAnonymous(const QString& id);

// A caption line above a new line edit named name, both added to box.
QLineEdit* AddField(QBoxLayout* box, const char* name, const QString& caption);
// A hidden red line beside a field that tells what is wrong with it; ShowError with an
// empty text hides it again.
QLabel* ErrorLabel(const char* name, QWidget* parent = nullptr);
void ShowError(QLabel* label, const QString& text);

// The folder chooser with its refusals: a folder that does not exist or that could not
// be stored in a DirN value is refused with a message. Returns the folder, or an empty
// text when nothing usable was chosen.
QString PickFolder(const TDialogSeams& seams, const QString& title);

} // namespace nubo
