#include "online/ReplySplit.h"

namespace nubo {

namespace {
bool Blank(QChar c) {
    return c.unicode() <= u' ';
}
} // namespace

QStringList SplitReply(const QString& text, QChar delimiter) {
    QStringList out;
    const qsizetype n = text.size();
    qsizetype i = 0;
    auto skipBlanks = [&] {
        while (i < n && Blank(text[i])) ++i;
    };
    skipBlanks();
    while (i < n) {
        QString field;
        if (text[i] == u'"') {
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        field += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i++];
            }
        } else {
            const qsizetype start = i;
            while (i < n && !Blank(text[i]) && text[i] != delimiter) ++i;
            field = text.mid(start, i - start);
        }
        out << field;
        skipBlanks();
        if (i < n && text[i] == delimiter) {
            if (i + 1 == n) out << QString();
            ++i;
            skipBlanks();
        }
    }
    return out;
}

} // namespace nubo
