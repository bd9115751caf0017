#pragma once

#include "pstgen/Description.h"

// Descriptions of mailboxes for tests, and the pieces they are made of.
namespace parcelon::pstgen::fixtures {

Attachment file(const QString& name, Content content);
Attachment text(const QString& name, const QByteArray& bytes);
Attachment random(const QString& name, std::uint64_t size, std::uint64_t seed = 1);
Item message(const QString& subject, std::vector<Attachment> attachments,
             const QString& messageClass = QStringLiteral("IPM.Note"));
Folder folder(const QString& name, std::vector<Item> items, std::vector<Folder> folders = {});
Attachment embedded(Item inner);

// Everything a reader must get right once: sizes around every boundary,
// names in several scripts, same names, empty folders, deep nesting,
// embedded messages, items of other classes, the wastebasket.
Description edgeDescription(Format format, pst::Encoding encoding);

} // namespace parcelon::pstgen::fixtures
