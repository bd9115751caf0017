#include "mailhost/model/Automation.h"

#include "diagnostics/Failure.h"
#include "mailhost/model/AttachmentSaver.h"
#include "mailhost/model/ItemClass.h"
#include "mailhost/model/Prefetcher.h"
#include "mailhost/pst/messaging/Folder.h"
#include "mailhost/pst/messaging/Message.h"
#include "mailhost/pst/messaging/PropertyIds.h"
#include "mailhost/smime/DataTreeSource.h"
#include "mailhost/smime/SignedMessage.h"

#include <algorithm>
#include <optional>

namespace parcelon::mailhost {

using namespace Qt::StringLiterals;

struct MountedStore {
    std::shared_ptr<pst::Store> store;
    std::unique_ptr<Prefetcher> prefetcher;
    bool mounted = true;

    void unmount()
    {
        mounted = false;
        prefetcher.reset();
    }

    void check() const
    {
        if (!mounted)
            throw Failure(u"The store %1 is no longer open"_s.arg(store->path()));
    }
};

namespace {

[[noreturn]] void raise(const pst::Error& error)
{
    if (error.kind() == pst::ErrorKind::Io && error.systemError() != 0)
        throw Failure(Failure::numberOf(error.systemError()), error.description());
    throw Failure(error.description());
}

template <class T>
T take(pst::Result<T>&& result)
{
    if (!result)
        raise(result.error());
    return std::move(result).value();
}

// Folder paths in descriptions keep about this many of their last characters.
constexpr qsizetype kMaxPathChars = 512;

[[noreturn]] void outOfRange(std::int64_t position, std::int64_t count, const QString& what)
{
    throw Failure(9, u"Array index out of bounds: %1 asked for, %2 holds %3"_s.arg(position).arg(what).arg(count));
}

QString folderWhat(const pst::Store& store, const QString& path)
{
    return path.isEmpty() ? u"%1, the top folder"_s.arg(store.path()) : u"%1, folder \"%2\""_s.arg(store.path(), path);
}

} // namespace

// --- Application and namespace ---------------------------------------------

std::shared_ptr<Namespace> Application::GetNamespace(const QString& type)
{
    if (type.compare(u"MAPI"_s, Qt::CaseInsensitive) != 0)
        throw Failure(u"The data source \"%1\" is not known; only MAPI is"_s.arg(type));
    if (!m_namespace)
        m_namespace = std::make_shared<Namespace>();
    return m_namespace;
}

Namespace::~Namespace()
{
    for (const auto& mounted : m_stores)
        mounted->unmount();
}

namespace {

// The store, with a second reader of the same file that reads ahead.
std::shared_ptr<MountedStore> mount(std::shared_ptr<pst::Store> opened)
{
    auto store = std::make_shared<MountedStore>();
    store->store = std::move(opened);
    if (auto ahead = store->store->openAgain())
        store->prefetcher = std::make_unique<Prefetcher>(std::move(ahead).value());
    return store;
}

} // namespace

void Namespace::AddStore(const QString& path)
{
    m_stores.push_back(mount(take(pst::Store::open(path))));
}

void Namespace::AddStore(std::unique_ptr<pst::ByteSource> source)
{
    m_stores.push_back(mount(take(pst::Store::open(std::move(source)))));
}

std::shared_ptr<FolderCollection> Namespace::Folders() const
{
    std::vector<std::shared_ptr<Folder>> roots;
    for (const auto& mounted : m_stores)
        roots.push_back(
            std::make_shared<Folder>(mounted, mounted->store->ipmSubtree(), QString(), 0, mounted->store->displayName()));
    return std::make_shared<FolderCollection>(std::move(roots));
}

void Namespace::RemoveStore(const std::shared_ptr<Folder>& root)
{
    if (!root)
        throw Failure(u"No folder was given to remove its store"_s);
    for (auto it = m_stores.begin(); it != m_stores.end(); ++it) {
        if (*it == root->store()) {
            (*it)->unmount();
            m_stores.erase(it);
            return;
        }
    }
    throw Failure(u"The store of folder \"%1\" is not open"_s.arg(root->Name()));
}

// --- Folders -----------------------------------------------------------------

FolderCollection::FolderCollection(std::shared_ptr<MountedStore> store, std::vector<std::uint32_t> nids, QString parentPath,
                                   std::uint32_t top)
    : m_store(std::move(store)), m_nids(std::move(nids)), m_parentPath(std::move(parentPath)), m_top(top)
{
}

FolderCollection::FolderCollection(std::vector<std::shared_ptr<Folder>> folders) : m_fixed(std::move(folders))
{
}

std::int64_t FolderCollection::count() const
{
    if (m_store)
        m_store->check();
    return m_store ? static_cast<std::int64_t>(m_nids.size()) : static_cast<std::int64_t>(m_fixed.size());
}

std::shared_ptr<Folder> FolderCollection::Item(std::int64_t position) const
{
    const std::int64_t n = count();
    if (position < 1 || position > n)
        outOfRange(position, n, u"the folder list"_s);
    if (!m_store)
        return m_fixed[static_cast<std::size_t>(position - 1)];
    if (position != m_lastPosition || !m_last) {
        m_last = std::make_shared<Folder>(m_store, m_nids[static_cast<std::size_t>(position - 1)], m_parentPath, m_top);
        m_lastPosition = position;
    }
    return m_last;
}

std::shared_ptr<Folder> FolderCollection::GetLast() const
{
    const std::int64_t n = count();
    return n == 0 ? nullptr : Item(n);
}

struct Folder::State {
    pst::Folder folder;
    std::shared_ptr<FolderCollection> subfolders;
    std::shared_ptr<ItemCollection> items;
};

Folder::Folder(std::shared_ptr<MountedStore> store, std::uint32_t nid, QString parentPath, std::uint32_t top,
               QString nameOverride)
    : m_store(std::move(store))
    , m_nid(nid)
    , m_parentPath(std::move(parentPath))
    , m_top(top ? top : nid)
    , m_nameOverride(std::move(nameOverride))
{
}

Folder::State& Folder::state() const
{
    m_store->check();
    if (!m_state) {
        const pst::Store& store = *m_store->store;
        const QString what = m_parentPath.isEmpty() && !m_nameOverride.isNull()
            ? folderWhat(store, QString())
            : u"%1, a folder in \"%2\" (node %3)"_s.arg(store.path(), m_parentPath, pst::hex(m_nid));
        m_state = std::make_shared<State>(State{take(pst::Folder::open(store, m_nid, what)), {}, {}});
    }
    return *m_state;
}

QString Folder::Name() const
{
    if (!m_nameOverride.isNull()) {
        m_store->check();
        return m_nameOverride;
    }
    return state().folder.displayName();
}

QString Folder::path() const
{
    if (!m_nameOverride.isNull())
        return QString();
    if (m_parentPath.isEmpty())
        return Name();
    const QString path = m_parentPath + u'/' + Name();
    return path.size() <= kMaxPathChars ? path : u"\u2026"_s + path.right(kMaxPathChars);
}

std::shared_ptr<FolderCollection> Folder::Folders() const
{
    State& s = state();
    if (!s.subfolders) {
        // Every folder listed has this one as its parent, so the tree can
        // only lead back to where it began: a damaged file whose top
        // folder names one of its own folders as parent.
        std::vector<std::uint32_t> subfolders = take(s.folder.subfolders());
        std::erase(subfolders, m_top);
        s.subfolders = std::make_shared<FolderCollection>(m_store, std::move(subfolders), path(), m_top);
    }
    return s.subfolders;
}

std::shared_ptr<ItemCollection> Folder::Items() const
{
    State& s = state();
    if (!s.items) {
        std::vector<std::uint32_t> messages = take(s.folder.messages());
        if (m_store->prefetcher)
            m_store->prefetcher->follow(messages);
        s.items = std::make_shared<ItemCollection>(m_store, std::move(messages), folderWhat(*m_store->store, path()));
    }
    return s.items;
}

// --- Items -------------------------------------------------------------------

struct Item::Content {
    pst::Nid nid;
    pst::Message message;
};

ItemCollection::ItemCollection(std::shared_ptr<MountedStore> store, std::vector<std::uint32_t> nids, QString folderWhat)
    : m_store(std::move(store)), m_nids(std::move(nids)), m_folderWhat(std::move(folderWhat))
{
}

std::int64_t ItemCollection::count() const
{
    m_store->check();
    return static_cast<std::int64_t>(m_nids.size());
}

std::shared_ptr<mailhost::Item> ItemCollection::Item(std::int64_t position) const
{
    const std::int64_t n = count();
    if (position < 1 || position > n)
        outOfRange(position, n, u"the item list"_s);
    if (position != m_lastPosition || !m_last) {
        const pst::Store& store = *m_store->store;
        const std::uint32_t nid = m_nids[static_cast<std::size_t>(position - 1)];
        const QString what = u"%1, item %2 (node %3)"_s.arg(m_folderWhat).arg(position).arg(pst::hex(nid));
        if (m_store->prefetcher)
            m_store->prefetcher->reached(static_cast<std::size_t>(position - 1));
        const pst::Node node = take(store.node(nid));
        auto content = std::make_shared<const mailhost::Item::Content>(
            mailhost::Item::Content{nid, take(pst::Message::open(store, node, what))});
        m_last = std::make_shared<mailhost::Item>(m_store, std::move(content));
        m_lastPosition = position;
    }
    return m_last;
}

Item::Item(std::shared_ptr<MountedStore> store, std::shared_ptr<const Content> content)
    : m_store(std::move(store)), m_content(std::move(content))
{
}

int Item::Class() const
{
    m_store->check();
    return itemClassOf(m_content->message.messageClass());
}

QString Item::MessageClass() const
{
    m_store->check();
    return m_content->message.messageClass();
}

namespace {

// The signed message that a signed item's one attachment holds; nothing for
// any other item, and for a wrapper that is encrypted or does not open.
std::shared_ptr<const smime::SignedMessage> signedMessageOf(const std::shared_ptr<MountedStore>& store,
                                                            const pst::Message& message, const std::vector<std::uint32_t>& nids)
{
    const QString messageClass = message.messageClass();
    if (nids.size() != 1 || itemClassOf(messageClass) != kMailItemClass || !smime::isWrapperClass(messageClass))
        return nullptr;
    auto attachment = message.attachment(nids.front(), message.what());
    if (!attachment || attachment->method() != pst::AttachMethod::ByValue)
        return nullptr;
    auto content = attachment->content();
    if (!content)
        return nullptr;
    std::shared_ptr<const pst::ByteSource> source;
    if (content->tree)
        source =
            std::make_shared<smime::DataTreeSource>(store, store->store->blocks(), std::move(*content->tree), attachment->what());
    else
        source = std::make_shared<pst::MemorySource>(std::move(content->heapBytes), attachment->what());
    return smime::SignedMessage::open(std::move(source));
}

} // namespace

std::shared_ptr<AttachmentCollection> Item::Attachments() const
{
    m_store->check();
    if (!m_attachments) {
        std::vector<std::uint32_t> nids = take(m_content->message.attachmentIds());
        auto inside = signedMessageOf(m_store, m_content->message, nids);
        m_attachments = std::make_shared<AttachmentCollection>(m_store, m_content, std::move(nids), std::move(inside));
    }
    return m_attachments;
}

// --- Attachments -------------------------------------------------------------

struct Attachment::Content {
    pst::Nid message;
    pst::Nid nid;
    pst::Attachment attachment; // for a part of a signed message: the wrapper
    QString fileName;
    std::shared_ptr<const smime::SignedMessage> inside;
    std::size_t part = 0;
    QString what;
};

AttachmentCollection::AttachmentCollection(std::shared_ptr<MountedStore> store, std::shared_ptr<const Item::Content> message,
                                           std::vector<std::uint32_t> nids, std::shared_ptr<const smime::SignedMessage> inside)
    : m_store(std::move(store)), m_message(std::move(message)), m_nids(std::move(nids)), m_inside(std::move(inside))
{
}

std::int64_t AttachmentCollection::count() const
{
    m_store->check();
    return static_cast<std::int64_t>(m_inside ? m_inside->count() : m_nids.size());
}

std::shared_ptr<Attachment> AttachmentCollection::Item(std::int64_t position) const
{
    const std::int64_t n = count();
    if (position < 1 || position > n)
        outOfRange(position, n, u"the attachment list"_s);
    if (m_inside && (position != m_lastPosition || !m_last)) {
        const std::uint32_t nid = m_nids.front();
        pst::Attachment wrapper = take(m_message->message.attachment(nid, u"%1, attachment 1"_s.arg(m_message->message.what())));
        const auto part = static_cast<std::size_t>(position - 1);
        const QString what = u"%1, attachment %2 of the signed message"_s.arg(m_message->message.what()).arg(position);
        auto content = std::make_shared<const Attachment::Content>(
            Attachment::Content{m_message->nid, nid, std::move(wrapper), m_inside->fileName(part), m_inside, part, what});
        m_last = std::make_shared<Attachment>(m_store, std::move(content));
        m_lastPosition = position;
    }
    if (position != m_lastPosition || !m_last) {
        const std::uint32_t nid = m_nids[static_cast<std::size_t>(position - 1)];
        const QString what = u"%1, attachment %2"_s.arg(m_message->message.what()).arg(position);
        pst::Attachment attachment = take(m_message->message.attachment(nid, what));
        QString name = attachmentFileName(attachment);
        auto content = std::make_shared<const Attachment::Content>(
            Attachment::Content{m_message->nid, nid, std::move(attachment), std::move(name), nullptr, 0, what});
        m_last = std::make_shared<Attachment>(m_store, std::move(content));
        m_lastPosition = position;
    }
    return m_last;
}

Attachment::Attachment(std::shared_ptr<MountedStore> store, std::shared_ptr<const Content> content)
    : m_store(std::move(store)), m_content(std::move(content))
{
}

QString Attachment::fileName() const
{
    m_store->check();
    return m_content->fileName;
}

int Attachment::Type() const
{
    m_store->check();
    if (m_content->inside)
        return 1;
    switch (m_content->attachment.method()) {
    case pst::AttachMethod::EmbeddedMessage:
        return 5;
    case pst::AttachMethod::Storage:
        return 6;
    case pst::AttachMethod::ByReference:
    case pst::AttachMethod::ByReferenceResolve:
    case pst::AttachMethod::ByReferenceOnly:
    case pst::AttachMethod::ByWebReference:
        return 4;
    default:
        return 1;
    }
}

void Attachment::SaveAsFile(const QString& path) const
{
    m_store->check();
    if (const auto& inside = m_content->inside) {
        const auto write = [&](const ContentSink& sink) { return inside->write(m_content->part, sink); };
        if (auto r = saveContent(m_content->fileName, m_content->what, path, write); !r)
            raise(r.error());
        return;
    }
    const auto& prefetcher = m_store->prefetcher;
    auto ahead = prefetcher ? prefetcher->take(m_content->message, m_content->nid) : std::nullopt;
    auto saved = saveAttachment(m_content->attachment, m_content->fileName, path,
                                ahead ? std::optional<pst::Bytes>(*ahead) : std::nullopt);
    if (ahead)
        prefetcher->recycle(std::move(*ahead));
    if (!saved)
        raise(saved.error());
}

QString Attachment::wrapper() const
{
    m_store->check();
    return m_content->inside ? u"signed"_s : QString();
}

} // namespace parcelon::mailhost
