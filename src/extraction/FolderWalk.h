#pragma once

#include <memory>

namespace parcelon {

class Form1;
namespace mailhost {
class Folder;
}

// Saves every attachment of every mail message below `folder`, depth first,
// a folder's own items after everything below it. Where each file goes is
// read from the window at every attachment. Reports its own failures.
void GetMailItems(Form1& form, const std::shared_ptr<mailhost::Folder>& folder);

} // namespace parcelon
