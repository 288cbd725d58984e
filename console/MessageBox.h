#pragma once
// Message boxes of the dialogs go through a replaceable function, so tests can take
// them instead of a modal box.

#include <QString>
#include <functional>

class QWidget;

namespace nubo {

using TShowMessage = std::function<void(const QString& text, bool error)>;
using TAskYesNo = std::function<bool(const QString& question)>;

// Texts keep their carriage returns as line breaks; a box shows them as new lines.
TShowMessage MessageBoxOf(QWidget* parent);
TAskYesNo QuestionBoxOf(QWidget* parent);

} // namespace nubo
