#include "Mailboxes.h"

namespace parcelon::pstgen::fixtures {

Attachment file(const QString& name, Content content)
{
    Attachment a;
    a.fileName = name;
    a.content = std::move(content);
    return a;
}

Attachment text(const QString& name, const QByteArray& bytes)
{
    return file(name, Content::fromBytes(bytes));
}

Attachment random(const QString& name, std::uint64_t size, std::uint64_t seed)
{
    return file(name, Content::random(seed, Range::fixed(size)));
}

Item message(const QString& subject, std::vector<Attachment> attachments, const QString& messageClass)
{
    Item i;
    i.subject = subject;
    i.messageClass = messageClass;
    i.senderName = QStringLiteral("Ann Example");
    i.senderEmail = QStringLiteral("ann@example.com");
    i.body = QStringLiteral("Body of ") + subject;
    i.recipients = {{QStringLiteral("Bob"), QStringLiteral("bob@example.com"), Recipient::Type::To},
                    {QStringLiteral("Carol"), QStringLiteral("carol@example.com"), Recipient::Type::Cc}};
    i.attachments = std::move(attachments);
    return i;
}

Folder folder(const QString& name, std::vector<Item> items, std::vector<Folder> folders)
{
    Folder f;
    f.name = name;
    f.items = std::move(items);
    f.folders = std::move(folders);
    return f;
}

Attachment embedded(Item inner)
{
    Attachment a;
    a.method = Attachment::EmbeddedMessage;
    a.displayName = inner.subject;
    a.embedded = std::make_shared<Item>(std::move(inner));
    return a;
}

Description edgeDescription(Format format, pst::Encoding encoding)
{
    const std::uint64_t block = format == Format::Unicode4k ? 65512 : format == Format::Ansi ? 8180 : 8176;
    // ANSI files keep texts in a code page: the names in many scripts go into
    // a UTF-8 message, the Japanese ones into a Shift-JIS one, and folder
    // names stay within the file's Windows-1252.
    const bool ansi = format == Format::Ansi;
    const auto inCodePage = [&](Item item, int codePage) {
        if (ansi)
            item.codePage = codePage;
        return item;
    };
    Description d;
    d.format = format;
    d.encoding = encoding;
    d.storeName = QStringLiteral("Edge cases");
    d.seed = 42;
    d.root.items = {message(QStringLiteral("At the top"), {text(QStringLiteral("top.txt"), "top of the tree")})};

    Attachment ole;
    ole.method = Attachment::Ole;
    ole.displayName = QStringLiteral("Picture (Device Independent Bitmap)");
    ole.content = Content::random(9, Range::fixed(5000));

    Item deepest = message(QStringLiteral("Deepest"), {text(QStringLiteral("deepest.txt"), "two levels down")});
    Item original = message(QStringLiteral("Original"), {random(QStringLiteral("inner.pdf"), 20000, 3), embedded(deepest)});

    d.root.folders = {
        folder(QStringLiteral("Inbox"),
               {message(QStringLiteral("Sizes"),
                        {text(QStringLiteral("empty.bin"), QByteArray()), text(QStringLiteral("small.txt"), "small"),
                         random(QStringLiteral("heap-largest.bin"), 3580), random(QStringLiteral("heap-plus-one.bin"), 3581),
                         random(QStringLiteral("one-block.bin"), block), random(QStringLiteral("two-blocks.bin"), block + 1),
                         file(QStringLiteral("many-blocks.txt"),
                              Content::random(5, Range::fixed(300000), Content::Style::Text))}),
                message(QStringLiteral("Large"), {random(QStringLiteral("large.bin"), 9000000, 7)}),
                message(QStringLiteral("Same names"),
                        {random(QStringLiteral("photo.png"), 1000, 1), random(QStringLiteral("photo.png"), 1000, 2)}),
                inCodePage(message(QStringLiteral("Названия"),
                                   {text(QStringLiteral("отчёт 2024.pdf"), "1"), text(QStringLiteral("報告書.txt"), "22"),
                                    text(QStringLiteral("تقرير.txt"), "333"), text(QStringLiteral("Ελληνικά.docx"), "4444"),
                                    text(QStringLiteral("emoji 😀.txt"), "55555")}),
                           65001),
                message(QStringLiteral("Forwarded"), {embedded(original), text(QStringLiteral("note.txt"), "beside it")}),
                message(QStringLiteral("Picture"), {ole}),
                message(QStringLiteral("Meeting"), {text(QStringLiteral("agenda.txt"), "1. plan")},
                        QStringLiteral("IPM.Appointment")),
                message(QStringLiteral("Person"), {random(QStringLiteral("photo.jpg"), 4000)}, QStringLiteral("IPM.Contact")),
                message(QStringLiteral("Signed"), {random(QStringLiteral("smime.p7m"), 2000)},
                        QStringLiteral("IPM.Note.SMIME"))}),
        folder(QStringLiteral("Empty"), {}),
        folder(ansi ? QStringLiteral("Français été") : QStringLiteral("Ελληνικά 日本語"),
               {inCodePage(message(QStringLiteral("受信"), {text(QStringLiteral("資料.xlsx"), "xlsx")}), 932)}),
        folder(QStringLiteral("Only folders"), {},
               {folder(QStringLiteral("Level 2"), {message(QStringLiteral("Two"), {text(QStringLiteral("two.txt"), "2")})},
                       {folder(QStringLiteral("Level 3"), {},
                               {folder(QStringLiteral("Level 4"),
                                       {message(QStringLiteral("Four"), {text(QStringLiteral("four.txt"), "4")})})})})}),
        folder(QStringLiteral("Deleted Items"), {message(QStringLiteral("Gone"), {text(QStringLiteral("old.txt"), "old")})}),
    };
    return d;
}

} // namespace parcelon::pstgen::fixtures
