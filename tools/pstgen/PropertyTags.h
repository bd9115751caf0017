#pragma once

#include <cstdint>

// Property tags (id << 16 | type) that pstgen writes.
namespace parcelon::pstgen::tag {

enum Type : std::uint16_t {
    Integer16 = 0x0002,
    Integer32 = 0x0003,
    Boolean = 0x000B,
    Object = 0x000D,
    Integer64 = 0x0014,
    String = 0x001F,
    Time = 0x0040,
    Binary = 0x0102,
};

constexpr std::uint32_t make(std::uint16_t id, std::uint16_t type)
{
    return (std::uint32_t(id) << 16) | type;
}
constexpr std::uint16_t idOf(std::uint32_t tag)
{
    return std::uint16_t(tag >> 16);
}
constexpr std::uint16_t typeOf(std::uint32_t tag)
{
    return std::uint16_t(tag & 0xFFFF);
}

// Messages
constexpr std::uint32_t Importance = 0x00170003;
constexpr std::uint32_t MessageClass = 0x001A001F;
constexpr std::uint32_t Sensitivity = 0x00360003;
constexpr std::uint32_t Subject = 0x0037001F;
constexpr std::uint32_t ClientSubmitTime = 0x00390040;
constexpr std::uint32_t SentRepresentingName = 0x0042001F;
constexpr std::uint32_t MessageToMe = 0x0057000B;
constexpr std::uint32_t MessageCcMe = 0x0058000B;
constexpr std::uint32_t SentRepresentingAddressType = 0x0064001F;
constexpr std::uint32_t SentRepresentingEmailAddress = 0x0065001F;
constexpr std::uint32_t ConversationTopic = 0x0070001F;
constexpr std::uint32_t SenderName = 0x0C1A001F;
constexpr std::uint32_t SenderAddressType = 0x0C1E001F;
constexpr std::uint32_t SenderEmailAddress = 0x0C1F001F;
constexpr std::uint32_t DisplayBcc = 0x0E02001F;
constexpr std::uint32_t DisplayCc = 0x0E03001F;
constexpr std::uint32_t DisplayTo = 0x0E04001F;
constexpr std::uint32_t MessageDeliveryTime = 0x0E060040;
constexpr std::uint32_t MessageFlags = 0x0E070003;
constexpr std::uint32_t MessageSize = 0x0E080003;
constexpr std::uint32_t MessageStatus = 0x0E170003;
constexpr std::uint32_t HasAttachments = 0x0E1B000B;
constexpr std::uint32_t Body = 0x1000001F;
constexpr std::uint32_t Html = 0x10130102;
constexpr std::uint32_t CreationTime = 0x30070040;
constexpr std::uint32_t LastModificationTime = 0x30080040;
constexpr std::uint32_t MessageCodepage = 0x3FFD0003;

// Recipients
constexpr std::uint32_t RecipientType = 0x0C150003;
constexpr std::uint32_t Responsibility = 0x0E0F000B;
constexpr std::uint32_t ObjectType = 0x0FFE0003;
constexpr std::uint32_t AddressType = 0x3002001F;
constexpr std::uint32_t EmailAddress = 0x3003001F;
constexpr std::uint32_t SearchKey = 0x300B0102;
constexpr std::uint32_t DisplayType = 0x39000003;
constexpr std::uint32_t DisplayNamePrintable = 0x39FF001F;
constexpr std::uint32_t SendRichInfo = 0x3A40000B;

// Attachments
constexpr std::uint32_t AttachSize = 0x0E200003;
constexpr std::uint32_t AttachNumber = 0x0E210003;
constexpr std::uint32_t AttachDataBinary = 0x37010102;
constexpr std::uint32_t AttachDataObject = 0x3701000D;
constexpr std::uint32_t AttachExtension = 0x3703001F;
constexpr std::uint32_t AttachFilename = 0x3704001F;
constexpr std::uint32_t AttachMethod = 0x37050003;
constexpr std::uint32_t AttachLongFilename = 0x3707001F;
constexpr std::uint32_t AttachPathname = 0x3708001F;
constexpr std::uint32_t RenderingPosition = 0x370B0003;
constexpr std::uint32_t AttachLongPathname = 0x370D001F;
constexpr std::uint32_t AttachMimeTag = 0x370E001F;
constexpr std::uint32_t AttachContentId = 0x3712001F;
constexpr std::uint32_t AttachFlags = 0x37140003;
constexpr std::uint32_t AttachmentHidden = 0x7FFE000B;

// Folders and the store
constexpr std::uint32_t DisplayName = 0x3001001F;
constexpr std::uint32_t Comment = 0x3004001F;
constexpr std::uint32_t ContentCount = 0x36020003;
constexpr std::uint32_t ContentUnreadCount = 0x36030003;
constexpr std::uint32_t Subfolders = 0x360A000B;
constexpr std::uint32_t ContainerClass = 0x3613001F;
constexpr std::uint32_t RecordKey = 0x0FF90102;
constexpr std::uint32_t ReplVersionHistory = 0x0E340102;
constexpr std::uint32_t ReplFlags = 0x0E380003;
constexpr std::uint32_t ValidFolderMask = 0x35DF0003;
constexpr std::uint32_t IpmSubTreeEntryId = 0x35E00102;
constexpr std::uint32_t IpmWastebasketEntryId = 0x35E30102;
constexpr std::uint32_t CommonViewsEntryId = 0x35E60102;
constexpr std::uint32_t FinderEntryId = 0x35E70102;
constexpr std::uint32_t PstPassword = 0x67FF0003;

// Tables
constexpr std::uint32_t LtpRowId = 0x67F20003;
constexpr std::uint32_t LtpRowVer = 0x67F30003;

} // namespace parcelon::pstgen::tag
