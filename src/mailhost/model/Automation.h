#pragma once

#include "mailhost/pst/bytes/ByteSource.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace parcelon::smime {
class SignedMessage;
}

// The mail host's object model: the objects and members the extraction asks
// for, answered by the engine that reads PST files. Every member that fails
// throws parcelon::Failure with a description that says what and where.
// Collections count from 1, keep their order while they live, and answer a
// repeated look-up of the same position without reading anything again.
namespace parcelon::mailhost {

class Folder;
class FolderCollection;
class ItemCollection;
class Item;
class AttachmentCollection;
class Attachment;
struct MountedStore;

class Namespace {
public:
    // Mounts a PST file read-only; its root becomes the last entry of Folders().
    void AddStore(const QString& path);
    void AddStore(std::unique_ptr<pst::ByteSource> source);

    // One folder per mounted store: the folder that holds the user's
    // folders, named with the store's display name.
    std::shared_ptr<FolderCollection> Folders() const;

    // Unmounts the store whose root `root` is.
    void RemoveStore(const std::shared_ptr<Folder>& root);

    ~Namespace();

private:
    std::vector<std::shared_ptr<MountedStore>> m_stores;
};

class Application {
public:
    // "MAPI" is the only data source.
    std::shared_ptr<Namespace> GetNamespace(const QString& type);

private:
    std::shared_ptr<Namespace> m_namespace;
};

class FolderCollection {
public:
    std::int64_t count() const;
    std::shared_ptr<Folder> Item(std::int64_t position) const;
    std::shared_ptr<Folder> GetLast() const;

    // Internal: the folders of a store below the folder at `parentPath`
    // in the tree that begins at folder `top`, or given folders.
    FolderCollection(std::shared_ptr<MountedStore> store, std::vector<std::uint32_t> nids, QString parentPath, std::uint32_t top);
    explicit FolderCollection(std::vector<std::shared_ptr<Folder>> folders);

private:
    std::shared_ptr<MountedStore> m_store;
    std::vector<std::uint32_t> m_nids;
    QString m_parentPath;
    std::uint32_t m_top = 0;
    std::vector<std::shared_ptr<Folder>> m_fixed;
    mutable std::int64_t m_lastPosition = 0;
    mutable std::shared_ptr<Folder> m_last;
};

class Folder {
public:
    // The folder's default value: its display name.
    QString Name() const;
    std::shared_ptr<FolderCollection> Folders() const;
    std::shared_ptr<ItemCollection> Items() const;

    // Internal.
    // `top` is the folder the tree begins at (0: this one).
    Folder(std::shared_ptr<MountedStore> store, std::uint32_t nid, QString parentPath, std::uint32_t top,
           QString nameOverride = {});
    const std::shared_ptr<MountedStore>& store() const { return m_store; }
    // The names of the folders from below the store's root down to this one;
    // only the last ones in a very deep tree.
    QString path() const;

private:
    struct State;
    State& state() const;

    std::shared_ptr<MountedStore> m_store;
    std::uint32_t m_nid;
    QString m_parentPath;
    std::uint32_t m_top;
    QString m_nameOverride;
    mutable std::shared_ptr<State> m_state;
};

class ItemCollection {
public:
    std::int64_t count() const;
    std::shared_ptr<mailhost::Item> Item(std::int64_t position) const;

    // Internal.
    ItemCollection(std::shared_ptr<MountedStore> store, std::vector<std::uint32_t> nids, pst::Where folder);

private:
    std::shared_ptr<MountedStore> m_store;
    std::vector<std::uint32_t> m_nids;
    pst::Where m_folder;
    mutable std::int64_t m_lastPosition = 0;
    mutable std::shared_ptr<mailhost::Item> m_last;
};

class Item {
public:
    // The object-model class number; 43 for mail.
    int Class() const;
    QString MessageClass() const;
    std::shared_ptr<AttachmentCollection> Attachments() const;

    // Internal.
    struct Content;
    Item(std::shared_ptr<MountedStore> store, std::shared_ptr<const Content> content);

private:
    std::shared_ptr<MountedStore> m_store;
    std::shared_ptr<const Content> m_content;
    mutable std::shared_ptr<AttachmentCollection> m_attachments;
};

class AttachmentCollection {
public:
    std::int64_t count() const;
    std::shared_ptr<Attachment> Item(std::int64_t position) const;

    // Internal. `inside` is the signed message that the item's one stored
    // attachment holds, whose attachments the collection then gives.
    AttachmentCollection(std::shared_ptr<MountedStore> store, std::shared_ptr<const Item::Content> message,
                         std::vector<std::uint32_t> nids, std::shared_ptr<const smime::SignedMessage> inside = nullptr);

private:
    std::shared_ptr<MountedStore> m_store;
    std::shared_ptr<const Item::Content> m_message;
    std::vector<std::uint32_t> m_nids;
    std::shared_ptr<const smime::SignedMessage> m_inside;
    mutable std::int64_t m_lastPosition = 0;
    mutable std::shared_ptr<Attachment> m_last;
};

class Attachment {
public:
    // The name to save the attachment under, without folder.
    QString fileName() const;

    // The kind of attachment: 1 a copy of a file, 4 a link, 5 an attached
    // message, 6 an OLE document.
    int Type() const;

    // Writes the content to a new file at `path`; never replaces a file and
    // never leaves a partial one.
    void SaveAsFile(const QString& path) const;

    // "signed" for an attachment that came out of a signed message; empty
    // for an attachment as stored.
    QString wrapper() const;

    // Internal.
    struct Content;
    Attachment(std::shared_ptr<MountedStore> store, std::shared_ptr<const Content> content);

private:
    std::shared_ptr<MountedStore> m_store;
    std::shared_ptr<const Content> m_content;
};

} // namespace parcelon::mailhost
