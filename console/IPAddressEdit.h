#pragma once
// An address field: up to four decimal fields of 0..255 separated by dots, whose address
// fills missing or empty fields with 0 (an empty field reads "0.0.0.0"); or an IPv6
// address or an address prefix ("2001:db8::/32", "10.0.0.0/8"), taken as typed.

#include <QLineEdit>

namespace nubo {

class TIPAddressEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TIPAddressEdit(QWidget* parent = nullptr);
    QString Address() const;
};

} // namespace nubo
