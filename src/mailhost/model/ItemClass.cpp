#include "mailhost/model/ItemClass.h"

#include <QStringList>

namespace parcelon::mailhost {

namespace {

struct ClassRule {
    const char16_t* prefix;
    int itemClass;
};

// The longer of two overlapping prefixes comes first.
constexpr ClassRule kRules[] = {
    {u"IPM.Note", 43},
    {u"IPM.Post", 45},
    {u"IPM.Appointment", 26},
    {u"IPM.Schedule.Meeting.Request", 53},
    {u"IPM.Schedule.Meeting.Canceled", 54},
    {u"IPM.Schedule.Meeting.Resp.Neg", 55},
    {u"IPM.Schedule.Meeting.Resp.Pos", 56},
    {u"IPM.Schedule.Meeting.Resp.Tent", 57},
    {u"IPM.Schedule.Meeting.Notification.Forward", 181},
    {u"IPM.Contact", 40},
    {u"IPM.DistList", 69},
    {u"IPM.TaskRequest.Update", 50},
    {u"IPM.TaskRequest.Accept", 51},
    {u"IPM.TaskRequest.Decline", 52},
    {u"IPM.TaskRequest", 49},
    {u"IPM.Task", 48},
    {u"IPM.StickyNote", 44},
    {u"IPM.Activity", 42},
    {u"IPM.Document", 41},
    {u"IPM.Remote", 47},
    {u"IPM.Sharing", 104},
    {u"IPM.Storage", 113},
    {u"REPORT", 46},
};

// True when `segments` starts with the segments of `prefix`.
bool startsWithSegments(const QStringList& segments, const QStringList& prefix)
{
    if (prefix.size() > segments.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i)
        if (segments.at(i).compare(prefix.at(i), Qt::CaseInsensitive) != 0)
            return false;
    return true;
}

} // namespace

int itemClassOf(const QString& messageClass)
{
    const QStringList segments = messageClass.trimmed().split(u'.');
    for (const ClassRule& rule : kRules)
        if (startsWithSegments(segments, QString::fromUtf16(rule.prefix).split(u'.')))
            return rule.itemClass;
    return kMailItemClass;
}

} // namespace parcelon::mailhost
