#pragma once

#include "Mailboxes.h"

#include <QByteArray>
#include <QString>

namespace parcelon::test {

// A mailbox of known content, for runs through the window:
//   the top folder's own mail (root.txt), never saved;
//   Inbox/Projects: a mail with plan.xlsx;
//   Inbox: a mail with two attachments named report.pdf, a mail with
//     notes.txt, an appointment with agenda.txt (not mail);
//   All Public Folders: a mail with public.txt; below it Deep: a mail with
//     deep.txt, never visited.
pstgen::Description knownMailbox();

// The content the mailbox gives each named attachment.
QByteArray contentOf(const QString& tag);

// Writes the mailbox to `path`; fails the test when it cannot.
void writeMailbox(const pstgen::Description& description, const QString& path);

} // namespace parcelon::test
