#pragma once

#include "mailhost/pst/bytes/Encoding.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// What pstgen writes: a store, its folder tree, the items in each folder and
// their attachments. The command reads the same values from JSON
// (DescriptionReader); README.md shows the JSON form.
//
// Texts may hold counters that are replaced for every repeated copy:
// {folder}, {item} and {attachment} give the 1-based copy number of the
// nearest repeated folder, item or attachment element, {message} the 1-based
// number of the message in the whole file; {item:3} pads to three digits
// ("007").
namespace parcelon::pstgen {

// Which kind of file: Unicode with 512-byte pages (version 23), the variant
// with 4 KiB pages and zlib-compressed blocks (version 36), or the old ANSI
// file (version 14: 32-bit ids and offsets, texts in a code page).
enum class Format { Unicode, Unicode4k, Ansi };

// The code page ANSI files keep texts in unless a description names another.
inline constexpr int kDefaultCodePage = 1252;

// A count or size: fixed when min == max, otherwise drawn for every copy from
// the description's seed (inclusive bounds).
struct Range {
    std::uint64_t min = 1;
    std::uint64_t max = 1;

    static Range fixed(std::uint64_t n) { return {n, n}; }
    bool isFixed() const { return min == max; }
    bool repeats() const { return min != 1 || max != 1; }
};

// Where the bytes of an attachment come from.
struct Content {
    enum class Source {
        Bytes,  // `bytes` as given
        File,   // the file at `path`, read while writing
        Random, // `size` bytes from a generator seeded with `seed` and the attachment's place
    };
    enum class Style {
        Binary, // uniformly random bytes (nothing to compress)
        Text,   // lines of pseudo words (compresses well)
    };

    Source source = Source::Bytes;
    QByteArray bytes;
    QString path;
    std::uint64_t seed = 0;
    Range size = Range::fixed(0);
    Style style = Style::Binary;

    static Content fromBytes(QByteArray bytes);
    static Content fromFile(QString path);
    static Content random(std::uint64_t seed, Range size, Style style = Style::Binary);
};

struct Item;

// One attachment of an item. Name properties that are not set are left out
// of the file. The reader derives shortFileName, displayName and extension
// from fileName unless the description names them (or sets them to null).
struct Attachment {
    // PidTagAttachMethod: 1 by value, 2 and 4 by reference, 5 embedded
    // message, 6 OLE storage, 7 web reference.
    enum Method : std::uint32_t {
        ByValue = 1,
        ByReference = 2,
        ByReferenceOnly = 4,
        EmbeddedMessage = 5,
        Ole = 6,
        ByWebReference = 7,
    };

    Range repeat;
    std::uint32_t method = ByValue;
    std::optional<QString> fileName;         // PidTagAttachLongFilename
    std::optional<QString> shortFileName;    // PidTagAttachFilename (8.3)
    bool shortFromFileName = false;          // instead: the 8.3 form of the written long file name
    std::optional<QString> displayName;      // PidTagDisplayName
    std::optional<QString> extension;        // PidTagAttachExtension
    std::optional<QString> mimeType;         // PidTagAttachMimeTag
    std::optional<QString> contentId;        // PidTagAttachContentId
    std::optional<QString> path;             // PidTagAttachLongPathname (by-reference methods)
    std::optional<std::uint32_t> attachSize; // PidTagAttachSize; default: the content's size
    bool hidden = false;                     // PidTagAttachmentHidden
    bool inlined = false;                    // referenced from the HTML body (PidTagAttachFlags 4)
    Content content;                         // methods 1 and 6
    std::shared_ptr<const Item> embedded;    // method 5
};

struct Recipient {
    enum class Type : std::uint32_t { To = 1, Cc = 2, Bcc = 3 };

    QString name;
    QString email;
    Type type = Type::To;
};

// A message of any class: mail ("IPM.Note"), appointment, contact, ...
struct Item {
    Range repeat;
    QString messageClass = QStringLiteral("IPM.Note");
    QString subject;
    QString senderName;
    QString senderEmail;
    QString body;     // PidTagBody, plain text
    QString htmlBody; // PidTagHtml, left out when empty
    // Both default to the description's baseTime plus one hour per message.
    std::optional<QDateTime> submitTime;
    std::optional<QDateTime> deliveryTime;
    std::vector<Recipient> recipients;
    std::vector<Attachment> attachments;
    // The code page of the item's texts in an ANSI file (and of its
    // attachments'), stored as PidTagMessageCodepage; the description's
    // codePage when not given.
    std::optional<int> codePage;
};

struct Folder {
    Range repeat;
    QString name;
    QString containerClass = QStringLiteral("IPF.Note");
    std::vector<Item> items;
    std::vector<Folder> folders;
};

struct Description {
    Format format = Format::Unicode;
    pst::Encoding encoding = pst::Encoding::Permute;
    QString storeName = QStringLiteral("Personal Folders");
    // The code page of texts in an ANSI file: store and folder names, and the
    // items that name none of their own.
    int codePage = kDefaultCodePage;
    // Seeds the store's record key and every drawn count and size.
    std::uint64_t seed = 0;
    QDateTime baseTime = QDateTime(QDate(2024, 3, 4), QTime(9, 0), Qt::UTC);
    // The IPM subtree: the folder the store names as the top of its folder
    // tree. Its repeat is ignored; its items are written like any others.
    // A top-level folder named "Deleted Items" becomes the store's
    // wastebasket; without one an empty "Deleted Items" is added.
    Folder root = [] {
        Folder f;
        f.name = QStringLiteral("Top of Outlook data file");
        return f;
    }();
};

} // namespace parcelon::pstgen
