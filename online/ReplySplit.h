#pragma once
// Splitting of the web service's replies into fields.

#include <QString>
#include <QStringList>

namespace nubo {

// Fields end at the delimiter or at any blank or control character; a field in double
// quotes is taken without them (a doubled quote inside stands for one); a delimiter as
// the last character yields a final empty field. "201|a|b" gives three fields.
QStringList SplitReply(const QString& text, QChar delimiter);

} // namespace nubo
