#pragma once

#include "pstgen/Description.h"

#include <QString>

#include <gtest/gtest.h>

#include <string>

// The file formats the reader's suites run over, and the files they damage.
namespace parcelon::test {

inline const auto kEveryFormat = ::testing::Values(pstgen::Format::Ansi, pstgen::Format::Unicode, pstgen::Format::Unicode4k);

std::string formatName(pstgen::Format format);

// A mailbox of the format, written once per run and cut after its last page:
// folders, an embedded message, an attachment of three blocks and enough
// messages that the node B-tree has two levels in every format.
QString damageMailbox(pstgen::Format format);

} // namespace parcelon::test
