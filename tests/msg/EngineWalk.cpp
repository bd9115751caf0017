#include "EngineWalk.h"

#include "mailhost/pst/messaging/Folder.h"
#include "mailhost/pst/messaging/PropertyIds.h"

#include <gtest/gtest.h>

namespace parcelon::test {

using namespace Qt::StringLiterals;

namespace {

void walk(const pst::Store& store, pst::Nid nid, const pst::Where& where, int depth,
          const std::function<void(const pst::Message&, const pst::Attachment&)>& visit)
{
    auto folder = pst::Folder::open(store, nid, where);
    ASSERT_TRUE(folder) << folder.error().message().toStdString();
    ASSERT_LT(depth, 32) << where.text().toStdString();
    auto messages = folder->messages();
    ASSERT_TRUE(messages) << messages.error().message().toStdString();
    for (std::size_t i = 0; i < messages->size(); ++i) {
        const pst::Where item = folder->where().inside(u"item %1"_s.arg(i + 1));
        auto node = store.node((*messages)[i]);
        ASSERT_TRUE(node) << node.error().message().toStdString();
        auto message = pst::Message::open(store, *node, item);
        ASSERT_TRUE(message) << message.error().message().toStdString();
        auto ids = message->attachmentIds();
        ASSERT_TRUE(ids) << ids.error().message().toStdString();
        for (std::size_t k = 0; k < ids->size(); ++k) {
            auto attachment = message->attachment((*ids)[k], item.inside(u"attachment %1"_s.arg(k + 1)));
            ASSERT_TRUE(attachment) << attachment.error().message().toStdString();
            visit(*message, *attachment);
        }
    }
    auto subfolders = folder->subfolders();
    ASSERT_TRUE(subfolders) << subfolders.error().message().toStdString();
    for (pst::Nid sub : *subfolders)
        walk(store, sub, where.inside(u"subfolder %1"_s.arg(pst::hex(sub))), depth + 1, visit);
}

} // namespace

void forEachAttachment(const pst::Store& store, const std::function<void(const pst::Message&, const pst::Attachment&)>& visit)
{
    walk(store, pst::WellKnownNid::RootFolder, store.where(), 0, visit);
}

} // namespace parcelon::test
