#include "sim/simfaults.h"

#include <QStringList>

namespace {

struct KindInfo {
    const char *name;
    TSimFaultKind kind;
    int minArgs;
    int maxArgs;
};

constexpr KindInfo kKinds[] = {
    {"silent", TSimFaultKind::Silent, 0, 0},
    {"bad-header", TSimFaultKind::BadHeader, 0, 0},
    {"bad-payload", TSimFaultKind::BadPayload, 0, 0},
    {"wrong-sender", TSimFaultKind::WrongSender, 0, 1},
    {"wrong-receiver", TSimFaultKind::WrongReceiver, 0, 1},
    {"split", TSimFaultKind::Split, 1, 2},
    {"double", TSimFaultKind::Double, 0, 0},
    {"garbage", TSimFaultKind::Garbage, 0, 1},
    {"delay", TSimFaultKind::Delay, 1, 1},
    {"block-count-0", TSimFaultKind::BlockCount0, 0, 0},
    {"wrong-block", TSimFaultKind::WrongBlock, 0, 0},
    {"wrong-kind", TSimFaultKind::WrongKind, 0, 1},
    {"cut", TSimFaultKind::Cut, 0, 1},
};

bool parseCount(const QString &text, int &value)
{
    if (text.isEmpty() || text.size() > 9)
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    value = text.toInt();
    return true;
}

} // namespace

QString TSimFaultSchedule::KindName(TSimFaultKind kind)
{
    for (const KindInfo &k : kKinds)
        if (k.kind == kind)
            return QString::fromLatin1(k.name);
    return QString();
}

bool TSimFaultSchedule::Parse(const QString &text, TSimFaultEntry &entry, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("fault \"%1\": %2").arg(text, why);
        return false;
    };
    const QStringList parts = text.trimmed().split(u':');
    if (parts.size() < 2)
        return fail(QStringLiteral("expected WHEN:KIND[:ARG]"));

    entry = TSimFaultEntry();
    for (const QString &item : parts[0].split(u',')) {
        TSimFaultRange range;
        const qsizetype dash = item.indexOf(u'-');
        if (dash < 0) {
            if (!parseCount(item, range.First))
                return fail(QStringLiteral("\"%1\" is no request number").arg(item));
            range.Last = range.First;
        } else {
            if (!parseCount(item.left(dash), range.First))
                return fail(QStringLiteral("\"%1\" is no request range").arg(item));
            const QString last = item.mid(dash + 1);
            if (last.isEmpty())
                range.Last = -1;
            else if (!parseCount(last, range.Last) || range.Last < range.First)
                return fail(QStringLiteral("\"%1\" is no request range").arg(item));
        }
        if (range.First < 1)
            return fail(QStringLiteral("requests are counted from 1"));
        entry.When.append(range);
    }

    const KindInfo *info = nullptr;
    for (const KindInfo &k : kKinds)
        if (parts[1] == QLatin1String(k.name))
            info = &k;
    if (!info)
        return fail(QStringLiteral("unknown kind \"%1\"").arg(parts[1]));
    const int args = int(parts.size()) - 2;
    if (args < info->minArgs || args > info->maxArgs)
        return fail(info->maxArgs == 0 ? QStringLiteral("%1 takes no argument").arg(parts[1])
                                       : QStringLiteral("wrong number of arguments for %1").arg(parts[1]));
    entry.Fault.Kind = info->kind;
    int *argSlots[] = {&entry.Fault.Arg, &entry.Fault.Arg2};
    for (int i = 0; i < args; ++i)
        if (!parseCount(parts[2 + i], *argSlots[i]))
            return fail(QStringLiteral("\"%1\" is no whole number").arg(parts[2 + i]));

    const bool isAddress = info->kind == TSimFaultKind::WrongSender || info->kind == TSimFaultKind::WrongReceiver
                           || info->kind == TSimFaultKind::WrongKind;
    if (isAddress && entry.Fault.Arg > 255)
        return fail(QStringLiteral("a byte value is at most 255"));
    if (info->kind == TSimFaultKind::WrongReceiver && entry.Fault.Arg == 0)
        return fail(QStringLiteral("receiver 0 is the right one"));
    if (info->kind == TSimFaultKind::WrongKind && entry.Fault.Arg == 1)
        return fail(QStringLiteral("payload kind 1 is the right one"));
    if (info->kind == TSimFaultKind::Garbage && (entry.Fault.Arg == 0 || entry.Fault.Arg > 4096))
        return fail(QStringLiteral("1 to 4096 bytes of garbage"));
    if (info->kind == TSimFaultKind::Cut && entry.Fault.Arg == 0)
        return fail(QStringLiteral("a cut takes at least 1 byte"));
    if ((info->kind == TSimFaultKind::Split || info->kind == TSimFaultKind::Delay) && entry.Fault.Arg > 600000)
        return fail(QStringLiteral("at most 600000 ms"));
    return true;
}

bool TSimFaultSchedule::Add(const QString &text, QString *error)
{
    TSimFaultEntry entry;
    if (!Parse(text, entry, error))
        return false;
    entries_.append(entry);
    return true;
}

QList<TSimFault> TSimFaultSchedule::For(int request) const
{
    QList<TSimFault> out;
    for (const TSimFaultEntry &entry : entries_)
        for (const TSimFaultRange &range : entry.When)
            if (request >= range.First && (range.Last < 0 || request <= range.Last)) {
                out.append(entry.Fault);
                break;
            }
    return out;
}
