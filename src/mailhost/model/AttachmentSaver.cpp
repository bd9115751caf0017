#include "mailhost/model/AttachmentSaver.h"

#include "mailhost/model/NewFile.h"
#include "mailhost/model/ReadAhead.h"
#include "mailhost/msg/MsgWriter.h"
#include "mailhost/pst/blocks/TreeReader.h"
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

Result<NewFile> writeBytes(pst::Bytes bytes, const QString& path)
{
    auto file = NewFile::create(path);
    if (!file)
        return file.error();
    if (auto r = file->write(bytes); !r)
        return r.error();
    return file;
}

// Writes the bytes of a value into a new file, a run of blocks at a time.
Result<NewFile> writeValue(const pst::Blocks& blocks, const pst::ValueLocation& value, const QString& path)
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
                return r.error();
            if (auto r = file->write(piece); !r)
                return r.error();
        }
        return file;
    }
    ReadAhead ahead([&reader](std::vector<std::uint8_t>& next) { return reader.next(next); });
    for (;;) {
        if (auto r = ahead.take(piece); !r)
            return r.error();
        if (piece.empty())
            return file;
        if (auto r = file->write(piece); !r)
            return r.error();
    }
}

// Puts the written file in place, unless the PST file changed meanwhile:
// its bytes may then be a mix of the old file and the new.
Result<void> publish(Result<NewFile> file, const pst::ByteSource& source)
{
    if (!file)
        return file.error();
    if (auto r = source.unchanged(); !r)
        return r;
    return file->commit();
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
                            std::optional<pst::Bytes> readAhead)
{
    if (auto refused = refusedName(name, attachment.what()))
        return *refused;

    const auto context = [&](const Error& error) {
        // Descriptions from the file's structures already say where they are.
        const QString description = error.description().startsWith(attachment.what())
            ? u"Cannot save the attachment \"%1\" as %2: %3"_s.arg(name, path, error.description())
            : u"Cannot save the attachment \"%1\" of %2 as %3: %4"_s.arg(name, attachment.what(), path, error.description());
        return Error(error.kind(), description, error.systemError());
    };
    const pst::Blocks& blocks = attachment.properties().store().blocks();
    const pst::ByteSource& source = blocks.source();
    const auto save = [&](Result<NewFile> file) -> Result<void> {
        if (auto r = publish(std::move(file), source); !r)
            return context(r.error());
        return {};
    };
    const int method = attachment.method();
    const bool readable =
        method == pst::AttachMethod::None || method == pst::AttachMethod::ByValue || method == pst::AttachMethod::Storage;
    if (readAhead && readable)
        return save(writeBytes(*readAhead, path));
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
        return save(std::move(file));
    }
    case pst::AttachMethod::Storage: {
        auto storage = attachment.storage();
        if (!storage)
            return context(storage.error());
        pst::ValueLocation value;
        value.tree = std::move(storage).value();
        return save(writeValue(blocks, value, path));
    }
    case pst::AttachMethod::ByReference:
    case pst::AttachMethod::ByReferenceResolve:
    case pst::AttachMethod::ByReferenceOnly:
    case pst::AttachMethod::ByWebReference: {
        const QString target = attachment.pathName();
        return Error(ErrorKind::Unsupported,
                     u"The attachment \"%1\" of %2 is only a link to %3; there is no content to save"_s
                         .arg(name, attachment.what(),
                              target.isEmpty() ? u"a file that is not named"_s : u"\"%1\""_s.arg(target)));
    }
    default: {
        auto content = attachment.content();
        if (!content)
            return context(content.error());
        return save(writeValue(blocks, *content, path));
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
