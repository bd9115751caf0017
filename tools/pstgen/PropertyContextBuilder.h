#pragma once

#include "pstgen/HeapBuilder.h"
#include "pstgen/SubnodeList.h"
#include "pstgen/ValueStorage.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>

namespace parcelon::pstgen {

// The properties of one object (store, folder, message, attachment), written
// as a property context: a heap whose BTree maps property ids to values.
class PropertyContextBuilder {
public:
    explicit PropertyContextBuilder(TextEncoding text) : m_text(text) {}

    // Integer32, Integer16 and Boolean values (by the tag's type).
    void setInteger(std::uint32_t tag, std::uint32_t value);
    void setBoolean(std::uint32_t tag, bool value) { setInteger(tag, value ? 1 : 0); }
    // Time and Integer64 values.
    void setInteger64(std::uint32_t tag, std::uint64_t value);
    void setString(std::uint32_t tag, const QString& value);
    void setBinary(std::uint32_t tag, QByteArray value);
    // A value already written as subnode `nid` of the same node.
    void setSubnode(std::uint32_t tag, std::uint32_t nid, std::uint64_t size);
    // A PtypObject value: subnode `nid` holds the object of `size` bytes.
    void setObject(std::uint32_t tag, std::uint32_t nid, std::uint32_t size);

    bool has(std::uint32_t tag) const { return m_values.count(std::uint16_t(tag >> 16)) != 0; }
    // The bytes of all values, roughly what the object weighs.
    std::uint64_t valueSize() const;

    // Writes the context; values too large for the heap become subnodes in
    // `subnodes`. Returns the id of its data tree.
    std::uint64_t write(NdbWriter& ndb, SubnodeList& subnodes) const;

private:
    struct Value {
        std::uint16_t type = 0;
        std::uint32_t inlineValue = 0; // values of up to 4 bytes; or the subnode id
        bool isInline = false;
        bool inSubnode = false;
        std::uint64_t size = 0;
        QByteArray bytes;
    };

    TextEncoding m_text;
    std::map<std::uint16_t, Value> m_values;
};

} // namespace parcelon::pstgen
