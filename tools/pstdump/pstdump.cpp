// pstdump FILE [--extract DIR] [--no-hash]
//
// Mounts a PST file through the mail-host object model, walks every folder
// below the store's root (and the root's own items) and prints one JSON
// object per line for each folder, item and attachment. Attachments are
// saved with SaveAsFile; size and SHA-256 are of the file written. With
// --extract they are kept in DIR (as <n>-<name>, shortened as the program
// shortens names too long for a file name, never over a file), else saved
// into a temporary folder and removed. Attachments that came out of a signed
// message carry "wrapper": "signed".

#include "diagnostics/Failure.h"
#include "fs/FileNames.h"
#include "mailhost/model/Registry.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

using namespace parcelon;
using namespace parcelon::mailhost;
using namespace Qt::StringLiterals;

namespace {

struct Options {
    QString file;
    QString extractDir;
    bool hash = true;
};

void print(const QJsonObject& object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
}

QString failureText(const std::exception& e)
{
    return failureDescription(e);
}

class Dumper {
public:
    Dumper(const Options& options, QString outputDir) : m_options(options), m_outputDir(std::move(outputDir)) {}

    void walk(const std::shared_ptr<Folder>& folder, const QJsonArray& path)
    {
        std::shared_ptr<ItemCollection> items;
        try {
            items = folder->Items();
        } catch (const std::exception& e) {
            print({{u"type"_s, u"folder"_s}, {u"path"_s, path}, {u"error"_s, failureText(e)}});
        }
        const std::int64_t count = items ? items->count() : 0;
        if (items)
            print({{u"type"_s, u"folder"_s}, {u"path"_s, path}, {u"items"_s, static_cast<qint64>(count)}});
        for (std::int64_t j = 1; j <= count; ++j)
            item(items, j, path);

        std::shared_ptr<FolderCollection> subfolders;
        try {
            subfolders = folder->Folders();
        } catch (const std::exception& e) {
            print({{u"type"_s, u"subfolders"_s}, {u"path"_s, path}, {u"error"_s, failureText(e)}});
            return;
        }
        for (std::int64_t i = 1; i <= subfolders->count(); ++i) {
            try {
                auto sub = subfolders->Item(i);
                QJsonArray subPath = path;
                subPath.append(sub->Name());
                walk(sub, subPath);
            } catch (const std::exception& e) {
                print({{u"type"_s, u"folder"_s},
                       {u"path"_s, path},
                       {u"position"_s, static_cast<qint64>(i)},
                       {u"error"_s, failureText(e)}});
            }
        }
    }

private:
    void item(const std::shared_ptr<ItemCollection>& items, std::int64_t j, const QJsonArray& path)
    {
        QJsonObject line{{u"type"_s, u"item"_s}, {u"folder"_s, path}, {u"position"_s, static_cast<qint64>(j)}};
        std::shared_ptr<Item> item;
        std::shared_ptr<AttachmentCollection> attachments;
        try {
            item = items->Item(j);
            line[u"class"_s] = item->Class();
            line[u"messageClass"_s] = item->MessageClass();
            attachments = item->Attachments();
        } catch (const std::exception& e) {
            line[u"error"_s] = failureText(e);
        }
        print(line);
        const std::int64_t count = attachments ? attachments->count() : 0;
        for (std::int64_t k = 1; k <= count; ++k)
            attachment(attachments, j, k, path);
    }

    void attachment(const std::shared_ptr<AttachmentCollection>& attachments, std::int64_t j, std::int64_t k,
                    const QJsonArray& path)
    {
        QJsonObject line{{u"type"_s, u"attachment"_s},
                         {u"folder"_s, path},
                         {u"item"_s, static_cast<qint64>(j)},
                         {u"position"_s, static_cast<qint64>(k)}};
        try {
            auto attachment = attachments->Item(k);
            const QString name = attachment->fileName();
            line[u"fileName"_s] = name;
            if (const QString wrapper = attachment->wrapper(); !wrapper.isEmpty())
                line[u"wrapper"_s] = wrapper;
            const QString numbered = u"%1-%2"_s.arg(++m_saved, 6, 10, QChar(u'0')).arg(safeName(name));
            const QString target = m_outputDir + u'/' + fittingFileName(numbered);
            attachment->SaveAsFile(target);
            // The file as saves spell its name: UTF-8, an unpaired surrogate as "?".
            QFile file(QString::fromUtf8(target.toUtf8()));
            line[u"size"_s] = static_cast<qint64>(file.size());
            if (m_options.hash && file.open(QIODevice::ReadOnly)) {
                QCryptographicHash sha(QCryptographicHash::Sha256);
                sha.addData(&file);
                line[u"sha256"_s] = QString::fromLatin1(sha.result().toHex());
            }
            if (m_options.extractDir.isEmpty())
                file.remove();
        } catch (const std::exception& e) {
            line[u"error"_s] = failureText(e);
        }
        print(line);
    }

    // Names that cannot be file names here still get saved for comparison.
    static QString safeName(QString name)
    {
        name.replace(u'/', u'_').replace(QChar(0), u'_');
        return name.isEmpty() || name == u"."_s || name == u".."_s ? u"_"_s : name;
    }

    const Options& m_options;
    QString m_outputDir;
    int m_saved = 0;
};

std::optional<Options> parse(const QStringList& args)
{
    Options options;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == u"--extract"_s && i + 1 < args.size())
            options.extractDir = args[++i];
        else if (args[i] == u"--no-hash"_s)
            options.hash = false;
        else if (options.file.isEmpty() && !args[i].startsWith(u"--"_s))
            options.file = args[i];
        else
            return std::nullopt;
    }
    if (options.file.isEmpty())
        return std::nullopt;
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const auto options = parse(QCoreApplication::arguments());
    if (!options) {
        std::fputs("usage: pstdump FILE [--extract DIR] [--no-hash]\n", stderr);
        return 2;
    }
    QTemporaryDir temporary;
    QString outputDir = options->extractDir;
    if (outputDir.isEmpty())
        outputDir = temporary.path();
    else if (!QDir().mkpath(outputDir)) {
        std::fprintf(stderr, "pstdump: cannot create %s\n", qPrintable(outputDir));
        return 1;
    }

    try {
        auto application = Registry::global().CreateObject(kApplicationProgId);
        auto mapi = application->GetNamespace(u"MAPI"_s);
        mapi->AddStore(options->file);
        auto root = mapi->Folders()->GetLast();
        Dumper(*options, outputDir).walk(root, QJsonArray());
        mapi->RemoveStore(root);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pstdump: %s\n", qPrintable(failureDescription(e)));
        return 1;
    }
    return 0;
}
