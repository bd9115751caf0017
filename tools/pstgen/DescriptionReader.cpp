#include "pstgen/DescriptionReader.h"

#include "pstgen/ValueStorage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace parcelon::pstgen {

namespace {

constexpr double kLargestExactInteger = 9007199254740992.0; // 2^53

// One pass over a JSON description; keeps the first error.
class Parser {
public:
    explicit Parser(QString baseDir) : m_baseDir(std::move(baseDir)) {}

    std::optional<QString> error;

    Description description(const QJsonObject& o)
    {
        Description d;
        allowKeys(o, QStringLiteral("description"),
                  {u"format", u"encoding", u"codePage", u"storeName", u"seed", u"baseTime", u"templates", u"root"});
        const QString where = QStringLiteral("description");
        if (o.contains(u"templates"))
            m_templates = object(o[u"templates"], where + QStringLiteral(".templates"));
        if (o.contains(u"format")) {
            const QString f = string(o[u"format"], where + QStringLiteral(".format"));
            if (f == u"unicode")
                d.format = Format::Unicode;
            else if (f == u"unicode4k")
                d.format = Format::Unicode4k;
            else if (f == u"ansi")
                d.format = Format::Ansi;
            else
                fail(where + QStringLiteral(".format"),
                     QStringLiteral("\"%1\" is not \"unicode\", \"unicode4k\" or \"ansi\"").arg(f));
        }
        if (o.contains(u"codePage"))
            d.codePage = codePage(o[u"codePage"], where + QStringLiteral(".codePage"));
        if (o.contains(u"encoding")) {
            const QString e = string(o[u"encoding"], where + QStringLiteral(".encoding"));
            if (e == u"none")
                d.encoding = pst::Encoding::None;
            else if (e == u"permute" || e == u"compressible")
                d.encoding = pst::Encoding::Permute;
            else if (e == u"cyclic" || e == u"high")
                d.encoding = pst::Encoding::Cyclic;
            else
                fail(where + QStringLiteral(".encoding"),
                     QStringLiteral("\"%1\" is not \"none\", \"permute\" or \"cyclic\"").arg(e));
        }
        if (o.contains(u"storeName"))
            d.storeName = string(o[u"storeName"], where + QStringLiteral(".storeName"));
        if (o.contains(u"seed"))
            d.seed = integer(o[u"seed"], where + QStringLiteral(".seed"));
        if (o.contains(u"baseTime"))
            d.baseTime = time(o[u"baseTime"], where + QStringLiteral(".baseTime"));
        if (o.contains(u"root")) {
            const QString name = d.root.name;
            d.root = folder(resolved(o[u"root"], QStringLiteral("root")), QStringLiteral("root"), true);
            if (d.root.name.isEmpty())
                d.root.name = name;
        }
        return d;
    }

private:
    // An object with "use": the named template's keys, overridden by its own.
    QJsonObject resolved(const QJsonValue& v, const QString& where, int depth = 0)
    {
        QJsonObject o = object(v, where);
        if (!o.contains(u"use"))
            return o;
        const QString name = string(o[u"use"], where + QStringLiteral(".use"));
        if (!m_templates.contains(name)) {
            fail(where + QStringLiteral(".use"), QStringLiteral("there is no template \"%1\"").arg(name));
            return {};
        }
        if (depth > 16) {
            fail(where + QStringLiteral(".use"), QStringLiteral("templates use each other in a circle"));
            return {};
        }
        QJsonObject merged = resolved(m_templates[name], QStringLiteral("templates.") + name, depth + 1);
        o.remove(u"use");
        for (auto it = o.begin(); it != o.end(); ++it)
            merged[it.key()] = it.value();
        return merged;
    }

    void fail(const QString& where, const QString& what)
    {
        if (!error)
            error = where + QStringLiteral(": ") + what;
    }

    void allowKeys(const QJsonObject& o, const QString& where, std::initializer_list<QStringView> keys)
    {
        for (auto it = o.begin(); it != o.end(); ++it) {
            bool known = false;
            for (const QStringView k : keys)
                known = known || it.key() == k;
            if (!known)
                fail(where, QStringLiteral("\"%1\" is not a known key").arg(it.key()));
        }
    }

    QJsonObject object(const QJsonValue& v, const QString& where)
    {
        if (!v.isObject())
            fail(where, QStringLiteral("an object is expected"));
        return v.toObject();
    }

    QJsonArray array(const QJsonValue& v, const QString& where)
    {
        if (!v.isArray())
            fail(where, QStringLiteral("a list is expected"));
        return v.toArray();
    }

    QString string(const QJsonValue& v, const QString& where)
    {
        if (!v.isString())
            fail(where, QStringLiteral("a text is expected"));
        return v.toString();
    }

    // A text, or null for "leave it out".
    std::optional<QString> optionalString(const QJsonValue& v, const QString& where)
    {
        if (v.isNull())
            return std::nullopt;
        return string(v, where);
    }

    bool boolean(const QJsonValue& v, const QString& where)
    {
        if (!v.isBool())
            fail(where, QStringLiteral("true or false is expected"));
        return v.toBool();
    }

    std::uint64_t integer(const QJsonValue& v, const QString& where)
    {
        const double d = v.toDouble(-1);
        if (!v.isDouble() || d < 0 || d > kLargestExactInteger || std::floor(d) != d) {
            fail(where, QStringLiteral("a whole number of at least 0 is expected"));
            return 0;
        }
        return std::uint64_t(d);
    }

    int codePage(const QJsonValue& v, const QString& where)
    {
        const auto number = int(std::min<std::uint64_t>(integer(v, where), 0xFFFF));
        if (!TextEncoding::knows(number))
            fail(where, QStringLiteral("code page %1 is not known").arg(number));
        return number;
    }

    Range range(const QJsonValue& v, const QString& where)
    {
        if (v.isObject()) {
            const QJsonObject o = v.toObject();
            allowKeys(o, where, {u"min", u"max"});
            if (!o.contains(u"min") || !o.contains(u"max"))
                fail(where, QStringLiteral("a range needs \"min\" and \"max\""));
            const Range r{integer(o[u"min"], where + QStringLiteral(".min")), integer(o[u"max"], where + QStringLiteral(".max"))};
            if (r.max < r.min)
                fail(where, QStringLiteral("\"max\" is less than \"min\""));
            return r;
        }
        return Range::fixed(integer(v, where));
    }

    QDateTime time(const QJsonValue& v, const QString& where)
    {
        QDateTime t = QDateTime::fromString(string(v, where), Qt::ISODate);
        if (!t.isValid()) {
            fail(where, QStringLiteral("a date and time such as \"2024-03-04T09:30:00Z\" is expected"));
            return {};
        }
        if (t.timeSpec() == Qt::LocalTime) // no offset given: UTC, never the machine's zone
            t.setTimeSpec(Qt::UTC);
        return t;
    }

    Folder folder(const QJsonObject& o, const QString& where, bool isRoot)
    {
        Folder f;
        if (isRoot)
            allowKeys(o, where, {u"name", u"items", u"folders"});
        else
            allowKeys(o, where, {u"name", u"containerClass", u"repeat", u"items", u"folders"});
        f.name.clear();
        if (o.contains(u"name"))
            f.name = string(o[u"name"], where + QStringLiteral(".name"));
        else if (!isRoot)
            fail(where, QStringLiteral("a folder needs a \"name\""));
        if (o.contains(u"containerClass"))
            f.containerClass = string(o[u"containerClass"], where + QStringLiteral(".containerClass"));
        if (o.contains(u"repeat"))
            f.repeat = range(o[u"repeat"], where + QStringLiteral(".repeat"));
        const QJsonArray items =
            array(o.value(u"items").isUndefined() ? QJsonArray() : o[u"items"], where + QStringLiteral(".items"));
        for (qsizetype i = 0; i < items.size(); ++i) {
            const QString at = QStringLiteral("%1.items[%2]").arg(where).arg(i);
            f.items.push_back(item(resolved(items[i], at), at));
        }
        const QJsonArray folders =
            array(o.value(u"folders").isUndefined() ? QJsonArray() : o[u"folders"], where + QStringLiteral(".folders"));
        for (qsizetype i = 0; i < folders.size(); ++i) {
            const QString at = QStringLiteral("%1.folders[%2]").arg(where).arg(i);
            f.folders.push_back(folder(resolved(folders[i], at), at, false));
        }
        return f;
    }

    Item item(const QJsonObject& o, const QString& where)
    {
        Item it;
        allowKeys(o, where,
                  {u"class", u"subject", u"senderName", u"senderEmail", u"body", u"htmlBody", u"submitTime", u"deliveryTime",
                   u"recipients", u"attachments", u"repeat", u"codePage"});
        const auto text = [&](QStringView key, QString& into) {
            if (o.contains(key))
                into = string(o[key], where + QLatin1Char('.') + key.toString());
        };
        text(u"class", it.messageClass);
        text(u"subject", it.subject);
        text(u"senderName", it.senderName);
        text(u"senderEmail", it.senderEmail);
        text(u"body", it.body);
        text(u"htmlBody", it.htmlBody);
        if (o.contains(u"submitTime"))
            it.submitTime = time(o[u"submitTime"], where + QStringLiteral(".submitTime"));
        if (o.contains(u"deliveryTime"))
            it.deliveryTime = time(o[u"deliveryTime"], where + QStringLiteral(".deliveryTime"));
        if (o.contains(u"repeat"))
            it.repeat = range(o[u"repeat"], where + QStringLiteral(".repeat"));
        if (o.contains(u"codePage"))
            it.codePage = codePage(o[u"codePage"], where + QStringLiteral(".codePage"));
        if (o.contains(u"recipients")) {
            const QJsonArray list = array(o[u"recipients"], where + QStringLiteral(".recipients"));
            for (qsizetype i = 0; i < list.size(); ++i)
                it.recipients.push_back(recipient(resolved(list[i], QStringLiteral("%1.recipients[%2]").arg(where).arg(i)),
                                                  QStringLiteral("%1.recipients[%2]").arg(where).arg(i)));
        }
        if (o.contains(u"attachments")) {
            const QJsonArray list = array(o[u"attachments"], where + QStringLiteral(".attachments"));
            for (qsizetype i = 0; i < list.size(); ++i) {
                const QString at = QStringLiteral("%1.attachments[%2]").arg(where).arg(i);
                it.attachments.push_back(attachment(resolved(list[i], at), at));
            }
        }
        return it;
    }

    Recipient recipient(const QJsonObject& o, const QString& where)
    {
        Recipient r;
        allowKeys(o, where, {u"name", u"email", u"type"});
        if (o.contains(u"name"))
            r.name = string(o[u"name"], where + QStringLiteral(".name"));
        if (o.contains(u"email"))
            r.email = string(o[u"email"], where + QStringLiteral(".email"));
        if (o.contains(u"type")) {
            const QString t = string(o[u"type"], where + QStringLiteral(".type"));
            if (t == u"to")
                r.type = Recipient::Type::To;
            else if (t == u"cc")
                r.type = Recipient::Type::Cc;
            else if (t == u"bcc")
                r.type = Recipient::Type::Bcc;
            else
                fail(where + QStringLiteral(".type"), QStringLiteral("\"%1\" is not \"to\", \"cc\" or \"bcc\"").arg(t));
        }
        return r;
    }

    Attachment attachment(const QJsonObject& o, const QString& where)
    {
        Attachment a;
        allowKeys(o, where,
                  {u"fileName", u"shortFileName", u"displayName", u"extension", u"mimeType", u"contentId", u"hidden", u"inline",
                   u"method", u"path", u"attachSize", u"content", u"embedded", u"repeat"});
        const auto optionalText = [&](QStringView key, std::optional<QString>& into) {
            if (o.contains(key))
                into = optionalString(o[key], where + QLatin1Char('.') + key.toString());
        };
        optionalText(u"fileName", a.fileName);
        optionalText(u"shortFileName", a.shortFileName);
        optionalText(u"displayName", a.displayName);
        optionalText(u"extension", a.extension);
        optionalText(u"mimeType", a.mimeType);
        optionalText(u"contentId", a.contentId);
        optionalText(u"path", a.path);
        // Names left unsaid follow from the long file name (or, for an
        // embedded message, its subject).
        if (a.fileName && !a.fileName->isEmpty()) {
            if (!o.contains(u"shortFileName"))
                a.shortFromFileName = true;
            if (!o.contains(u"displayName"))
                a.displayName = a.fileName;
            if (!o.contains(u"extension")) {
                const qsizetype dot = a.fileName->lastIndexOf(QLatin1Char('.'));
                if (dot > 0)
                    a.extension = a.fileName->mid(dot);
            }
        }
        if (o.contains(u"hidden"))
            a.hidden = boolean(o[u"hidden"], where + QStringLiteral(".hidden"));
        if (o.contains(u"inline"))
            a.inlined = boolean(o[u"inline"], where + QStringLiteral(".inline"));
        if (o.contains(u"repeat"))
            a.repeat = range(o[u"repeat"], where + QStringLiteral(".repeat"));
        if (o.contains(u"attachSize")) {
            const std::uint64_t size = integer(o[u"attachSize"], where + QStringLiteral(".attachSize"));
            if (size > 0xFFFFFFFF)
                fail(where + QStringLiteral(".attachSize"), QStringLiteral("more than 4 GiB"));
            a.attachSize = std::uint32_t(size);
        }
        if (o.contains(u"embedded")) {
            auto inner = std::make_shared<Item>(
                item(resolved(o[u"embedded"], where + QStringLiteral(".embedded")), where + QStringLiteral(".embedded")));
            if (!o.contains(u"displayName"))
                a.displayName = inner->subject;
            a.embedded = std::move(inner);
            a.method = Attachment::EmbeddedMessage;
        }
        if (o.contains(u"method")) {
            const std::uint64_t m = integer(o[u"method"], where + QStringLiteral(".method"));
            if (m > 7)
                fail(where + QStringLiteral(".method"), QStringLiteral("a method from 0 to 7 is expected"));
            a.method = std::uint32_t(m);
        }
        if (o.contains(u"content"))
            a.content = content(o[u"content"], where + QStringLiteral(".content"));
        else if (a.method == Attachment::ByValue || a.method == Attachment::Ole)
            fail(where, QStringLiteral("an attachment of method %1 needs \"content\"").arg(a.method));
        if (a.method == Attachment::EmbeddedMessage && !a.embedded)
            fail(where, QStringLiteral("an attachment of method 5 needs \"embedded\""));
        return a;
    }

    Content content(const QJsonValue& v, const QString& where)
    {
        const QJsonObject o = resolved(v, where);
        allowKeys(o, where, {u"text", u"base64", u"file", u"random"});
        if (o.size() != 1) {
            fail(where, QStringLiteral("exactly one of \"text\", \"base64\", \"file\" and \"random\" is expected"));
            return {};
        }
        if (o.contains(u"text"))
            return Content::fromBytes(string(o[u"text"], where + QStringLiteral(".text")).toUtf8());
        if (o.contains(u"base64")) {
            const auto decoded =
                QByteArray::fromBase64Encoding(string(o[u"base64"], where + QStringLiteral(".base64")).toLatin1(),
                                               QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                fail(where + QStringLiteral(".base64"), QStringLiteral("not valid base64"));
            return Content::fromBytes(*decoded);
        }
        if (o.contains(u"file")) {
            const QString file = string(o[u"file"], where + QStringLiteral(".file"));
            const QString path = QDir(m_baseDir).absoluteFilePath(file);
            if (!QFileInfo(path).isFile())
                fail(where + QStringLiteral(".file"), QStringLiteral("%1 is not a readable file").arg(path));
            return Content::fromFile(path);
        }
        const QString at = where + QStringLiteral(".random");
        const QJsonObject r = object(o[u"random"], at);
        allowKeys(r, at, {u"seed", u"size", u"style"});
        if (!r.contains(u"size"))
            fail(at, QStringLiteral("random content needs a \"size\""));
        Content c = Content::random(r.contains(u"seed") ? integer(r[u"seed"], at + QStringLiteral(".seed")) : 0,
                                    range(r[u"size"], at + QStringLiteral(".size")));
        if (c.size.max > 0xFFFFFFFFull)
            fail(at + QStringLiteral(".size"), QStringLiteral("more than 4 GiB"));
        if (r.contains(u"style")) {
            const QString s = string(r[u"style"], at + QStringLiteral(".style"));
            if (s == u"text")
                c.style = Content::Style::Text;
            else if (s != u"binary")
                fail(at + QStringLiteral(".style"), QStringLiteral("\"%1\" is not \"binary\" or \"text\"").arg(s));
        }
        return c;
    }

    QString m_baseDir;
    QJsonObject m_templates;
};

} // namespace

pst::Result<Description> DescriptionReader::read(const QByteArray& json, const QString& baseDir)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull())
        return pst::Error(pst::ErrorKind::Corrupt,
                          QStringLiteral("not valid JSON at offset %1: %2").arg(parseError.offset).arg(parseError.errorString()));
    if (!doc.isObject())
        return pst::Error(pst::ErrorKind::Corrupt, QStringLiteral("a description is a JSON object"));
    Parser parser(baseDir);
    Description d = parser.description(doc.object());
    if (parser.error)
        return pst::Error(pst::ErrorKind::Corrupt, *parser.error);
    return d;
}

pst::Result<Description> DescriptionReader::readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return pst::Error(pst::ErrorKind::Io, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    auto d = read(file.readAll(), QFileInfo(path).absolutePath());
    if (!d)
        return d.error().withContext(pst::Where{path, {}});
    return d;
}

QString DescriptionReader::shortFileName(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? fileName.left(dot) : fileName;
    const QString extension = dot > 0 ? fileName.mid(dot + 1) : QString();
    const auto plain = [](const QString& s) {
        for (const QChar c : s)
            if (c.unicode() <= 0x20 || c.unicode() >= 0x7F || QStringLiteral(".\"*+,/:;<=>?[\\]|").contains(c))
                return false;
        return true;
    };
    if (!base.isEmpty() && base.size() <= 8 && extension.size() <= 3 && plain(base) && plain(extension))
        return fileName;
    const auto clean = [](const QString& s) {
        QString out;
        for (const QChar c : s) {
            if (c == QLatin1Char(' ') || c == QLatin1Char('.'))
                continue;
            out += (c.unicode() < 0x20 || c.unicode() >= 0x7F || QStringLiteral("\"*+,/:;<=>?[\\]|").contains(c))
                ? QLatin1Char('_')
                : c;
        }
        return out;
    };
    QString shortName = clean(base).left(6) + QStringLiteral("~1");
    const QString shortExtension = clean(extension).left(3);
    if (!shortExtension.isEmpty())
        shortName += QLatin1Char('.') + shortExtension;
    return shortName;
}

} // namespace parcelon::pstgen
