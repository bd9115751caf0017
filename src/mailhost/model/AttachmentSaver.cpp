#include "mailhost/model/AttachmentSaver.h"

#include "mailhost/model/NewFile.h"
#include "mailhost/model/ReadAhead.h"
#include "mailhost/pst/blocks/TreeReader.h"
#include "mailhost/msg/MsgWriter.h"
#include "mailhost/pst/messaging/PropertyIds.h"

#include <optional>

namespace parcelon::mailhost {

using namespace Qt::StringLiterals;
using pst::Error;
using pst::ErrorKind;
using pst::Result;

namespace {

QString madeUpName(QString name)
{
    for (QChar& c : name)
        if (c == u'/' || c == u'\\' || c == QChar(0))
            c = u'_';
    return name;
}

// Values this large are read on a thread of their own while written.
constexpr std::uint64_t kReadAheadBytes = 256 * 1024;

Result<void> writeBytes(pst::Bytes bytes, const QString& path)
{
    auto file = NewFile::create(path);
    if (!file)
        return file.error();
    if (auto r = file->write(bytes); !r)
        return r;
    return file->commit();
}

// Writes the bytes of a value into a new file, a run of blocks at a time.
Result<void> writeValue(const pst::Blocks& blocks, const pst::ValueLocation& value, const QString& path)
{
    if (!value.tree)
        return writeBytes(value.heapBytes, path);
    auto file = NewFile::create(path);
    if (!file)
        return file.error();
    pst::TreeReader reader(blocks, *value.tree);
    std::vector<std::uint8_t> piece;
    if (value.tree->size() < kReadAheadBytes) {
        while (!reader.atEnd()) {
            if (auto r = reader.next(piece); !r)
                return r;
            if (auto r = file->write(piece); !r)
                return r;
        }
        return file->commit();
    }
    ReadAhead ahead([&reader](std::vector<std::uint8_t>& next) { return reader.next(next); });
    for (;;) {
        if (auto r = ahead.take(piece); !r)
            return r;
        if (piece.empty())
            return file->commit();
        if (auto r = file->write(piece); !r)
            return r;
    }
}

} // namespace

QString attachmentFileName(const pst::Attachment& attachment)
{
    if (attachment.method() == pst::AttachMethod::EmbeddedMessage) {
        QString name = attachment.displayName();
        if (name.isEmpty())
            if (auto message = attachment.embeddedMessage())
                name = message->subject();
        name = name.isEmpty() ? u"Untitled Attachment"_s : madeUpName(name);
        if (!name.endsWith(u".msg"_s, Qt::CaseInsensitive))
            name += u".msg"_s;
        return name;
    }
    if (QString name = attachment.longFileName(); !name.isEmpty())
        return name;
    if (QString name = attachment.fileName(); !name.isEmpty())
        return name;
    if (QString name = attachment.displayName(); !name.isEmpty())
        return madeUpName(name);
    return u"Untitled Attachment"_s;
}

namespace {

// Why `name` cannot be the name of a file in the target folder, if it cannot.
std::optional<Error> refusedName(const QString& name, const QString& what)
{
    const auto refuse = [&](const QString& why) {
        return Error(ErrorKind::BadName,
                     u"The attachment \"%1\" of %2 cannot be saved under its name: %3"_s.arg(name, what, why));
    };
    if (name.contains(u'/'))
        return refuse(u"it holds a \"/\""_s);
    if (name.contains(QChar(0)))
        return refuse(u"it holds a NUL character"_s);
    if (name == u"."_s || name == u".."_s)
        return refuse(u"\"%1\" names a folder"_s.arg(name));
    return std::nullopt;
}

} // namespace

Result<void> saveAttachment(const pst::Attachment& attachment, const QString& name, const QString& path,
                            const std::vector<std::uint8_t>* readAhead)
{
    if (auto refused = refusedName(name, attachment.what()))
        return *refused;

    const auto context = [&](const Error& error) {
        // Descriptions from the file's structures already say where they are.
        const QString description = error.description().startsWith(attachment.what())
                                        ? u"Cannot save the attachment \"%1\" as %2: %3"_s.arg(name, path, error.description())
                                        : u"Cannot save the attachment \"%1\" of %2 as %3: %4"_s.arg(
                                            name, attachment.what(), path, error.description());
        return Error(error.kind(), description, error.systemError());
    };
    const pst::Blocks& blocks = attachment.properties().store().blocks();
    const int method = attachment.method();
    const bool readable = method == pst::AttachMethod::None || method == pst::AttachMethod::ByValue
                          || method == pst::AttachMethod::Storage;
    if (readAhead && readable) {
        if (auto r = writeBytes(*readAhead, path); !r)
            return context(r.error());
        return {};
    }
    switch (method) {
    case pst::AttachMethod::EmbeddedMessage: {
        // The attached message as a .msg file of its own.
        auto message = attachment.embeddedMessage();
        if (!message)
            return context(message.error());
        auto file = NewFile::create(path);
        if (!file)
            return context(file.error());
        const msg::Output output{[&file](pst::Bytes bytes) { return file->write(bytes); },
                                 [&file](std::uint64_t offset, pst::Bytes bytes) { return file->writeAt(offset, bytes); }};
        if (auto r = msg::MsgWriter::write(*message, output); !r)
            return context(r.error());
        if (auto r = file->commit(); !r)
            return context(r.error());
        return {};
    }
    case pst::AttachMethod::Storage: {
        auto storage = attachment.storage();
        if (!storage)
            return context(storage.error());
        pst::ValueLocation value;
        value.tree = std::move(storage).value();
        if (auto r = writeValue(blocks, value, path); !r)
            return context(r.error());
        return {};
    }
    case pst::AttachMethod::ByReference:
    case pst::AttachMethod::ByReferenceResolve:
    case pst::AttachMethod::ByReferenceOnly:
    case pst::AttachMethod::ByWebReference: {
        const QString target = attachment.pathName();
        return Error(ErrorKind::Unsupported,
                     u"The attachment \"%1\" of %2 is only a link to %3; there is no content to save"_s.arg(
                         name, attachment.what(), target.isEmpty() ? u"a file that is not named"_s : u"\"%1\""_s.arg(target)));
    }
    default: {
        auto content = attachment.content();
        if (!content)
            return context(content.error());
        if (auto r = writeValue(blocks, *content, path); !r)
            return context(r.error());
        return {};
    }
    }
}

// --- Content of no attachment of its own ---------------------------------------

Result<void> saveContent(const QString& name, const QString& what, const QString& path,
                         const std::function<Result<void>(const ContentSink&)>& write)
{
    if (auto refused = refusedName(name, what))
        return *refused;
    const auto context = [&](const Error& error) {
        return Error(error.kind(),
                     u"Cannot save the attachment \"%1\" of %2 as %3: %4"_s.arg(name, what, path, error.description()),
                     error.systemError());
    };
    auto file = NewFile::create(path);
    if (!file)
        return context(file.error());
    if (auto r = write([&file](pst::Bytes bytes) { return file->write(bytes); }); !r)
        return context(r.error());
    if (auto r = file->commit(); !r)
        return context(r.error());
    return {};
}

} // namespace parcelon::mailhost
