#include "displaytext.h"

QString sanitizedDisplayText(const QString &text)
{
    constexpr qsizetype maxLength = 64;
    QString shown;
    for (const QChar c : text) {
        // Cc: control characters; Cf: format characters, the bidirectional overrides among them.
        if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
            shown.append(c);
    }
    if (shown.size() > maxLength)
        shown = shown.left(maxLength - 1) + QChar(0x2026);
    return shown;
}
