#pragma once
// An IPv4 address field: up to four decimal fields of 0..255 separated by dots. Its
// address fills missing or empty fields with 0, so an empty field reads "0.0.0.0".

#include <QLineEdit>

namespace nubo {

class TIPAddressEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TIPAddressEdit(QWidget* parent = nullptr);
    QString Address() const;
};

} // namespace nubo
