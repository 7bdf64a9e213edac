#include "sessionstats.h"

#include <algorithm>
#include <limits>

qint64 SessionStats::contextPercent() const
{
    if (contextWindowSize <= 0)
        return 0;
    // 128-bit intermediate: the sum times 100 cannot overflow, whatever the counts hold.
    __extension__ using Wide = __int128;
    const Wide percent = (Wide(lastContextTokens) + lastOutputTokens) * 100 / contextWindowSize;
    return qint64(std::clamp<Wide>(percent, std::numeric_limits<qint64>::min(), 100));
}

QString projectName(const QString &cwd)
{
    QString path = cwd;
    while (path.size() > 1 && (path.endsWith(u'/') || path.endsWith(u'\\')))
        path.chop(1);
    const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return slash >= 0 && path.size() > 1 ? path.mid(slash + 1) : path;
}
