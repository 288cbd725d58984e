#include "console/LimitFields.h"

#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

#include "console/DialogSeams.h"
#include "console/QtText.h"

namespace nubo {

namespace {

std::string Text(const QLineEdit* e) {
    return e->text().toStdString();
}

// The limit fields in the order of kLimitRanges.
constexpr const char* kErrorNames[] = {"lblMaxUserError", "lblMaxUserIPError", "lblTimeOutError", "lblMaxSpeedError",
                                       "lblMaxUpSpeedError"};

} // namespace

TLimitFields::TLimitFields(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {
    auto* box = new QVBoxLayout(this);
    edit_MaxUser = AddField(box, "edit_MaxUser", QStringLiteral("[ ID 당 중복 연결허용 수 (0 : 제한없음) ]"));
    edit_MaxUserIP = AddField(box, "edit_MaxUserIP", QStringLiteral("[ IP 당 중복 연결허용 수 (0 : 제한없음) ]"));
    edit_Time_Out = AddField(box, "edit_Time_Out", QStringLiteral("[ 대기 종료 시간 (Max=600 분, 0 : 제한없음) ]"));
    edit_MaxSpeed = AddField(box, "edit_MaxSpeed", QStringLiteral("[ Download 속도 제한 (kb 단위, 0 : 제한없음) ]"));
    edit_MaxUpSpeed = AddField(box, "edit_MaxUpSpeed", QStringLiteral("[ Upload 속도 제한 (kb 단위, 0 : 제한없음) ]"));
    edit_EnterMessage = AddField(box, "edit_EnterMessage", QStringLiteral("[ 접속 환영 메세지 ]"));
    edit_ExitMessage = AddField(box, "edit_ExitMessage", QStringLiteral("[ 접속 해제 메세지 ]"));
    box->addStretch();
    const QLineEdit* limits[] = {edit_MaxUser, edit_MaxUserIP, edit_Time_Out, edit_MaxSpeed, edit_MaxUpSpeed};
    for (size_t i = 0; i < LimitErrors.size(); ++i) {
        LimitErrors[i] = ErrorLabel(kErrorNames[i], this);
        box->insertWidget(box->indexOf(limits[i]) + 1, LimitErrors[i]);
    }
    for (QLineEdit* e : {edit_MaxUser, edit_MaxUserIP, edit_Time_Out, edit_MaxSpeed, edit_MaxUpSpeed, edit_EnterMessage,
                         edit_ExitMessage})
        connect(e, &QLineEdit::textEdited, this, &TLimitFields::Edited);
}

bool TLimitFields::Check() {
    const QLineEdit* limits[] = {edit_MaxUser, edit_MaxUserIP, edit_Time_Out, edit_MaxSpeed, edit_MaxUpSpeed};
    bool ok = true;
    for (size_t i = 0; i < LimitErrors.size(); ++i) {
        const bool valid = ValidLimit(kLimitRanges[i].Key, Text(limits[i]));
        ShowError(LimitErrors[i], valid ? QString()
                                        : QStringLiteral("0부터 %1까지의 정수를 입력하세요.")
                                              .arg(QLocale(QLocale::Korean).toString(qlonglong(kLimitRanges[i].Max))));
        ok = ok && valid;
    }
    return ok;
}

void TLimitFields::Load(const TUserFile::TAccount& a) {
    edit_MaxUser->setText(Q(a.MaxUser));
    edit_MaxUserIP->setText(Q(a.MaxUserIP));
    edit_Time_Out->setText(Q(a.TimeOut));
    edit_MaxSpeed->setText(Q(a.MaxSpeed));
    edit_MaxUpSpeed->setText(Q(a.MaxUpSpeed));
    edit_EnterMessage->setText(Q(a.EnterMessage));
    edit_ExitMessage->setText(Q(a.ExitMessage));
    Check();
}

void TLimitFields::Store(TUserFile::TAccount& a) const {
    a.MaxUser = Text(edit_MaxUser);
    a.MaxUserIP = Text(edit_MaxUserIP);
    a.TimeOut = Text(edit_Time_Out);
    a.MaxSpeed = Text(edit_MaxSpeed);
    a.MaxUpSpeed = Text(edit_MaxUpSpeed);
    a.EnterMessage = Text(edit_EnterMessage);
    a.ExitMessage = Text(edit_ExitMessage);
}

void TLimitFields::Clear() {
    for (QLineEdit* e : {edit_MaxUser, edit_MaxUserIP, edit_Time_Out, edit_MaxSpeed, edit_MaxUpSpeed, edit_EnterMessage,
                         edit_ExitMessage})
        e->clear();
    for (QLabel* l : LimitErrors) ShowError(l, {});
}

} // namespace nubo
