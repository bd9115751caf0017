#include "EngineWalk.h"

#include "mailhost/pst/messaging/Folder.h"
#include "mailhost/pst/messaging/PropertyIds.h"

#include <gtest/gtest.h>

namespace parcelon::test {

using namespace Qt::StringLiterals;

namespace {

void walk(const pst::Store& store, pst::Nid nid, const QString& what, int depth,
          const std::function<void(const pst::Message&, const pst::Attachment&)>& visit)
{
    auto folder = pst::Folder::open(store, nid, what);
    ASSERT_TRUE(folder) << folder.error().description().toStdString();
    ASSERT_LT(depth, 32) << what.toStdString();
    auto messages = folder->messages();
    ASSERT_TRUE(messages) << messages.error().description().toStdString();
    for (std::size_t i = 0; i < messages->size(); ++i) {
        const QString item = u"%1, item %2"_s.arg(folder->what()).arg(i + 1);
        auto node = store.node((*messages)[i]);
        ASSERT_TRUE(node) << node.error().description().toStdString();
        auto message = pst::Message::open(store, *node, item);
        ASSERT_TRUE(message) << message.error().description().toStdString();
        auto ids = message->attachmentIds();
        ASSERT_TRUE(ids) << ids.error().description().toStdString();
        for (std::size_t k = 0; k < ids->size(); ++k) {
            auto attachment = message->attachment((*ids)[k], u"%1, attachment %2"_s.arg(item).arg(k + 1));
            ASSERT_TRUE(attachment) << attachment.error().description().toStdString();
            visit(*message, *attachment);
        }
    }
    auto subfolders = folder->subfolders();
    ASSERT_TRUE(subfolders) << subfolders.error().description().toStdString();
    for (pst::Nid sub : *subfolders)
        walk(store, sub, u"%1, subfolder %2"_s.arg(what, pst::hex(sub)), depth + 1, visit);
}

} // namespace

void forEachAttachment(const pst::Store& store, const std::function<void(const pst::Message&, const pst::Attachment&)>& visit)
{
    walk(store, pst::WellKnownNid::RootFolder, store.path(), 0, visit);
}

} // namespace parcelon::test
