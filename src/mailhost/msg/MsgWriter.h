#pragma once

#include "mailhost/msg/CompoundFileWriter.h"
#include "mailhost/msg/Output.h"
#include "mailhost/pst/messaging/Message.h"

#include <unordered_set>

namespace parcelon::msg {

// Writes a message as a standalone .msg file: its properties, recipients
// and attachments (attached messages and OLE objects inside it included),
// with the store's map of named properties. Values are copied from the PST
// block by block, so memory does not grow with their sizes.
class MsgWriter {
public:
    // Attached messages nested deeper than this are taken for damage.
    static constexpr int kMaxDepth = 32;
    // What one .msg may hold. No real message comes near; a damaged file
    // whose structures lead to the same parts again and again would
    // otherwise write without end.
    static constexpr std::uint32_t kMaxAttachedMessages = 4096;
    static constexpr std::uint32_t kMaxStreams = 100000;
    // Bytes of values written again because the file stores them once and
    // refers to them more than once within the message.
    static constexpr std::uint64_t kMaxRepeatedBytes = 256 * 1024 * 1024;

    static pst::Result<void> write(const pst::Message& message, const Output& output);

private:
    using EntryId = CompoundFileWriter::EntryId;
    class PropertyStream;

    MsgWriter(CompoundFileWriter& file, const pst::Blocks& blocks) : m_file(file), m_blocks(blocks) {}

    pst::Result<void> writeMessage(const pst::Message& message, EntryId storage, int depth);
    pst::Result<void> writeRecipients(const pst::Message& message, EntryId storage, std::uint32_t& count);
    pst::Result<void> writeAttachment(const pst::Attachment& attachment, EntryId storage, int depth);
    pst::Result<void> writeObject(const pst::Attachment& attachment, EntryId storage, int depth);
    pst::Result<void> copyStorage(const pst::Attachment& attachment, EntryId target);
    pst::Result<void> writeProperty(EntryId storage, std::uint32_t tag, const pst::StoredValue& value,
                                    const pst::ValueStore& store, PropertyStream& properties, const pst::Where& where);
    pst::Result<void> writeMultipleValues(EntryId storage, std::uint32_t tag, const pst::ValueLocation& value,
                                          PropertyStream& properties, const pst::Where& where);
    // Counts a stream or attached message against the budgets above.
    pst::Result<void> countStream(const pst::Where& where);
    pst::Result<void> countAttachedMessage(const pst::Where& where);
    pst::Result<void> countValue(const pst::ValueLocation& value, const pst::Where& where);

    CompoundFileWriter& m_file;
    const pst::Blocks& m_blocks;
    std::uint32_t m_streams = 0;
    std::uint32_t m_attachedMessages = 0;
    std::unordered_set<std::uint64_t> m_values; // the data trees written, by their first block
    std::uint64_t m_repeatedBytes = 0;
};

} // namespace parcelon::msg
