#pragma once
// An address field: an IPv4 address or pattern ("192.168.*"), an IPv6 address or an
// address prefix ("2001:db8::/32"). It takes the text as typed; whether it can stand in
// a list is for the dialog to say, beside the field, never by rewriting it.

#include <QLineEdit>

namespace nubo {

class TIPAddressEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TIPAddressEdit(QWidget* parent = nullptr);
    // The text without blanks at either end.
    QString Address() const { return text().trimmed(); }
};

} // namespace nubo
