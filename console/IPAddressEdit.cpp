#include "console/IPAddressEdit.h"

#include <QRegularExpressionValidator>

namespace nubo {

TIPAddressEdit::TIPAddressEdit(QWidget* parent) : QLineEdit(parent) {
    // An IPv4 address as it is typed, or an IPv6 address or a prefix (checked when used).
    static const QRegularExpression address(QStringLiteral("^((25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])?\\.){0,3}"
                                                           "(25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])?$|"
                                                           "^[0-9A-Fa-f:.]*[:/][0-9A-Fa-f:./]*$"));
    setValidator(new QRegularExpressionValidator(address, this));
    setPlaceholderText(QStringLiteral("0.0.0.0"));
}

QString TIPAddressEdit::Address() const {
    if (text().contains(u':') || text().contains(u'/')) return text().trimmed();
    QStringList fields = text().split(u'.');
    fields.resize(4);
    for (QString& f : fields) f = QString::number(f.toInt()); // empty is 0; "010" is 10
    return fields.join(u'.');
}

} // namespace nubo
