#include "pstgen/StoreWriter.h"

#include "pstgen/ColumnSets.h"
#include "pstgen/NameToIdMap.h"
#include "pstgen/PropertyContextBuilder.h"
#include "pstgen/PropertyTags.h"
#include "pstgen/RecordBuffer.h"
#include "pstgen/SeededRandom.h"
#include "pstgen/SubnodeList.h"
#include "pstgen/TableContextBuilder.h"

#include <QCryptographicHash>
#include <QtEndian>

namespace parcelon::pstgen {

namespace {

// Nodes every store has.
constexpr std::uint32_t kMessageStore = 0x21;
constexpr std::uint32_t kNameToIdMap = 0x61;
constexpr std::uint32_t kRootFolder = 0x122;
constexpr std::uint32_t kSearchManagementQueue = 0x1E1;
constexpr std::uint32_t kSearchActivityList = 0x201;
constexpr std::uint32_t kSearchDomainObject = 0x261;
constexpr std::uint32_t kEmptyInternalNodes[] = {0xE41, 0xEC1, 0xF21};
constexpr std::uint32_t kSpamSearchFolder = 0x2223;
constexpr std::uint32_t kSpamUpdateQueue = 0x2226;
constexpr std::uint32_t kSpamCriteria = 0x2227;
constexpr std::uint32_t kSpamContents = 0x2230;
constexpr std::uint32_t kReceiveFolderTable = 0x62B;

constexpr std::uint8_t kFolderType = 0x02;
constexpr std::uint8_t kMessageType = 0x04;
constexpr std::uint32_t kHierarchyTable = 0x0D;
constexpr std::uint32_t kContentsTable = 0x0E;
constexpr std::uint32_t kAssociatedContentsTable = 0x0F;

// Valid entry ids on the store: IPM subtree, wastebasket, common views, finder.
constexpr std::uint32_t kValidFolderMask = 0x01 | 0x08 | 0x40 | 0x80;

const QString kWastebasket = QStringLiteral("Deleted Items");

QByteArray randomBytes(SeededRandom& random, int n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    random.fill({reinterpret_cast<std::uint8_t*>(bytes.data()), std::size_t(n)});
    return bytes;
}

} // namespace

StoreWriter::StoreWriter(NdbWriter& ndb, const Description& description, const WriteOptions& options, WriteReport& report)
    : m_ndb(ndb)
    , m_description(description)
    , m_report(report)
    , m_messages(ndb, description.baseTime, description.codePage, options, report)
{
    const QByteArray name = QCryptographicHash::hash(description.storeName.toUtf8(), QCryptographicHash::Sha256);
    SeededRandom random(SeededRandom::mix({description.seed, qFromLittleEndian<quint64>(name.constData()), 'K'}));
    m_recordKey = randomBytes(random, 16);
}

TextEncoding StoreWriter::text() const
{
    return TextEncoding(m_ndb, m_description.codePage);
}

QByteArray StoreWriter::entryId(std::uint32_t nid) const
{
    QByteArray id(4, '\0');
    id += m_recordKey;
    QByteArray n(4, Qt::Uninitialized);
    qToLittleEndian<quint32>(nid, n.data());
    return id + n;
}

void StoreWriter::write()
{
    const std::uint32_t ipmSubtree = m_ndb.allocateNid(kFolderType);  // 0x8022
    const std::uint32_t searchRoot = m_ndb.allocateNid(kFolderType);  // 0x8042
    const std::uint32_t wastebasket = m_ndb.allocateNid(kFolderType); // 0x8062
    const std::uint32_t commonViews = m_ndb.allocateNid(kFolderType); // 0x8082

    writeStoreProperties();
    {
        PropertyContextBuilder map(text());
        fillNameToIdMap(map);
        SubnodeList subnodes;
        const std::uint64_t bid = map.write(m_ndb, subnodes);
        m_ndb.addNode(kNameToIdMap, bid, subnodes.write(m_ndb), 0);
    }
    writeTemplates();
    writeSearchFolder();

    // The folder tree. A described top-level "Deleted Items" is the store's
    // wastebasket; otherwise an empty one is added, as in a new file.
    const Folder& root = m_description.root;
    const Expansion rootPlace{0, 0, 0, 0, SeededRandom::mix({m_description.seed, 'P'})};
    const Folder* describedWastebasket = nullptr;
    std::size_t wastebasketIndex = 0;
    for (std::size_t i = 0; i < root.folders.size(); ++i) {
        if (root.folders[i].name == kWastebasket && !root.folders[i].repeat.repeats()) {
            describedWastebasket = &root.folders[i];
            wastebasketIndex = i;
            break;
        }
    }
    FolderRow wastebasketRow;
    if (describedWastebasket)
        wastebasketRow = writeFolder(*describedWastebasket, rootPlace.child('F', wastebasketIndex, 1, false), wastebasket,
                                     ipmSubtree, kWastebasket, {kWastebasket}, {}, nullptr);
    else
        wastebasketRow = writeEmptyFolder(wastebasket, ipmSubtree, kWastebasket, QStringLiteral("Deleted Items folder"));
    const FolderRow ipmRow =
        writeFolder(root, rootPlace, ipmSubtree, kRootFolder, root.name, {}, {wastebasketRow}, describedWastebasket);
    const FolderRow searchRow = writeEmptyFolder(searchRoot, kRootFolder, QStringLiteral("Search Root"), std::nullopt);
    const FolderRow viewsRow = writeEmptyFolder(commonViews, kRootFolder, QStringLiteral("IPM_COMMON_VIEWS"), QString());
    FolderRow spamRow;
    spamRow.nid = kSpamSearchFolder;
    spamRow.name = QStringLiteral("SPAM Search Folder 2");

    FolderRow rootRow;
    rootRow.nid = kRootFolder;
    rootRow.hasSubfolders = true;
    writeFolderNodes(rootRow, kRootFolder, {ipmRow, searchRow, spamRow, viewsRow}, TableContextBuilder(columns::contents()),
                     std::nullopt);
}

StoreWriter::FolderRow StoreWriter::writeFolder(const Folder& folder, const Expansion& place, std::uint32_t nid,
                                                std::uint32_t parent, const QString& name, const QStringList& path,
                                                const std::vector<FolderRow>& extraChildren, const Folder* skip)
{
    TableContextBuilder contents(columns::contents());
    for (std::size_t i = 0; i < folder.items.size() && !m_ndb.failed(); ++i) {
        const Item& item = folder.items[i];
        const std::uint64_t copies = place.copies('I', i, item.repeat);
        for (std::uint64_t c = 1; c <= copies && !m_ndb.failed(); ++c) {
            Expansion itemPlace = place.child('I', i, int(c), item.repeat.repeats());
            itemPlace.message = ++m_messageNumber;
            const std::uint32_t messageNid = m_ndb.allocateNid(kMessageType);
            TableContextBuilder::Row row(messageNid, m_messages.nextRowVersion(),
                                         TextEncoding(m_ndb, item.codePage.value_or(m_description.codePage)));
            const MessageWriter::Written written = m_messages.write(item, itemPlace, path, 0, &row);
            m_ndb.addNode(messageNid, written.bidData, written.bidSub, nid);
            contents.addRow(std::move(row));
            ++m_report.messages;
        }
    }

    std::vector<FolderRow> children = extraChildren;
    for (std::size_t j = 0; j < folder.folders.size() && !m_ndb.failed(); ++j) {
        const Folder& sub = folder.folders[j];
        if (&sub == skip)
            continue;
        const std::uint64_t copies = place.copies('F', j, sub.repeat);
        for (std::uint64_t c = 1; c <= copies && !m_ndb.failed(); ++c) {
            const Expansion subPlace = place.child('F', j, int(c), sub.repeat.repeats());
            const QString subName = subPlace.expand(sub.name);
            children.push_back(writeFolder(sub, subPlace, m_ndb.allocateNid(kFolderType), nid, subName,
                                           path + QStringList{subName}, {}, nullptr));
        }
    }

    FolderRow row;
    row.nid = nid;
    row.name = name;
    if (parent != kRootFolder) // the IPM subtree has no class of its own
        row.containerClass = place.expand(folder.containerClass);
    row.count = std::uint32_t(contents.rowCount());
    row.hasSubfolders = !children.empty();
    writeFolderNodes(row, parent, children, contents, std::nullopt);
    if (parent != kRootFolder)
        ++m_report.folders;
    return row;
}

StoreWriter::FolderRow StoreWriter::writeEmptyFolder(std::uint32_t nid, std::uint32_t parent, const QString& name,
                                                     const std::optional<QString>& comment)
{
    FolderRow row;
    row.nid = nid;
    row.name = name;
    writeFolderNodes(row, parent, {}, TableContextBuilder(columns::contents()), comment);
    if (name == kWastebasket)
        ++m_report.folders;
    return row;
}

void StoreWriter::writeFolderNodes(const FolderRow& row, std::uint32_t parent, const std::vector<FolderRow>& children,
                                   const TableContextBuilder& contents, const std::optional<QString>& comment)
{
    const std::uint32_t base = row.nid & ~0x1Fu;
    TableContextBuilder hierarchy(columns::hierarchy());
    for (const FolderRow& child : children) {
        TableContextBuilder::Row r(child.nid, m_messages.nextRowVersion(), text());
        r.setString(tag::DisplayName, child.name)
            .set(tag::ContentCount, child.count)
            .set(tag::ContentUnreadCount, 0)
            .set(tag::Subfolders, child.hasSubfolders ? 1 : 0);
        if (!child.containerClass.isEmpty())
            r.setString(tag::ContainerClass, child.containerClass);
        hierarchy.addRow(std::move(r));
    }
    writeTable(base | kHierarchyTable, hierarchy);
    writeTable(base | kContentsTable, contents);
    writeTable(base | kAssociatedContentsTable, TableContextBuilder(columns::associatedContents()));

    PropertyContextBuilder pc(text());
    pc.setString(tag::DisplayName, row.name);
    if (comment)
        pc.setString(tag::Comment, *comment);
    pc.setInteger(tag::ContentCount, row.count);
    pc.setInteger(tag::ContentUnreadCount, 0);
    pc.setBoolean(tag::Subfolders, row.hasSubfolders);
    if (!row.containerClass.isEmpty())
        pc.setString(tag::ContainerClass, row.containerClass);
    SubnodeList subnodes;
    const std::uint64_t bid = pc.write(m_ndb, subnodes);
    m_ndb.addNode(row.nid, bid, subnodes.write(m_ndb), parent);
}

void StoreWriter::writeTable(std::uint32_t nid, const TableContextBuilder& table)
{
    SubnodeList subnodes;
    const std::uint64_t bid = table.write(m_ndb, subnodes);
    m_ndb.addNode(nid, bid, subnodes.write(m_ndb), 0);
}

void StoreWriter::writeStoreProperties()
{
    SeededRandom random(SeededRandom::mix({m_description.seed, 'V'}));
    const QByteArray one("\x01\0\0\0", 4);

    PropertyContextBuilder pc(text());
    pc.setBinary(tag::RecordKey, m_recordKey);
    pc.setString(tag::DisplayName, m_description.storeName);
    pc.setInteger(tag::ValidFolderMask, kValidFolderMask);
    pc.setBinary(tag::IpmSubTreeEntryId, entryId(0x8022));
    pc.setBinary(tag::IpmWastebasketEntryId, entryId(0x8062));
    pc.setBinary(tag::CommonViewsEntryId, entryId(0x8082));
    pc.setBinary(tag::FinderEntryId, entryId(0x8042));
    pc.setBinary(tag::ReplVersionHistory, one + randomBytes(random, 16) + one);
    pc.setInteger(tag::ReplFlags, 0);
    // Store settings Outlook writes into a new file, with its values.
    pc.setBoolean(tag::make(0x6633, tag::Boolean), true);
    pc.setInteger(tag::make(0x66FA, tag::Integer32), 0xE0011);
    pc.setInteger(tag::make(0x66FC, tag::Integer32), 0x18B2B3);
    pc.setInteger(tag::PstPassword, 0);
    SubnodeList subnodes;
    const std::uint64_t bid = pc.write(m_ndb, subnodes);
    m_ndb.addNode(kMessageStore, bid, subnodes.write(m_ndb), 0);

    m_ndb.addNode(kSearchManagementQueue, 0, 0, 0);
    m_ndb.addNode(kSearchDomainObject, 0, 0, 0);
    for (const std::uint32_t nid : kEmptyInternalNodes)
        m_ndb.addNode(nid, 0, 0, 0);
    // The folders with search activity: the spam search folder.
    RecordBuffer activity;
    activity.u32(kSpamSearchFolder);
    m_ndb.addNode(kSearchActivityList, m_ndb.addDataBlock(activity.span()), 0, 0);
}

void StoreWriter::writeSearchFolder()
{
    PropertyContextBuilder pc(text());
    pc.setString(tag::DisplayName, QStringLiteral("SPAM Search Folder 2"));
    pc.setInteger(tag::ContentCount, 0);
    pc.setInteger(tag::ContentUnreadCount, 0);
    pc.setBoolean(tag::Subfolders, false);
    SubnodeList subnodes;
    const std::uint64_t bid = pc.write(m_ndb, subnodes);
    m_ndb.addNode(kSpamSearchFolder, bid, subnodes.write(m_ndb), kRootFolder);

    m_ndb.addNode(kSpamUpdateQueue, 0, 0, 0);
    PropertyContextBuilder criteria(text());
    criteria.setInteger(tag::make(0x660B, tag::Integer32), 0);
    SubnodeList criteriaSubnodes;
    const std::uint64_t criteriaBid = criteria.write(m_ndb, criteriaSubnodes);
    m_ndb.addNode(kSpamCriteria, criteriaBid, criteriaSubnodes.write(m_ndb), 0);
    writeTable(kSpamContents, TableContextBuilder(columns::searchContents()));
}

void StoreWriter::writeTemplates()
{
    writeTable(0x60D, TableContextBuilder(columns::hierarchy()));
    writeTable(0x60E, TableContextBuilder(columns::contents()));
    writeTable(0x60F, TableContextBuilder(columns::associatedContents()));
    writeTable(0x610, TableContextBuilder(columns::searchContents()));
    writeTable(0x671, TableContextBuilder(columns::attachments()));
    writeTable(0x692, TableContextBuilder(columns::recipients()));
    writeTable(0x64C, TableContextBuilder(columns::outgoingQueue()));
    writeTable(0x6B6, TableContextBuilder(columns::template16()));
    writeTable(0x6D7, TableContextBuilder(columns::template17()));
    writeTable(0x6F8, TableContextBuilder(columns::template18()));

    // Messages of every class arrive in the root folder.
    TableContextBuilder receive(columns::receiveFolders());
    TableContextBuilder::Row row(1, m_messages.nextRowVersion(), text());
    row.set(tag::make(0x6605, tag::Integer32), kRootFolder).setString(tag::MessageClass, QString());
    receive.addRow(std::move(row));
    writeTable(kReceiveFolderTable, receive);
}

} // namespace parcelon::pstgen
