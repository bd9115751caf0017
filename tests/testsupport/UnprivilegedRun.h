#pragma once

#include <QString>

namespace parcelon::test {

// Runs one test of this test program again as the user "nobody" (through
// setpriv; root reads every folder, so permission cases need another user),
// from a copy in `folder`, which that user must be able to reach. The
// environment variable `variable` is set to `value` for it. Fails the running
// test unless the child ran that one test and passed.
void runTestAsUnprivilegedUser(const QString& folder, const QString& testName, const char* variable, const QString& value);

} // namespace parcelon::test
