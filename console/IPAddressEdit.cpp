#include "console/IPAddressEdit.h"

namespace nubo {

TIPAddressEdit::TIPAddressEdit(QWidget* parent) : QLineEdit(parent) {
    setPlaceholderText(QStringLiteral("예: 192.168.0.5, 192.168.*, 2001:db8::/32"));
}

} // namespace nubo
